// Linkhub: owns the analyzers' serial port (or serves simulated analyzers)
// and answers one local client over TCP, one reply line per request line.

#include "platform/linkhub/hubconfig.h"
#include "platform/linkhub/hubserver.h"
#include "platform/linkhub/hubsession.h"
#include "platform/linkhub/wiretrace.h"

#include <QCoreApplication>
#include <QSystemSemaphore>

#include <cstdio>

namespace {

// Tells a driver waiting on the semaphore that it may connect now.
void releaseStart(QSystemSemaphore& semaphore)
{
    if (!semaphore.release(1))
        std::fprintf(stderr, "Linkhub: cannot release semaphore: %s\n", qPrintable(semaphore.errorString()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Linkhub"));

    HubConfig config;
    QString error;
    if (!HubConfig::parse(QCoreApplication::arguments(), &config, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return error.startsWith(QLatin1String("Usage")) ? 0 : 2;
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
        if (server.serverError() == QAbstractSocket::AddressInUseError) {
            std::fprintf(stderr, "Linkhub: 127.0.0.1:%u is already served; exiting\n", unsigned(config.port));
            releaseStart(start);
            return 0;
        }
        std::fprintf(stderr, "Linkhub: cannot listen on 127.0.0.1:%u: %s\n", unsigned(config.port),
                     qPrintable(server.errorString()));
        releaseStart(start);
        return 1;
    }
    trace.note(QStringLiteral("listening on 127.0.0.1:%1").arg(server.port()));
    releaseStart(start);

    server.setExitAfterLines(config.exitAfterLines);
    QObject::connect(&server, &HubServer::exitRequested, &app, [] { QCoreApplication::exit(3); },
                     Qt::QueuedConnection);
    QObject::connect(&server, &HubServer::idle, &app, [&trace] {
        trace.note(QStringLiteral("idle, exiting"));
        QCoreApplication::quit();
    });
    return app.exec();
}
