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

    // Kept for the whole run: on some systems the semaphore goes away with
    // the last handle, and with it the count a driver is waiting for.
    QSystemSemaphore start(config.semaphoreKey, 0, QSystemSemaphore::Open);

    WireTrace trace;
    if (!trace.open(config.traceFile))
        std::fprintf(stderr, "Linkhub: cannot open trace %s: %s\n", qPrintable(config.traceFile),
                     qPrintable(trace.errorString()));

    HubSession session(config.options, &trace);
    HubServer server(&session, &trace, config.idleMs);
    if (!server.listen(config.port)) {
        // Another hub already serves this port (or it cannot be had): leave
        // it alone, but let the driver that started us go on to connect.
        const bool taken = server.serverError() == QAbstractSocket::AddressInUseError;
        std::fprintf(stderr, "Linkhub: cannot listen on 127.0.0.1:%u: %s\n", unsigned(config.port),
                     qPrintable(server.errorString()));
        releaseStart(start);
        return taken ? 0 : 1;
    }
    trace.note(QStringLiteral("listening on 127.0.0.1:%1").arg(server.port()));
    releaseStart(start);

    QObject::connect(&server, &HubServer::idle, &app, [&trace] {
        trace.note(QStringLiteral("idle, exiting"));
        QCoreApplication::quit();
    });
    return app.exec();
}
