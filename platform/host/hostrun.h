#pragma once

#include "worklistfile.h"

#include <QDate>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdio>

class Assay;
class Instrument;
class Workbench;
namespace tq {
class MessageRecorder;
}

// One run of a worklist on the instrument, as the operator's host does it:
// connect, queue the assays, start the work, poll status (every 2 s) and
// temperatures (every 5 s) from the GUI thread, follow the progress, store
// each result in "data.db" as it comes (committed before the next one is
// taken), and at the end report and plot them.
//
// A resumed run (Options::resume) does not queue the entries whose result an
// earlier part of the same run stored; the report lists them with the rest,
// marked as stored earlier.
//
// A run never waits for good: it ends with a reason when the connection
// fails or drops, when no assay makes progress for the watchdog time, or
// when the whole run exceeds its bound. Both times are in real seconds and
// scale with the simulator's speed (faster simulation, shorter bounds).
class HostRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString jsonFile;       // write the results as JSON here (empty: none)
        QString curveDir;       // PNG plots go here
        double speed = 1.0;     // time scale of the simulated analyzer
        int timeoutSeconds = 0; // overall bound; 0: derived from the list and speed
        int stallSeconds = 0;   // watchdog; 0: derived from the speed
        QDate runDate;          // results are stored under it; invalid: today
        bool resume = false;    // entries with a result stored under runDate are not queued
    };

    HostRun(Workbench* workbench, Instrument* instrument, tq::MessageRecorder* recorder, const Options& options,
            QObject* parent = nullptr);
    ~HostRun() override;

    // Runs the list; returns the exit code: 0 when every assay has a result.
    int exec(const QList<WorklistEntry>& entries);

private slots:
    void onPrewarmTemperature(const QString& text);

private:
    struct Item
    {
        WorklistEntry entry;
        QPointer<Assay> assay;
        bool reported = false;
        QString key; // item key its result is stored under
        QString curveFile;
        QString storeError;
        bool earlier = false; // stored by an earlier part of the run: not queued
        double earlierValue = 0.0;
        int earlierPoints = 0;
    };

    void check();
    void fail(const QString& reason);
    void printProgress(bool force);
    bool hasResult(const Item& item) const;
    int finishedCount() const;
    bool prewarmSettled() const;
    QString recentMessages(int from) const;
    void storeResult(Item& item);
    QString resultText(const Item& item) const;
    int report(); // stores what is left, prints, writes the JSON; the exit code
    void printResults() const;
    bool writeJson(QString* error) const;
    int bound() const;
    int linkBound() const;                // s a lost link may take to come back
    static void out(const QString& text); // one line on stdout, flushed

    Workbench* m_workbench;
    Instrument* m_instrument;
    tq::MessageRecorder* m_recorder;
    Options m_options;
    QList<Item> m_items;
    QEventLoop m_loop;
    QTimer m_statusTimer;
    QTimer m_temperatureTimer;
    QTimer m_checkTimer;
    QElapsedTimer m_clock;
    qint64 m_lastProgress = 0;
    qint64 m_lastPrint = -1000000;
    int m_lastPrintedDone = -1;
    QString m_prewarm;
    QString m_failure;
    bool m_finished = false;
    bool m_connected = false;
    qint64 m_lastRestart = 0;
    qint64 m_lostSince = -1; // when the link was lost; -1 while it is up
    qint64 m_lostTotal = 0;  // ms without a link so far
    int m_linkLosses = 0;
};
