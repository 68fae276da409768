// Connecting to the analyzer through Linkhub: start it, open the talk
// thread, name the serial port, choose the analyzer, load the parameter
// block, set the work mode and send the reagent table.
#include "instrvela.h"

#include "analyzermonitor.h"
#include "linkhubstart.h"
#include "linktrace.h"
#include "placementjournal.h"
#include "reconnectthread.h"
#include "replyerror.h"
#include "replyparser.h"
#include "talkthread.h"
#include "velaprotocol.h"
#include "workerthread.h"

#include "core/serial.h"

#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QInputDialog>
#include <QMetaObject>

#include <cstring>

namespace {
const int DefaultLinkhubStart = 15000;

InstrVela::InstrumentChooser& chooser()
{
    static InstrVela::InstrumentChooser c;
    return c;
}
} // namespace

int InstrVela::linkhubStartTimeout()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELA_LINKHUB_START_MS", &ok);
    return ok && ms > 0 ? ms : DefaultLinkhubStart;
}

void InstrVela::setInstrumentChooser(InstrumentChooser c)
{
    chooser() = std::move(c);
}

QString InstrVela::chooseInstrument(const QStringList& ids)
{
    if (chooser())
        return chooser()(ids);
    bool ok = false;
    const QString choice = QInputDialog::getItem(QApplication::activeWindow(), tr("选择仪器"),
                                                 tr("请选择一个要连接的仪器"), ids, 0, false, &ok);
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
bool InstrVela::openLink()
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
            qCWarning(lcLink).noquote() << program << "ended without a start signal on"
                                        << LinkhubStart::semaphoreKey();
        break;
    case LinkhubStart::Outcome::NoSignal:
        qCWarning(lcLink).noquote() << program << "gave no start signal on" << LinkhubStart::semaphoreKey();
        break;
    case LinkhubStart::Outcome::Signalled:
    case LinkhubStart::Outcome::NotStarted:
        break;
    }
    return open;
}

// Names the serial port, lists the analyzers found there and selects one:
// wanted when it is not empty (a reconnection: no dialog), else the only
// one or the operator's choice. The last error says why it failed (empty
// when the operator cancelled the choice).
InstrVela::LinkStep InstrVela::selectAnalyzer(const QByteArray& wanted)
{
    // Linkhub answers every control line with one line, which may be blank
    // (an empty analyzer list); only no line at all means the link has gone.
    auto control = [this](const QByteArray& line, QByteArray* reply) {
        const TalkThread::Reply r = m_talk->exchangeLine(line);
        *reply = r.line;
        if (!r.answered)
            setLastError(tr("与仪器的连接已断开"));
        return r.answered;
    };
    try {
        const QString defaultPort = Serial::EnumDevices().value(0);
        const QString port = workbench() ? workbench()->value(QStringLiteral("instrument/port"), defaultPort).toString()
                                         : defaultPort;
        QByteArray reply;
        if (!control(VelaProtocol::usePort(port.toLocal8Bit()), &reply))
            return LinkStep::Lost;

        QByteArray list;
        if (!control(VelaProtocol::listAnalyzers(), &list))
            return LinkStep::Lost;
        checkReply(list);
        const QStringList ids = ReplyParser::parseAnalyzerList(list);
        if (ids.isEmpty()) {
            setLastError(tr("没有可用设备"));
            return LinkStep::NoAnalyzer;
        }
        QString choice;
        if (!wanted.isEmpty()) {
            if (!ids.contains(QString::fromLatin1(wanted))) {
                setLastError(tr("仪器%1已不在列表中").arg(QString::fromLatin1(wanted)));
                return LinkStep::NotListed;
            }
            choice = QString::fromLatin1(wanted);
        } else {
            choice = ids.size() == 1 ? ids.first() : chooseInstrument(ids);
        }
        if (choice.isEmpty())
            return LinkStep::Cancelled;
        m_selected = choice.toLatin1();

        if (!control(VelaProtocol::selectAnalyzer(m_selected), &reply))
            return LinkStep::Lost;
        checkReply(reply);
    } catch (const ReplyError&) {
        return LinkStep::Failed;
    }
    return LinkStep::Ok;
}

void InstrVela::zeroParam()
{
    std::memset(&m_param, 0, sizeof m_param);
}

// The rest of a connection once the analyzer is selected: its parameter
// block (none rather than the previous analyzer's when it cannot be read)
// and the work mode.
void InstrVela::finishConnection()
{
    if (!loadParam())
        zeroParam();
    m_protocol.setWorkMode(TqApp::tmpValue(QStringLiteral("debug/sim")).toBool());
}

void InstrVela::connectToHost()
{
    if (isConnected())
        return;
    // The host connects anew: the retries of a lost link end first.
    m_reconnect->stop();
    m_wantLink = false;
    m_linkLost = false;
    setState(Disconnected);
    setTemperatureStable(false);

    if (!openLink()) {
        if (workbench())
            workbench()->information(m_talk->errorString(), QMessageBox::Ok);
        return;
    }
    setLastError(QString());

    const LinkStep step = selectAnalyzer(QByteArray());
    if (step != LinkStep::Ok) {
        m_talk->close();
        m_selected.clear();
        zeroParam();
        const QString error = lastError();
        if (!error.isEmpty() && workbench())
            workbench()->critical(error, QMessageBox::Ok);
        return;
    }

    finishConnection();
    openJournal();
    m_wantLink = true;
    setStatusCode(0, LinkStatusSource, QString());
    setState(Connected);
    sendReagentTable();
    Instrument::connectToHost();
}

void InstrVela::disconnectFromHost()
{
    m_wantLink = false;
    m_linkLost = false;
    ++m_linkEpoch;
    m_reconnect->stop();
    Instrument::disconnectFromHost();
    setTemperatureStable(false);
    m_talk->close();
    m_selected.clear();
    zeroParam();
    // A clean stop: what was read before is never given again.
    QString error;
    if (m_journal->isOpen() && m_journal->session() != 0 && !m_journal->endSession(&error))
        qCWarning(lcLink).noquote() << "placement journal:" << error;
    setStatusCode(0, LinkStatusSource, QString());
    setState(Disconnected);
}

// Talk thread, as the link breaks: from now on no test is placed and no
// record changes; the host hears of it in its own thread.
void InstrVela::onLinkLost()
{
    if (!m_wantLink || m_linkLost.exchange(true))
        return;
    ++m_linkEpoch;
    qCWarning(lcLink) << "link to the analyzer lost";
    QMetaObject::invokeMethod(this, [this] { showLinkLost(); }, Qt::QueuedConnection);
}

void InstrVela::showLinkLost()
{
    if (!m_wantLink || !m_linkLost)
        return;
    setState(Disconnected);
    setStatusCode(LinkLostCode, LinkStatusSource, QString());
    setTemperatureStable(false);
    // The last readings are not current any more.
    m_monitor->forgetReadings(noReadingText());
    const bool retry = !workbench() || workbench()->value(QStringLiteral("instrument/reconnect"), true).toBool();
    if (retry)
        m_reconnect->begin();
}

// Reconnect thread: one try to bring the lost link back, as at connection
// but with the analyzer chosen then and without any dialog.
int InstrVela::reconnectAttempt(int attempt)
{
    using Outcome = ReconnectThread::Outcome;
    if (!m_wantLink)
        return int(Outcome::GiveUp);
    const quint64 epoch = m_linkEpoch;
    const QByteArray wanted = m_selected;
    qCInfo(lcLink) << "reconnecting, attempt" << attempt + 1;
    m_talk->close();
    if (m_reconnect->isStopping() || !openLink())
        return int(Outcome::Failed);
    const LinkStep step = m_reconnect->isStopping() ? LinkStep::Cancelled : selectAnalyzer(wanted);
    if (step == LinkStep::Ok && !m_reconnect->isStopping()) {
        finishConnection();
        // Cleared before the link is looked at once more: a loss from here
        // on is reported as a new one.
        m_linkLost = false;
        if (sendReagentTable() && m_talk->isConnected() && !m_reconnect->isStopping()) {
            // Back in the GUI thread, unless the link went again meanwhile
            // or the host disconnected.
            QMetaObject::invokeMethod(this, [this, epoch] {
                if (!m_wantLink || m_linkLost || m_linkEpoch != epoch)
                    return;
                setStatusCode(0, LinkStatusSource, QString());
                setState(Connected);
                qCInfo(lcLink) << "link to the analyzer back";
                if (worklist())
                    m_worker->wake();
            }, Qt::QueuedConnection);
            return int(Outcome::Connected);
        }
    }
    m_linkLost = true;
    m_talk->close();
    m_selected = wanted;
    // An analyzer switched off is not listed until it is back: try again.
    if (step == LinkStep::NoAnalyzer)
        qCInfo(lcLink) << "no analyzer listed yet";
    if (step == LinkStep::NotListed) {
        const QString why = lastError();
        qCWarning(lcLink).noquote() << why << "- no more reconnection";
        QMetaObject::invokeMethod(this, [this, why] {
            if (m_wantLink)
                setStatusCode(LinkGivenUpCode, LinkStatusSource, why);
        }, Qt::QueuedConnection);
        return int(Outcome::GiveUp);
    }
    return int(Outcome::Failed);
}
