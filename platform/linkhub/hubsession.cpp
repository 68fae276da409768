#include "platform/linkhub/hubsession.h"

#include "platform/linewire/wiretrace.h"
#include "platform/linkhub/simport.h"
#include "sim/simtruth.h"

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

namespace {

QList<SimFault> strayFaults(const QList<SimFault>& faults)
{
    QList<SimFault> strays;
    for (const SimFault& f : faults) {
        if (f.kind == SimFault::Stray)
            strays << f;
    }
    return strays;
}

} // namespace

HubSession::HubSession(const HubOptions& options, WireTrace* trace)
    : m_options(options)
    , m_trace(trace)
    , m_strays(strayFaults(options.sim.faults))
{
}

HubSession::~HubSession() = default;

QString HubSession::portFor(const QByteArray& requested)
{
    const QString name = QString::fromUtf8(requested.trimmed());
    // No port configured and none on the machine: the simulated analyzers.
    if (name.isEmpty() || name.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("SIM");
    return name;
}

HubReply HubSession::handleLine(const QByteArray& line)
{
    HubReply reply = answer(line);
    // The lines that follow (this reply among them) concern the analyzer
    // selected now.
    if (m_trace)
        m_trace->setAnalyzer(m_selected);
    return reply;
}

HubReply HubSession::answer(const QByteArray& line)
{
    if (line.isEmpty())
        return HubReply::error("empty request line");
    if (line.startsWith('/'))
        return control(line);
    if (!m_port)
        return HubReply::error("no port open");
    if (m_selected.isEmpty())
        return HubReply::error("no analyzer selected");

    HubReply reply = m_port->exchange(m_selected, line);
    if (!m_port->isUsable()) {
        closePort();
    } else if (m_port->name() != QLatin1String("SIM") && reply.action == HubReply::Send) {
        if (const SimFault* stray = m_strays.next(line.left(2))) {
            reply.stray = reply.line;
            reply.strayDelayMs = stray->delayMs;
            simtruth::recordStrike(SimFault::kindName(stray->kind).toLatin1(), line, stray->delayMs);
        }
    }
    return reply;
}

void HubSession::clientLeft()
{
    m_selected.clear();
    if (m_trace)
        m_trace->setAnalyzer(m_selected);
}

HubReply HubSession::control(const QByteArray& line)
{
    if (line.size() < 3 || !isHexDigit(line.at(1)) || !isHexDigit(line.at(2)))
        return HubReply::error("unknown control line");
    bool ok = false;
    const int code = line.mid(1, 2).toInt(&ok, 16);
    const QByteArray argument = line.mid(3);
    switch (code) {
    case 0: return openPort(argument);
    case 1: return listAnalyzers();
    case 2: return selectAnalyzer(argument.trimmed());
    default: return HubReply::error("unknown control line /" + line.mid(1, 2));
    }
}

HubReply HubSession::openPort(const QByteArray& requested)
{
    const QString name = portFor(requested);
    if (m_port && m_port->name() == name) {
        m_selected.clear();
        return HubReply::send("/00OK");
    }
    closePort();

    if (name == QLatin1String("SIM")) {
        m_port = std::make_unique<SimPort>(m_options.sim, m_options.timeouts);
    } else {
        auto serial = std::make_unique<SerialPort>(m_options.serial, m_options.timeouts, m_trace);
        QByteArray error;
        if (!serial->open(name, &error))
            return HubReply::error(error);
        m_port = std::move(serial);
    }
    if (m_trace)
        m_trace->note(QStringLiteral("port %1 open").arg(name));
    return HubReply::send("/00OK");
}

HubReply HubSession::listAnalyzers()
{
    if (!m_port)
        return HubReply::error("no port open");
    QList<QByteArray> ids;
    QByteArray error;
    const bool found = m_port->listAnalyzers(&ids, &error);
    if (!m_port->isUsable()) {
        closePort();
        return HubReply::error(error);
    }
    if (!found)
        return HubReply::error(error);
    m_ids = ids;
    m_listed = true;
    if (!m_ids.contains(m_selected))
        m_selected.clear();
    return HubReply::send(m_ids.join(','));
}

HubReply HubSession::selectAnalyzer(const QByteArray& id)
{
    if (!m_port)
        return HubReply::error("no port open");
    if (id.isEmpty())
        return HubReply::error("no analyzer named");
    if (!m_listed) {
        const HubReply listed = listAnalyzers();
        if (!m_listed)
            return listed;
    }
    if (!m_ids.contains(id))
        return HubReply::error("unknown analyzer " + id);
    m_selected = id;
    return HubReply::send("/02OK");
}

void HubSession::closePort()
{
    if (m_port && m_trace)
        m_trace->note(QStringLiteral("port %1 closed").arg(m_port->name()));
    m_port.reset();
    m_ids.clear();
    m_listed = false;
    m_selected.clear();
}
