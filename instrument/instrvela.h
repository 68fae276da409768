#pragma once

#include "analyzerlink.h"
#include "analyzerprotocol.h"
#include "runscheduler.h"
#include "testrecord.h"

#include "core/analysisresult.h"

#include <tqcore/instrument.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class AnalyzerMonitor;
class Blink;
class QMainWindow;
class Resource;
class ResourceManager;
class TalkThread;
class Workbench;

// Parameter block of the analyzer, kept in analyzer memory at address 0.
struct ParamBlock
{
    quint32 size;         // 8 when valid
    quint32 disabledMask; // bit i set: measuring channel i+1 disabled
};
static_assert(sizeof(ParamBlock) == 8, "the analyzer stores the block as 8 bytes");

// Driver of one analyzer model: the object the host holds. The analyzer is
// reached through Linkhub over the talk thread; every command is one
// operation of protocol(), which builds it and exchanges it there. The
// object forwards to its parts: the link (AnalyzerLink: Linkhub, talk
// thread, reconnection), the monitor (AnalyzerMonitor: status, sensors,
// temperatures) and the run scheduler (RunScheduler: placement, results,
// release, the placement journal). ARCHITECTURE.md maps them.
class InstrVela : public Instrument
{
    Q_OBJECT

public:
    enum { ChannelCount = 10 };

    explicit InstrVela(Workbench* workbench);
    ~InstrVela() override;

    // Host operations.
    void createResources(ResourceManager* rm) override;
    bool hasFeature(int feature) const override;
    void connectToHost() override;
    void disconnectFromHost() override;
    void* paramData() override;
    void setParamData(const void* block) override;
    QIODevice* createParamDevice(QIODevice::OpenMode mode) override;
    void addOptionPages(OptionFrame* frame) override;
    void setupStatusBar(QMainWindow* window) override;
    void showManualTest() override;
    void pollStatus() override;
    void pollTemperatures() override;
    bool startWork() override;
    void haltWork() override;
    bool reset() override;
    void runModuleSequence() override;
    bool sendReagentTable() override;
    void readReagentVolumes() override;
    void beginAssay(Assay* assay) override;
    void endAssay(Assay* assay, bool ok) override;

    // Test ids (RunScheduler::nextTestId). Any thread.
    quint32 nextTestId();
    QString defaultMethod() const { return m_defaultMethod; }
    void setTemperatureStable(bool stable);
    bool isTemperatureStable() const;
    // The parameter block of no analyzer: all zero, not valid.
    void clearParam();
    // Channels 0..9 (the analyzer counts them 1..10).
    bool isChannelEnabled(int i);
    bool setChannelEnabled(int i, bool on);

    // The analyzer's commands as typed operations, exchanged through the
    // talk thread. Any thread.
    const AnalyzerProtocol& protocol() const { return m_protocol; }
    // Command exchange for the host: formats printf-style (at most 511
    // characters) and returns the reply; empty bytes when the link is down.
    QByteArray sendCommand(const char* format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);
    // True for an error reply ("Err:...", "XX...", "32XX..."); it becomes
    // the last error.
    bool isErrorReply(const QByteArray& reply);
    // Throws ReplyError on an error reply (caught by the operation that
    // began the command sequence).
    void checkReply(const QByteArray& reply);
    QString lastError() const;
    void setLastError(const QString& text);

    // Command set: placing (31) and releasing (34) one test; see RunScheduler.
    // replyOut, when given, receives the analyzer's reply.
    bool startTest(TestRecord& record, int* freeCount, QByteArray* replyOut = nullptr);
    bool cancelTest(quint32 id);
    bool waitModuleIdle(int module);

    // ---- link (analyzerlink.h) ----
    QByteArray selectedInstrument() const { return m_link->selectedInstrument(); }
    TalkThread* talkThread() const { return m_link->talkThread(); }
    // A link that breaks while the host is connected (connectToHost, no
    // disconnectFromHost since) is seen: state 0, the status message below
    // on its own source, no tests placed, every test record kept; the
    // driver then reconnects by itself ("instrument/reconnect", default
    // true) to the analyzer chosen at the first connection.
    static constexpr int LinkLostCode = 0x20001;
    // In place of LinkLostCode once the analyzer chosen at the first
    // connection is no longer listed: no more retries.
    static constexpr int LinkGivenUpCode = 0x20002;
    static constexpr int LinkStatusSource = 512;
    // Test records stay as they are while this is true.
    bool isLinkLost() const { return m_link->isLost(); }
    // Text shown in place of a temperature while the link is down.
    static QString noReadingText() { return QStringLiteral("--"); }

    // Picks one of several analyzers during connection; an empty answer
    // cancels. The default asks with a QInputDialog parented to the active
    // window. Tests and headless hosts may install their own (empty function:
    // the default again).
    using InstrumentChooser = AnalyzerLink::InstrumentChooser;
    static void setInstrumentChooser(InstrumentChooser chooser)
    {
        AnalyzerLink::setInstrumentChooser(std::move(chooser));
    }

    // Bounds of the connection start-up: waiting for Linkhub's semaphore and
    // retrying a refused connection (VELA_LINKHUB_START_MS, default 15 000),
    // and of waitModuleIdle (VELA_MODULE_WAIT_MS, default 120 000).
    static int linkhubStartTimeout() { return AnalyzerLink::linkhubStartTimeout(); }
    static int moduleWaitTimeout();

    // ---- run scheduler (runscheduler.h) ----
    // The scheduler part: its worker, its records, the placement journal.
    RunScheduler& scheduler() { return *m_scheduler; }
    const RunScheduler& scheduler() const { return *m_scheduler; }
    // Result of a test (command 32); when final, with its curve (command 60).
    // False while the test runs and when a query fails. assay may be null;
    // the caller keeps it alive for the call.
    bool fetchResult(quint32 id, AnalysisResult* out, Assay* assay);
    // One pass of the run scheduler (worker thread): collect, release, place.
    void schedulePass(const std::atomic<bool>* stop);
    bool prepareNextTest(TestRecord& record);
    bool fetchAssayResult(Assay* assay);
    int countPlaceableAssays();
    bool hasScheduledTests() const;
    static int dilutionFactor(double dilution) { return RunScheduler::dilutionFactor(dilution); }

    // ---- monitoring (analyzermonitor.h) ----
    // The nine zone temperatures last read (zone i+1 at index i) and the
    // texts of the last temperature reply, for windows that open after the
    // poll. Any thread.
    QVector<float> temperatures() const;
    QStringList lastTemperatureTexts() const;
    // Readings of zone 1 gathered while it has not settled (at most 40).
    int temperatureHistorySize() const;
    // Makes the zone-1 label of the status bar blink until the zone settles.
    const Blink* temperatureBlink() const;
    // The test-id counter: the next id handed out is last + 1.
    void seedTestIds(quint32 last);

signals:
    void temp1Changed(QString temp);
    void temp2Changed(QString temp);
    void temp3Changed(QString temp);
    void temp4Changed(QString temp);
    void temp5Changed(QString temp);
    void temp6Changed(QString temp);
    void temp7Changed(QString temp);
    void temp8Changed(QString temp);
    void temp9Changed(QString temp);

private:
    void emitTemperatureText(int zone, const QString& text);

    AnalyzerMonitor* m_monitor = nullptr; // status, sensors, temperatures; a child

    // Reagents included in the reagent table, grouped by name (ascending).
    QList<QPair<QString, QList<Resource*>>> reagentGroups() const;

    mutable QMutex m_errorMutex; // the last error is kept per calling thread
    QHash<Qt::HANDLE, QString> m_lastErrors;
    AnalyzerLink* const m_link; // Linkhub, the talk thread, reconnection; a child
    QString m_defaultMethod;
    ParamBlock m_param;
    // One line to the analyzer; a longer line than the analyzer's buffer
    // takes is not sent and gets an error reply.
    static constexpr int MaxCommandLength = 511;
    QByteArray exchange(const QByteArray& line);
    QByteArray refuseCommand(int length);
    AnalyzerProtocol m_protocol{[this](const QByteArray& line) { return exchange(line); }};
    // Declared last: it stops its worker before the rest goes.
    std::unique_ptr<RunScheduler> m_scheduler;
};
