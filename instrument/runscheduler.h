#pragma once

#include "placementjournal.h"
#include "testrecord.h"

#include "core/analysisresult.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

class Assay;
class InstrVela;
class WorkerThread;

// The run scheduler: places the host's queued assays on the analyzer as
// tests, follows them to their results, releases them and ends their assays.
// It owns the worker thread that runs its passes, the lists of pending and
// running tests, the test-id counter and the placement journal, and after a
// restart it takes over the tests an earlier session left on the analyzer.
// It reaches the analyzer through the instrument object's protocol() and
// the host through the instrument's Instrument interface.
class RunScheduler
{
    // The driver's texts stay in one translation context.
    Q_DECLARE_TR_FUNCTIONS(InstrVela)

public:
    // linkLost: the link's flag; a pass keeps every record as it is while
    // it is set.
    RunScheduler(InstrVela& instrument, const std::atomic<bool>& linkLost);
    ~RunScheduler();
    RunScheduler(const RunScheduler&) = delete;
    RunScheduler& operator=(const RunScheduler&) = delete;

    // ---- run ----
    // Wakes the worker for a pass (startWork). False without a worklist.
    bool wake();
    // Stops the worker and waits for its pass to end; no pass runs after.
    void stopWorker();
    // One pass (worker thread): collect, release, place. stop is read
    // between records and may be set from any thread.
    void schedulePass(const std::atomic<bool>* stop);
    // The worker's run begins: the demonstration mode counts anew.
    void beginRun();
    bool prepareNextTest(TestRecord& record);
    bool fetchAssayResult(Assay* assay);
    int countPlaceableAssays();
    bool hasScheduledTests() const;
    // True while the worker thread runs; waitForWorker waits up to ms for it
    // to end by itself.
    bool isWorking() const;
    bool waitForWorker(int ms);
    // The records as the last pass left them. Worker thread, or any thread
    // while no pass runs.
    const QList<TestRecord>& runningTests() const { return m_running; }
    const QList<TestRecord>& pendingTests() const { return m_pending; }

    // ---- commands of one test ----
    // Command 31; replyOut, when given, receives the analyzer's reply.
    bool startTest(TestRecord& record, int* freeCount, QByteArray* replyOut = nullptr);
    // Command 34.
    bool cancelTest(quint32 id);

    // ---- results ----
    // Result of a test (command 32); when final, with its curve (command 60).
    // False while the test runs and when a query fails. assay may be null;
    // the caller keeps it alive for the call.
    bool fetchResult(quint32 id, AnalysisResult* out, Assay* assay);
    bool readCurve(quint32 id, AnalysisResult* result);

    // ---- test ids ----
    // Never 0, seeded from the seconds since midnight (or from the newest id
    // of the placement journal when that is ahead); ids the journal holds
    // unreleased are skipped. Any thread.
    quint32 nextTestId();
    // The next id handed out is last + 1.
    void seedTestIds(quint32 last) { m_testId = last; }

    // ---- placement journal (placementjournal.h) ----
    // At every connection: a journal that could not be written may be
    // writable again.
    void openJournal();
    // At a clean disconnection: what was read before is never given again.
    void endJournalSession();

    // Factor sent with a test: the reciprocal of the dilution fraction,
    // rounded half away from zero (0.5 -> 2, 0.4 -> 3); 1 without a fraction.
    static int dilutionFactor(double dilution);
    // The dilution field of command 31 has two digits.
    static constexpr int maxDilutionFactor = 99;
    // A test whose result replies do not parse this many times in a row is
    // given up with an error result and released. Replies that never came
    // (the link is down) and Linkhub's own "Err:" replies do not count.
    static constexpr int maxFailedQueries = 10;
    // After this many refusals in a row of one test the host is told through
    // the assay's message; the test is still offered at every pass.
    static constexpr int refusalNotice = 30;

private:
    enum class ResultQuery { Final, Running, Failed };
    // What the host's assay tells a result query; read before the exchanges.
    struct AssayFacts
    {
        bool present = false;
        QString item; // Assay::assay(), for its maximum clot time
        bool demonstration = false;
        AnalysisResult own; // demonstration mode: the result the assay has
    };
    // What one result query found, before anything is handed to the host.
    struct ResultReport
    {
        ResultQuery outcome = ResultQuery::Failed;
        QString reason;               // failed: why
        bool counts = false;          // failed: a reply that did not parse
        bool lost = false;            // final: the analyzer no longer knows the test
        bool curveIncomplete = false; // the result stands, its curve read failed
        bool hasPrewarmTime = false;
        int prewarmTime = 0;
        int testSeconds = 0;   // elapsed measuring time; 0: not reported
        QString testReport;    // final: the report for the assay's message
        AnalysisResult result; // final (and a final whose curve read failed)
    };
    // A journalled test of an earlier session, as reconciliation found it.
    struct RecoveredTest
    {
        enum Kind { Follow, Place, Lost, Result };
        PlacementJournal::Test test;
        Kind kind = Lost;
        bool onAnalyzer = false; // the analyzer holds it with its fields
        bool clash = false;      // never arrived, and another test holds its id
    };

    // Passes (runscheduler.cpp).
    bool collectResult(TestRecord& record);
    void placePending(const std::atomic<bool>* stop);
    void noteRefusal(TestRecord& record, const QByteArray& reply);
    void renumberTest(TestRecord& record);
    bool addDemonstrationShadow();
    // The worklist (runscheduler_worklist.cpp).
    Assay* nextPlaceableAssay(const QList<Assay*>& assays);
    bool refuseDilution(Assay* assay, int factor);
    void raiseCritical(const QString& text);
    bool isDemonstrationActive() const;
    // Results (runscheduler_results.cpp).
    static AssayFacts factsOf(const Assay* assay, bool demonstration);
    ResultReport queryResult(quint32 id, const AssayFacts& facts);
    void applyReport(const ResultReport& report, Assay* assay);
    bool readCurve(quint32 id, AnalysisResult* result, bool* linkLost);
    // Journal (runscheduler_journal.cpp): a test is placed only once it is
    // journalled, its result is kept before its assay gets it, its release
    // after the analyzer answered.
    bool ensureJournal(); // open, with a session; false: no test may be placed
    bool journalPlacing(TestRecord& record);
    void journalResult(const TestRecord& record, const AnalysisResult& result, const QString& report);
    void journalRelease(quint32 testId, const QString& reason);
    void journalBroken(const QString& error);
    // After a restart (runscheduler_recovery.cpp).
    static int orphanGrace();
    bool reconcileJournal(const std::atomic<bool>* stop);
    void claimRecovered();
    void releaseOrphans();
    void giveJournalResult(Assay* assay, const PlacementJournal::Test& test);

    InstrVela& m_instrument;
    const std::atomic<bool>& m_linkLost;
    WorkerThread* m_worker = nullptr;
    std::atomic<quint32> m_testId{0};

    QList<TestRecord> m_running;        // worker thread only
    QList<TestRecord> m_pending;        // worker thread only
    int m_finishedLead = 0;             // leading worklist assays known finished
    QPointer<Assay> m_finishedLeadMark; // the last of them

    std::unique_ptr<PlacementJournal> m_journal;
    std::atomic<bool> m_journalBroken{false}; // placement stopped until the next connection
    QMutex m_journalMutex;                    // opening the journal
    std::atomic<bool> m_reconcileDue{false};  // a session began: ask for its earlier tests
    QList<RecoveredTest> m_recovered;         // worker thread only
    QList<PlacementJournal::Test> m_givable;  // worker thread only
    QElapsedTimer m_reconciledAt;             // worker thread only
};
