#pragma once

#include "faultplan.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

class Assay;
class QRandomGenerator;
class Workbench;

// A worklist through the real stack (the instrument object, its talk
// thread, Linkhub, the simulated analyzer) while the simulator's faults
// strike and the host deletes assays whose tests run; at the end every assay
// is compared with the simulator's own record of its test. The list runs in
// two stages: first with the analyzer inside Linkhub, where the link itself
// fails; then with the analyzer in velasim on a pseudo-terminal, where
// Linkhub exits again and again and the analyzer outlives it.
class FaultCampaign
{
public:
    struct Options
    {
        int assays = 200;
        double speed = 60; // simulator time factor
        quint32 seed = 1;
        bool faults = true;
        bool linkFaults = true;
        int deletePercent = 4;  // of the assays, deleted while their tests run
        int timeoutSeconds = 0; // per stage; 0: from the list and the speed
        QString linkhub;        // the Linkhub program
        QString velasim;        // the velasim program
        bool verbose = false;
        // Test of the campaign itself: the assay at this place in the list
        // (from 1; 0: none) is judged as if the driver had reported that its
        // result replies could not be read, as a faulty driver would.
        int plantError = 0;
    };

    struct Tally
    {
        int assays = 0;
        int trueResults = 0;
        QMap<QString, int> errors; // explicit error results by reason
        int deleted = 0;
        int lost = 0;          // no result, no reason, or a curve cut short unsaid
        int misattributed = 0; // a result that is not its own test's
        int unexplained = 0;   // an error no fault the simulator struck with explains
        int crashes = 0;       // simulator processes that died by themselves
        int hangs = 0;         // stages that did not end within their bound
        int linkLosses = 0;    // times the driver saw the link lost
        double wallSeconds = 0;
        QStringList details; // one line per assay that is not as it should be

        int errorCount() const;
        bool meetsTarget() const;
        QString line() const;
    };

    explicit FaultCampaign(const Options& options);
    // Runs the campaign; false when it could not start a stage.
    bool run(Tally* tally, QString* error);

private:
    struct Item
    {
        QPointer<Assay> assay;
        QString sample, item, dilution, method;
        int place = 0; // in the whole list, from 1
        bool deleted = false;
        // When its test ran, as the host saw it (ms since the epoch): from
        // the last look before it was seen started to when it was seen ended.
        qint64 startedMs = 0;
        qint64 finishedMs = 0;
    };

    bool runStage(FaultPlan::Stage stage, int first, int count, const QString& truthFile, Tally* tally, QString* error);
    void buildWorklist(Workbench* workbench, int first, int count);
    bool deleteOneRunning(Workbench* workbench, QRandomGenerator* rng);
    bool allDone() const;
    void noteLives(qint64 lastLookMs, qint64 nowMs);
    void judge(const QString& truthFile, int talkTimeoutMs, Tally* tally) const;

    Options m_options;
    QList<Item> m_items; // of the stage that runs
};
