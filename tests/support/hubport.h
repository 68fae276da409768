#pragma once

#include <QLockFile>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

// A TCP port for a Linkhub that the code under test starts itself, so that
// the port has to be known before the start. Ports come from below the
// system's range of automatic ports (servers that bind port 0 and outgoing
// connections never take them), and each is reserved across processes with
// a lock file while this object holds it, so that two tests never choose
// the same one. A program outside the tests may still hold it: Linkhub then
// exits with its "port already served" code and writes no port file, which
// served() tells, and the caller retries with next().
class HubPort
{
public:
    HubPort();
    ~HubPort();
    HubPort(const HubPort&) = delete;
    HubPort& operator=(const HubPort&) = delete;

    // Reserves another free port; 0 when none could be had.
    quint16 next();
    quint16 port() const { return m_port; }

    // The variables that give a Linkhub this port and the port file:
    // VELA_LINKHUB_PORT and VELA_LINKHUB_PORT_FILE, into this process's
    // environment or into one for a program to be started.
    void exportToEnvironment() const;
    void exportTo(QProcessEnvironment* environment) const;

    // True when a Linkhub started since next() listens on port(): it wrote
    // the port into the port file before signalling readiness.
    bool served() const;

private:
    QString portFile() const;

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace testsupport
