// Connecting to the analyzer through Linkhub: start it, open the talk
// thread, name the serial port, choose the analyzer, load the parameter
// block, set the work mode and send the reagent table.
#include "instrvela.h"

#include "linkhubstart.h"
#include "linktrace.h"
#include "replyerror.h"
#include "talkthread.h"

#include "core/serial.h"

#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QInputDialog>

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
bool InstrVela::openLink()
{
    const QDeadlineTimer deadline(linkhubStartTimeout());
    const qint64 pid = LinkhubStart::startAndWait(deadline);
    for (;;) {
        if (m_talk->open())
            return true;
        if (m_talk->socketError() != QAbstractSocket::ConnectionRefusedError || deadline.hasExpired()
            || !LinkhubStart::isRunning(pid))
            return false;
        QThread::msleep(100);
    }
}

// Names the serial port, lists the analyzers found there and selects one.
// False when the sequence failed; the last error says why (empty when the
// operator cancelled the choice).
bool InstrVela::selectAnalyzer()
{
    try {
        const QString defaultPort = Serial::EnumDevices().value(0);
        const QString port = workbench() ? workbench()->value(QStringLiteral("instrument/port"), defaultPort).toString()
                                         : defaultPort;
        sendCommand("/%02X%s", 0u, port.toLocal8Bit().constData());

        const QByteArray list = sendCommand("/%02X0", 1u);
        checkReply(list);
        const QStringList ids = QString::fromLatin1(list).split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (ids.isEmpty()) {
            setLastError(tr("没有可用设备"));
            return false;
        }
        const QString choice = ids.size() == 1 ? ids.first() : chooseInstrument(ids);
        if (choice.isEmpty())
            return false;
        m_selected = choice.toLatin1();

        checkReply(sendCommand("/%02X%s", 2u, m_selected.constData()));
    } catch (const ReplyError&) {
        return false;
    }
    if (!m_talk->isConnected()) {
        // Linkhub answers every line: no answer means the link has gone.
        setLastError(tr("与仪器的连接已断开"));
        return false;
    }
    return true;
}

void InstrVela::connectToHost()
{
    if (isConnected())
        return;
    setState(Disconnected);
    setTemperatureStable(false);

    if (!openLink()) {
        if (workbench())
            workbench()->information(m_talk->errorString(), QMessageBox::Ok);
        return;
    }
    setLastError(QString());

    if (!selectAnalyzer()) {
        m_talk->close();
        m_selected.clear();
        const QString error = lastError();
        if (!error.isEmpty() && workbench())
            workbench()->critical(error, QMessageBox::Ok);
        return;
    }

    loadParam();
    sendCommand(TqApp::tmpValue(QStringLiteral("debug/sim")).toBool() ? "FB0" : "FB1");
    setState(Connected);
    sendReagentTable();
    Instrument::connectToHost();
}

void InstrVela::disconnectFromHost()
{
    Instrument::disconnectFromHost();
    setTemperatureStable(false);
    m_talk->close();
    m_selected.clear();
    setState(Disconnected);
}
