#pragma once

#include "faultplan.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>

class Assay;
class InstrVela;
class Workbench;

// A worklist through the real stack (the instrument object, its talk
// thread, Linkhub on its simulated port) while the simulator's faults strike
// and the host deletes assays whose tests run; at the end every assay is
// compared with the simulator's own record of its test.
class FaultCampaign
{
public:
    struct Options
    {
        int assays = 200;
        double speed = 60;        // simulator time factor
        quint32 seed = 1;
        bool faults = true;
        bool linkFaults = true;
        int deletePercent = 4;    // of the assays, deleted while their tests run
        int timeoutSeconds = 0;   // 0: from the list and the speed
        QString linkhub;          // the Linkhub program
        bool verbose = false;
    };

    struct Tally
    {
        int assays = 0;
        int trueResults = 0;
        QMap<QString, int> errors; // explicit error results by reason
        int deleted = 0;
        int lost = 0;              // no result, no reason, or a curve cut short unsaid
        int misattributed = 0;     // a result that is not its own test's
        int crashes = 0;
        bool hang = false;         // the run did not end within its bound
        double wallSeconds = 0;
        QStringList details;       // one line per assay that is not as it should be

        int errorCount() const;
        bool meetsTarget() const;
        QString line() const;
    };

    explicit FaultCampaign(const Options& options);
    // Runs the campaign; false when it could not start (no connection).
    bool run(Tally* tally, QString* error);

private:
    struct Item
    {
        QPointer<Assay> assay;
        QString sample, item, dilution, method;
        quint32 testId = 0;
        bool deleted = false;
    };

    void buildWorklist(Workbench* workbench);
    void deleteOneRunning(Workbench* workbench);
    bool allDone() const;
    void judge(const QString& truthFile, Tally* tally) const;

    Options m_options;
    QList<Item> m_items;
    int m_deleted = 0;
};
