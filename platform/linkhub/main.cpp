// Linkhub: owns the analyzers' serial port (or serves simulated analyzers)
// and answers one local client over TCP, one reply line per request line.

#include "platform/linewire/wiretrace.h"
#include "platform/linkhub/hubconfig.h"
#include "platform/linkhub/hubserver.h"
#include "platform/linkhub/hubsession.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QSystemSemaphore>

#include <cstdio>

namespace {

// Tells a driver waiting on the semaphore that it may connect now.
void releaseStart(QSystemSemaphore& semaphore)
{
    if (!semaphore.release(1))
        std::fprintf(stderr, "Linkhub: cannot release semaphore: %s\n", qPrintable(semaphore.errorString()));
}

// Writes the port as one decimal line, whole or not at all, so that a
// reader never sees part of it.
bool writePortFile(const QString& path, quint16 port)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::number(port) + '\n');
    return file.commit();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Linkhub"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));

    HubConfig config;
    QString error;
    if (!HubConfig::parse(QCoreApplication::arguments(), &config, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return error.startsWith(QLatin1String("Usage")) ? 0 : int(HubConfig::ExitBadOption);
    }

    // Kept for the whole run: the process that created the semaphore removes
    // it when its handle goes, and with it the count a driver waits for.
    // The release below is undone by the system when this process ends, so
    // after an exit the next driver waits for the next hub again.
    QSystemSemaphore start(config.semaphoreKey, 0, QSystemSemaphore::Open);

    WireTrace trace;
    if (!trace.open(config.traceFile))
        std::fprintf(stderr, "Linkhub: cannot open trace %s: %s\n", qPrintable(config.traceFile),
                     qPrintable(trace.errorString()));

    HubSession session(config.options, &trace);
    HubServer server(&session, &trace, config.idleMs);
    if (!server.listen(config.port)) {
        // Another hub already serves this port (or it cannot be had): leave
        // it alone, but let a driver waiting for the start signal go on to
        // connect. The release counts only while this process lives (the
        // system undoes it at exit), so a driver also watches the process.
        // The exit code of its own tells whoever started this instance that
        // another program holds the port. Nothing is printed: a driver
        // starts a hub at every connection, and this one shares its console.
        if (server.serverError() == QAbstractSocket::AddressInUseError) {
            trace.note(QStringLiteral("127.0.0.1:%1 is already served; exiting").arg(config.port));
            releaseStart(start);
            return HubConfig::ExitPortServed;
        }
        std::fprintf(stderr, "Linkhub: cannot listen on 127.0.0.1:%u: %s\n", unsigned(config.port),
                     qPrintable(server.errorString()));
        releaseStart(start);
        return HubConfig::ExitListenFailed;
    }
    // Only the instance that serves the port keeps the ring.
    trace.openRing(config.traceRing);
    trace.note(QStringLiteral("listening on 127.0.0.1:%1").arg(server.port()));
    if (!config.portFile.isEmpty() && !writePortFile(config.portFile, server.port())) {
        std::fprintf(stderr, "Linkhub: cannot write the port to %s\n", qPrintable(config.portFile));
        releaseStart(start);
        return HubConfig::ExitListenFailed;
    }
    releaseStart(start);

    server.setExitAfterLines(config.exitAfterLines);
    QObject::connect(
        &server, &HubServer::exitRequested, &app, [] { QCoreApplication::exit(3); }, Qt::QueuedConnection);
    QObject::connect(&server, &HubServer::idle, &app, [&trace] {
        trace.note(QStringLiteral("idle, exiting"));
        QCoreApplication::quit();
    });
    return app.exec();
}
