// Connecting to the analyzer through Linkhub: start it, open the talk
// thread, name the serial port, choose the analyzer, load the parameter
// block and set the work mode; and bringing a lost link back.
//
// The link's texts keep the instrument's translation context (InstrVela::tr).
#include "analyzerlink.h"

#include "instrvela.h"
#include "linkhubstart.h"
#include "linktrace.h"
#include "reconnectthread.h"
#include "replyerror.h"
#include "replyparser.h"
#include "talkthread.h"
#include "velaprotocol.h"

#include "core/serial.h"

#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QInputDialog>
#include <QMetaObject>

namespace {
const int DefaultLinkhubStart = 15000;

AnalyzerLink::InstrumentChooser& chooser()
{
    static AnalyzerLink::InstrumentChooser c;
    return c;
}
} // namespace

AnalyzerLink::AnalyzerLink(InstrVela* instrument)
    : QObject(instrument)
    , m_instrument(instrument)
{
    m_talk = new TalkThread(instrument);
    m_talk->setLinkLostHandler([this] { onLost(); });
    m_reconnect = new ReconnectThread(
        [this](int attempt) { return ReconnectThread::Outcome(reconnectAttempt(attempt)); }, this);
    instrument->addMessage(InstrVela::LinkLostCode, 2, InstrVela::tr("与仪器的连接已断开"));
    instrument->addMessage(InstrVela::LinkGivenUpCode, 2,
                           InstrVela::tr("与仪器的连接已断开，所选仪器已不在列表中，不再自动重新连接"));
}

AnalyzerLink::~AnalyzerLink()
{
    stopRetrying();
}

int AnalyzerLink::linkhubStartTimeout()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELA_LINKHUB_START_MS", &ok);
    return ok && ms > 0 ? ms : DefaultLinkhubStart;
}

void AnalyzerLink::setInstrumentChooser(InstrumentChooser c)
{
    chooser() = std::move(c);
}

QString AnalyzerLink::chooseInstrument(const QStringList& ids)
{
    if (chooser())
        return chooser()(ids);
    bool ok = false;
    const QString choice = QInputDialog::getItem(QApplication::activeWindow(), InstrVela::tr("选择仪器"),
                                                 InstrVela::tr("请选择一个要连接的仪器"), ids, 0, false, &ok);
    return ok ? choice : QString();
}

// Starts Linkhub and opens the talk thread. Within the start-up bound, and
// while the program started runs, a refused connection is tried again: a
// count left on the semaphore by an earlier run lets the wait pass before
// the new Linkhub listens.
//
// The Linkhub started may end at once without a start signal: at a
// reconnection the one started before still serves the port, and the new
// one leaves it to that. Only when no connection comes of it is that a
// fault worth a warning.
bool AnalyzerLink::openLinkhub()
{
    const QDeadlineTimer deadline(linkhubStartTimeout());
    const LinkhubStart::Started started = LinkhubStart::startAndWait(deadline);
    bool open = false;
    for (;;) {
        if ((open = m_talk->open()))
            break;
        if (m_talk->socketError() != QAbstractSocket::ConnectionRefusedError || deadline.hasExpired()
            || !LinkhubStart::isRunning(started.pid))
            break;
        QThread::msleep(100);
    }
    const QString program = LinkhubStart::program();
    switch (started.outcome) {
    case LinkhubStart::Outcome::Ended:
        if (open)
            qCDebug(lcLink).noquote() << program << "pid" << started.pid
                                      << "ended at once: another Linkhub serves the port";
        else
            qCWarning(lcLink).noquote() << program << "ended without a start signal on" << LinkhubStart::semaphoreKey();
        break;
    case LinkhubStart::Outcome::NoSignal:
        qCWarning(lcLink).noquote() << program << "gave no start signal on" << LinkhubStart::semaphoreKey();
        break;
    case LinkhubStart::Outcome::Signalled:
    case LinkhubStart::Outcome::NotStarted: break;
    }
    return open;
}

// Names the serial port, lists the analyzers found there and selects one:
// wanted when it is not empty (a reconnection: no dialog), else the only
// one or the operator's choice. The last error says why it failed (empty
// when the operator cancelled the choice).
AnalyzerLink::Step AnalyzerLink::selectAnalyzer(const QByteArray& wanted)
{
    // Linkhub answers every control line with one line, which may be blank
    // (an empty analyzer list); only no line at all means the link has gone.
    auto control = [this](const QByteArray& line, QByteArray* reply) {
        const TalkThread::Reply r = m_talk->exchangeLine(line);
        *reply = r.line;
        if (!r.answered)
            m_instrument->setLastError(InstrVela::tr("与仪器的连接已断开"));
        return r.answered;
    };
    try {
        Workbench* workbench = m_instrument->workbench();
        const QString defaultPort = Serial::EnumDevices().value(0);
        const QString port = workbench ? workbench->value(QStringLiteral("instrument/port"), defaultPort).toString()
                                       : defaultPort;
        QByteArray reply;
        if (!control(VelaProtocol::usePort(port.toLocal8Bit()), &reply))
            return Step::Lost;

        QByteArray list;
        if (!control(VelaProtocol::listAnalyzers(), &list))
            return Step::Lost;
        m_instrument->checkReply(list);
        const QStringList ids = ReplyParser::parseAnalyzerList(list);
        if (ids.isEmpty()) {
            m_instrument->setLastError(InstrVela::tr("没有可用设备"));
            return Step::NoAnalyzer;
        }
        QString choice;
        if (!wanted.isEmpty()) {
            if (!ids.contains(QString::fromLatin1(wanted))) {
                m_instrument->setLastError(InstrVela::tr("仪器%1已不在列表中").arg(QString::fromLatin1(wanted)));
                return Step::NotListed;
            }
            choice = QString::fromLatin1(wanted);
        } else {
            choice = ids.size() == 1 ? ids.first() : chooseInstrument(ids);
        }
        if (choice.isEmpty())
            return Step::Cancelled;
        m_selected = choice.toLatin1();

        if (!control(VelaProtocol::selectAnalyzer(m_selected), &reply))
            return Step::Lost;
        m_instrument->checkReply(reply);
    } catch (const ReplyError&) {
        return Step::Failed;
    }
    return Step::Ok;
}

// The rest of a connection once the analyzer is selected: its parameter
// block (none rather than the previous analyzer's when it cannot be read)
// and the work mode.
void AnalyzerLink::finishConnection()
{
    if (!m_instrument->loadParam())
        m_instrument->clearParam();
    m_instrument->protocol().setWorkMode(TqApp::tmpValue(QStringLiteral("debug/sim")).toBool());
}

bool AnalyzerLink::open()
{
    // The host connects anew: the retries of a lost link end first.
    m_reconnect->stop();
    m_wanted = false;
    m_lost = false;
    m_instrument->setState(InstrVela::Disconnected);
    m_instrument->setTemperatureStable(false);

    Workbench* workbench = m_instrument->workbench();
    if (!openLinkhub()) {
        if (workbench)
            workbench->information(m_talk->errorString(), QMessageBox::Ok);
        return false;
    }
    m_instrument->setLastError(QString());

    if (selectAnalyzer(QByteArray()) != Step::Ok) {
        m_talk->close();
        m_selected.clear();
        m_instrument->clearParam();
        const QString error = m_instrument->lastError();
        if (!error.isEmpty() && workbench)
            workbench->critical(error, QMessageBox::Ok);
        return false;
    }
    finishConnection();
    return true;
}

void AnalyzerLink::setWanted()
{
    m_wanted = true;
}

void AnalyzerLink::stopRetrying()
{
    m_wanted = false;
    m_reconnect->stop();
}

void AnalyzerLink::close()
{
    stopRetrying();
    m_lost = false;
    ++m_epoch;
    m_talk->close();
    m_selected.clear();
}

// Talk thread, as the link breaks: from now on no test is placed and no
// record changes; the host hears of it in its own thread.
void AnalyzerLink::onLost()
{
    if (!m_wanted || m_lost.exchange(true))
        return;
    ++m_epoch;
    qCWarning(lcLink) << "link to the analyzer lost";
    QMetaObject::invokeMethod(
        this, [this] { showLost(); }, Qt::QueuedConnection);
}

void AnalyzerLink::showLost()
{
    if (!m_wanted || !m_lost)
        return;
    m_instrument->setState(InstrVela::Disconnected);
    m_instrument->setStatusCode(InstrVela::LinkLostCode, InstrVela::LinkStatusSource, QString());
    m_instrument->setTemperatureStable(false);
    emit lost();
    Workbench* workbench = m_instrument->workbench();
    const bool retry = !workbench || workbench->value(QStringLiteral("instrument/reconnect"), true).toBool();
    if (retry)
        m_reconnect->begin();
}

// Reconnect thread: one try to bring the lost link back, as at connection
// but with the analyzer chosen then and without any dialog.
int AnalyzerLink::reconnectAttempt(int attempt)
{
    using Outcome = ReconnectThread::Outcome;
    if (!m_wanted)
        return int(Outcome::GiveUp);
    const quint64 epoch = m_epoch;
    const QByteArray wanted = m_selected;
    qCInfo(lcLink) << "reconnecting, attempt" << attempt + 1;
    m_talk->close();
    if (m_reconnect->isStopping() || !openLinkhub())
        return int(Outcome::Failed);
    const Step step = m_reconnect->isStopping() ? Step::Cancelled : selectAnalyzer(wanted);
    if (step == Step::Ok && !m_reconnect->isStopping()) {
        finishConnection();
        // Cleared before the link is looked at once more: a loss from here
        // on is reported as a new one.
        m_lost = false;
        if (m_instrument->sendReagentTable() && m_talk->isConnected() && !m_reconnect->isStopping()) {
            // Back in the GUI thread, unless the link went again meanwhile
            // or the host disconnected.
            QMetaObject::invokeMethod(
                this,
                [this, epoch] {
                    if (!m_wanted || m_lost || m_epoch != epoch)
                        return;
                    m_instrument->setStatusCode(0, InstrVela::LinkStatusSource, QString());
                    m_instrument->setState(InstrVela::Connected);
                    qCInfo(lcLink) << "link to the analyzer back";
                    // The work left off resumes.
                    m_instrument->startWork();
                },
                Qt::QueuedConnection);
            return int(Outcome::Connected);
        }
    }
    m_lost = true;
    m_talk->close();
    m_selected = wanted;
    // An analyzer switched off is not listed until it is back: try again.
    if (step == Step::NoAnalyzer)
        qCInfo(lcLink) << "no analyzer listed yet";
    if (step == Step::NotListed) {
        const QString why = m_instrument->lastError();
        qCWarning(lcLink).noquote() << why << "- no more reconnection";
        QMetaObject::invokeMethod(
            this,
            [this, why] {
                if (m_wanted)
                    m_instrument->setStatusCode(InstrVela::LinkGivenUpCode, InstrVela::LinkStatusSource, why);
            },
            Qt::QueuedConnection);
        return int(Outcome::GiveUp);
    }
    return int(Outcome::Failed);
}
