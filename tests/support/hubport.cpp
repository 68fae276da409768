#include "hubport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>

namespace testsupport {

namespace {

// Lowest port the system hands out by itself (32768 unless configured).
int automaticPortsFrom()
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int low = range.readAll().simplified().split(' ').value(0).toInt(&ok);
        if (ok && low > 2048)
            return low;
    }
    return 32768;
}

bool isFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, port);
}

} // namespace

HubPort::HubPort()
{
    next();
}

HubPort::~HubPort() = default;

quint16 HubPort::next()
{
    QFile::remove(portFile());
    m_lock.reset();
    m_port = 0;
    const int high = automaticPortsFrom();
    const int low = qMax(1024, high - 12000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(low, high));
        if (port == 32345) // the field default, which a running hub may hold
            continue;
        auto lock = std::make_unique<QLockFile>(
            QDir::temp().filePath(QStringLiteral("vela-test-port-%1.lock").arg(port)));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            continue;
        if (!isFree(port))
            continue;
        m_lock = std::move(lock);
        m_port = port;
        break;
    }
    return m_port;
}

QString HubPort::portFile() const
{
    return m_dir.filePath(QStringLiteral("linkhub.port"));
}

void HubPort::exportToEnvironment() const
{
    qputenv("VELA_LINKHUB_PORT", QByteArray::number(m_port));
    qputenv("VELA_LINKHUB_PORT_FILE", portFile().toLocal8Bit());
}

void HubPort::exportTo(QProcessEnvironment* environment) const
{
    environment->insert(QStringLiteral("VELA_LINKHUB_PORT"), QString::number(m_port));
    environment->insert(QStringLiteral("VELA_LINKHUB_PORT_FILE"), portFile());
}

bool HubPort::served() const
{
    QFile file(portFile());
    return m_port != 0 && file.open(QIODevice::ReadOnly) && file.readAll().trimmed().toInt() == m_port;
}

} // namespace testsupport
