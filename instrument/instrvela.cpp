#include "instrvela.h"

#include "analyzermonitor.h"
#include "commandcodec.h"
#include "instrvelafile.h"
#include "linktrace.h"
#include "replyerror.h"
#include "talkthread.h"

#include <tqcore/resource.h>
#include <tqcore/workbench.h>

#include <QMutexLocker>

#include <cstdarg>
#include <cstdio>
#include <cstring>

InstrVela::InstrVela(Workbench* workbench)
    : Instrument(workbench)
    , m_link(new AnalyzerLink(this))
{
    clearParam();

    m_monitor = new AnalyzerMonitor(this);
    // Direct: the zone signals leave in the polling thread, as the polls do.
    connect(m_monitor, &AnalyzerMonitor::temperatureChanged, this, &InstrVela::emitTemperatureText,
            Qt::DirectConnection);
    // A lost link leaves no reading on show.
    connect(m_link, &AnalyzerLink::lost, this, [this] { m_monitor->forgetReadings(noReadingText()); });

    if (workbench)
        m_defaultMethod = workbench->instrInfo().value(QStringLiteral("method")).toStringList().value(0);

    m_scheduler = std::make_unique<RunScheduler>(*this, m_link->lostFlag());
}

InstrVela::~InstrVela()
{
    m_link->stopRetrying();
    m_scheduler->stopWorker();
    m_link->close();
}

void InstrVela::connectToHost()
{
    if (isConnected())
        return;
    if (!m_link->open())
        return;
    m_scheduler->openJournal();
    m_link->setWanted();
    setStatusCode(0, LinkStatusSource, QString());
    setState(Connected);
    sendReagentTable();
    Instrument::connectToHost();
}

void InstrVela::disconnectFromHost()
{
    m_link->close();
    Instrument::disconnectFromHost();
    setTemperatureStable(false);
    clearParam();
    // A clean stop: what was read before is never given again.
    m_scheduler->endJournalSession();
    setStatusCode(0, LinkStatusSource, QString());
    setState(Disconnected);
}

// ---- the run scheduler's operations, as the host and the windows call them

bool InstrVela::startWork()
{
    return m_scheduler->wake();
}

void InstrVela::haltWork() { }

quint32 InstrVela::nextTestId()
{
    return m_scheduler->nextTestId();
}

void InstrVela::seedTestIds(quint32 last)
{
    m_scheduler->seedTestIds(last);
}

bool InstrVela::startTest(TestRecord& record, int* freeCount, QByteArray* replyOut)
{
    return m_scheduler->startTest(record, freeCount, replyOut);
}

bool InstrVela::cancelTest(quint32 id)
{
    return m_scheduler->cancelTest(id);
}

bool InstrVela::fetchResult(quint32 id, AnalysisResult* out, Assay* assay)
{
    return m_scheduler->fetchResult(id, out, assay);
}

void InstrVela::schedulePass(const std::atomic<bool>* stop)
{
    m_scheduler->schedulePass(stop);
}

bool InstrVela::prepareNextTest(TestRecord& record)
{
    return m_scheduler->prepareNextTest(record);
}

bool InstrVela::fetchAssayResult(Assay* assay)
{
    return m_scheduler->fetchAssayResult(assay);
}

int InstrVela::countPlaceableAssays()
{
    return m_scheduler->countPlaceableAssays();
}

bool InstrVela::hasScheduledTests() const
{
    return m_scheduler->hasScheduledTests();
}

void InstrVela::createResources(ResourceManager* rm)
{
    if (!rm || !workbench() || !workbench()->reagentManager())
        return;
    struct Permanent
    {
        const char* name;
        int type;
        const char* position;
    };
    static const Permanent permanents[] = {{"Buffer", 2, "Z1"}, {"Rinse", 3, "Z2"}};
    for (const Permanent& p : permanents) {
        Reagent* reagent = workbench()->reagentManager()->createReagent(workbench(), QString::fromLatin1(p.name), rm);
        if (!reagent)
            continue;
        reagent->setType(p.type);
        rm->addResource(reagent);
        reagent->moveTo(QString::fromLatin1(p.position));
        reagent->setPermanent(true);
    }
}

bool InstrVela::hasFeature(int feature) const
{
    if (feature == 0 || feature == 1)
        return true;
    return Instrument::hasFeature(feature);
}

void* InstrVela::paramData()
{
    return &m_param;
}

void InstrVela::setParamData(const void* block)
{
    if (!block)
        return;
    ParamBlock param;
    std::memcpy(&param, block, sizeof param);
    if (param.size == 0 || param.size > sizeof param) {
        std::memset(&param, 0, sizeof param);
    } else {
        // An older, shorter block keeps its first size bytes.
        std::memset(reinterpret_cast<char*>(&param) + param.size, 0, sizeof param - param.size);
        param.size = sizeof param;
    }
    m_param = param;
}

void InstrVela::clearParam()
{
    std::memset(&m_param, 0, sizeof m_param);
}

QIODevice* InstrVela::createParamDevice(QIODevice::OpenMode mode)
{
    InstrVelaFile* file = new InstrVelaFile(this);
    file->open(mode);
    return file;
}

bool InstrVela::isChannelEnabled(int i)
{
    if (!isValidParam())
        return true;
    if (i < 0 || i >= 32)
        return false;
    return !(m_param.disabledMask & (1u << i));
}

bool InstrVela::setChannelEnabled(int i, bool on)
{
    if (i < 0 || i >= ChannelCount)
        return false;
    if (on)
        m_param.disabledMask &= ~(1u << i);
    else
        m_param.disabledMask |= 1u << i;
    const QByteArray reply = m_protocol.switchChannel(i + 1, on);
    // No reply at all (the link is down) is a failure too, not a switched well.
    if (reply.isEmpty()) {
        setLastError(tr("与仪器的连接已断开"));
        return false;
    }
    return !isErrorReply(reply);
}

bool InstrVela::reset()
{
    if (!Instrument::reset() || !isValidParam())
        return false;
    for (int i = 0; i < ChannelCount; ++i)
        setChannelEnabled(i, isChannelEnabled(i));
    return true;
}

void InstrVela::setTemperatureStable(bool stable)
{
    m_monitor->setTemperatureStable(stable);
}

bool InstrVela::isTemperatureStable() const
{
    return m_monitor->isTemperatureStable();
}

void InstrVela::pollStatus()
{
    m_monitor->pollStatus();
}

void InstrVela::pollTemperatures()
{
    m_monitor->pollTemperatures();
}

void InstrVela::setupStatusBar(QMainWindow* window)
{
    m_monitor->setupStatusBar(window);
}

QVector<float> InstrVela::temperatures() const
{
    return m_monitor->temperatures();
}

QStringList InstrVela::lastTemperatureTexts() const
{
    return m_monitor->lastTemperatureTexts();
}

int InstrVela::temperatureHistorySize() const
{
    return m_monitor->historySize();
}

const Blink* InstrVela::temperatureBlink() const
{
    return m_monitor->blink();
}

void InstrVela::emitTemperatureText(int zone, const QString& text)
{
    switch (zone) {
    case 1: emit temp1Changed(text); break;
    case 2: emit temp2Changed(text); break;
    case 3: emit temp3Changed(text); break;
    case 4: emit temp4Changed(text); break;
    case 5: emit temp5Changed(text); break;
    case 6: emit temp6Changed(text); break;
    case 7: emit temp7Changed(text); break;
    case 8: emit temp8Changed(text); break;
    case 9: emit temp9Changed(text); break;
    default: break;
    }
}

void InstrVela::beginAssay(Assay* assay)
{
    Instrument::beginAssay(assay);
}

void InstrVela::endAssay(Assay* assay, bool ok)
{
    Instrument::endAssay(assay, ok);
}

QByteArray InstrVela::sendCommand(const char* format, ...)
{
    char buffer[MaxCommandLength + 1];
    va_list args;
    va_start(args, format);
    const int n = vformatCommand(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0 || n > MaxCommandLength)
        return refuseCommand(n);
    return exchange(QByteArray(buffer, n));
}

QByteArray InstrVela::exchange(const QByteArray& line)
{
    if (line.size() > MaxCommandLength)
        return refuseCommand(int(line.size()));
    return m_link->talkThread()->talk(line);
}

QByteArray InstrVela::refuseCommand(int length)
{
    // A cut command would reach the analyzer as a different one.
    qCWarning(lcLink) << "command text too long, not sent:" << length << "characters";
    const QByteArray reply("Err: command text too long, not sent");
    setLastError(QString::fromLatin1(reply));
    return reply;
}

bool InstrVela::isErrorReply(const QByteArray& reply)
{
    if (!matchesErrorReply(reply))
        return false;
    setLastError(QString::fromLatin1(reply));
    return true;
}

void InstrVela::checkReply(const QByteArray& reply)
{
    if (isErrorReply(reply))
        throw ReplyError(reply);
}

// The last error belongs to the thread that met it: an error reply the
// worker or the manual-test poller got never shows up in a box of the GUI
// thread's connect, page or dialog.
QString InstrVela::lastError() const
{
    QMutexLocker lock(&m_errorMutex);
    return m_lastErrors.value(QThread::currentThreadId());
}

void InstrVela::setLastError(const QString& text)
{
    const Qt::HANDLE thread = QThread::currentThreadId();
    QMutexLocker lock(&m_errorMutex);
    // Threads come and go (the worker starts again for every run): keep a
    // handful, the caller's own among them.
    if (m_lastErrors.size() >= 16 && !m_lastErrors.contains(thread))
        m_lastErrors.clear();
    m_lastErrors.insert(thread, text);
}
