// velasim: simulated analyzers on a serial line. Creates a pseudo-terminal
// and prints its device path on stdout (or serves a given serial device),
// then answers framed requests until it is stopped or the link is dropped.

#include "sim/velasim/frameresponder.h"
#include "sim/velasim/replayrecording.h"

#include "core/serial.h"
#include "platform/linewire/wiretrace.h"
#include "sim/simbus.h"
#include "sim/simclock.h"
#include "sim/simconfig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

struct Pty
{
    int master = -1;
    int slave = -1; // kept open so the master never sees a hang-up between clients
    QByteArray slavePath;
};

bool openPty(Pty* pty, QString* error)
{
    pty->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->master < 0 || ::grantpt(pty->master) != 0 || ::unlockpt(pty->master) != 0) {
        *error = qt_error_string(errno);
        return false;
    }
    const char* name = ::ptsname(pty->master);
    if (!name) {
        *error = qt_error_string(errno);
        return false;
    }
    pty->slavePath = name;
    pty->slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->slave < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    // Raw from the start, so nothing is echoed or translated before the
    // other side has set the line up.
    termios tio;
    if (::tcgetattr(pty->slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(pty->slave, TCSANOW, &tio);
    }
    ::fcntl(pty->master, F_SETFL, ::fcntl(pty->master, F_GETFL) | O_NONBLOCK);
    return true;
}

// Points linkPath at target, replacing an earlier link (from a run that has
// ended) in one step, so that the path never names nothing while we run.
bool replaceLink(const QByteArray& target, const QByteArray& linkPath, QString* error)
{
    const QByteArray temporary = linkPath + ".new" + QByteArray::number(qint64(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(target.constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), linkPath.constData()) != 0) {
        *error = qt_error_string(errno);
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velasim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated analyzers on a framed serial line. Without --device it makes a pseudo-terminal and "
                       "prints its path. Defaults come from the VELA_SIM_* variables."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Serve this serial device instead of a pseudo-terminal."),
                                          QStringLiteral("path"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Baud rate with --device (default 115200, 8N1)."),
                                        QStringLiteral("rate"));
    const QCommandLineOption idsOption(QStringLiteral("ids"),
                                       QStringLiteral("Analyzer identifiers, comma-separated (default VELA01)."),
                                       QStringLiteral("list"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QStringLiteral("Time scale factor (default 1)."),
                                         QStringLiteral("factor"));
    const QCommandLineOption faultsOption(
        QStringLiteral("faults"), QStringLiteral("Faults to inject, e.g. \"silence:73,after=2;drop,after=10\"."),
        QStringLiteral("faults"));
    const QCommandLineOption memoryOption(
        QStringLiteral("memory"), QStringLiteral("File that keeps the analyzer memory."), QStringLiteral("file"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of noise and random choices."),
                                        QStringLiteral("n"));
    const QCommandLineOption corruptOption(
        QStringLiteral("corrupt"), QStringLiteral("Corrupt every n-th reply frame (0: none)."), QStringLiteral("n"));
    const QCommandLineOption traceOption(QStringLiteral("trace"), QStringLiteral("Append a wire trace to this file."),
                                         QStringLiteral("file"));
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Also serve the pseudo-terminal under this stable path (a symbolic link, replaced "
                       "when it exists, removed at exit), so that an analyzer switched off and on again "
                       "comes back on the same port name."),
        QStringLiteral("path"));
    const QCommandLineOption replayOption(
        QStringLiteral("replay"),
        QStringLiteral("Play back the analyzers' side of a session recorded in Linkhub's wire trace: trace "
                       "files or folders of them (a ring), here and as further arguments, in order."),
        QStringLiteral("dir|file"));
    const QCommandLineOption fromOption(
        QStringLiteral("from"),
        QStringLiteral("With --replay: leave out trace lines before this time (as written, e.g. "
                       "2026-05-06T09:30)."),
        QStringLiteral("time"));
    const QCommandLineOption toOption(QStringLiteral("to"),
                                      QStringLiteral("With --replay: leave out trace lines after this time."),
                                      QStringLiteral("time"));
    parser.addOptions({deviceOption, baudOption, idsOption, speedOption, faultsOption, memoryOption, seedOption,
                       corruptOption, traceOption, linkOption, replayOption, fromOption, toOption});
    parser.addPositionalArgument(QStringLiteral("recordings"),
                                 QStringLiteral("With --replay: more trace files or folders."),
                                 QStringLiteral("[dir|file...]"));
    parser.process(app);

    auto fail = [](const QString& text) {
        std::fprintf(stderr, "velasim: %s\n", qPrintable(text));
        return 2;
    };

    SimConfig config = SimConfig::fromEnvironment();
    if (parser.isSet(idsOption)) {
        config.ids.clear();
        for (const QString& id : parser.value(idsOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QByteArray bytes = id.trimmed().toLatin1();
            if (!linkframe::isValidAddress(bytes))
                return fail(QStringLiteral("invalid identifier \"%1\"").arg(id));
            config.ids.append(bytes);
        }
        if (config.ids.isEmpty())
            return fail(QStringLiteral("--ids names no analyzer"));
    }
    if (parser.isSet(speedOption)) {
        bool ok = false;
        config.speed = parser.value(speedOption).toDouble(&ok);
        if (!ok || config.speed <= 0)
            return fail(QStringLiteral("invalid speed %1").arg(parser.value(speedOption)));
    }
    if (parser.isSet(faultsOption)) {
        QString error;
        if (!SimConfig::parseFaults(parser.value(faultsOption), &config.faults, &error))
            return fail(QStringLiteral("invalid faults: %1").arg(error));
    }
    if (parser.isSet(memoryOption))
        config.memoryFile = parser.value(memoryOption);
    if (parser.isSet(seedOption)) {
        bool ok = false;
        config.seed = parser.value(seedOption).toUInt(&ok);
        if (!ok)
            return fail(QStringLiteral("invalid seed %1").arg(parser.value(seedOption)));
    }
    int corruptEvery = 0;
    if (parser.isSet(corruptOption)) {
        bool ok = false;
        corruptEvery = parser.value(corruptOption).toInt(&ok);
        if (!ok || corruptEvery < 0)
            return fail(QStringLiteral("invalid --corrupt %1").arg(parser.value(corruptOption)));
    }

    const bool replaying = parser.isSet(replayOption);
    ReplayRecording recording;
    if (replaying) {
        QString error;
        const QStringList sources = parser.values(replayOption) + parser.positionalArguments();
        if (!recording.load(sources, &error, parser.value(fromOption).toLatin1(), parser.value(toOption).toLatin1()))
            return fail(QStringLiteral("cannot replay: %1").arg(error));
    } else if (!parser.positionalArguments().isEmpty()) {
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst()));
    }

    WireTrace trace;
    if (!trace.open(parser.value(traceOption)))
        return fail(QStringLiteral("cannot open trace: %1").arg(trace.errorString()));

    Pty pty;
    QByteArray linkPath;
    Serial device;
    int fd = -1;
    if (parser.isSet(deviceOption)) {
        int baud = 115200;
        if (parser.isSet(baudOption))
            baud = parser.value(baudOption).toInt();
        device.setFileName(parser.value(deviceOption));
        if (!device.open() || !device.setSettings(baud, 8, Serial::NoParity, Serial::OneStop))
            return fail(QStringLiteral("cannot open %1: %2").arg(device.fileName(), device.errorString()));
        fd = device.handle();
        std::printf("%s\n", qPrintable(device.fileName()));
    } else {
        QString error;
        if (!openPty(&pty, &error))
            return fail(QStringLiteral("cannot make a pseudo-terminal: %1").arg(error));
        fd = pty.master;
        if (parser.isSet(linkOption)) {
            linkPath = QFile::encodeName(parser.value(linkOption));
            if (!replaceLink(pty.slavePath, linkPath, &error))
                return fail(QStringLiteral("cannot link %1: %2").arg(parser.value(linkOption), error));
            std::printf("%s\n", linkPath.constData());
        } else {
            std::printf("%s\n", pty.slavePath.constData());
        }
    }
    std::fflush(stdout);

    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    ScaledClock clock(config.speed);
    SimBus bus(config, &clock);
    const std::unique_ptr<FrameResponder> responder = replaying ? std::make_unique<FrameResponder>(
                                                          static_cast<AnalyzerBackend*>(&recording), &trace)
                                                                : std::make_unique<FrameResponder>(&bus, &trace);
    FrameResponder& active = *responder;
    bool mismatchTold = false;
    active.setCorruptEvery(corruptEvery);

    int status = 0;
    char buf[4096];
    while (!stopRequested) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 200);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            status = fail(QStringLiteral("poll: %1").arg(qt_error_string(errno)));
            break;
        }
        if (ready == 0)
            continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            status = fail(QStringLiteral("line closed"));
            break;
        }
        bool dropped = false;
        for (const FrameResponder::Output& out : active.feed(QByteArrayView(buf, n))) {
            if (out.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(out.delayMs));
            if (out.drop) {
                trace.note(QStringLiteral("dropping the link"));
                dropped = true;
                break;
            }
            trace.write("S>", out.bytes);
            if (!writeAll(fd, out.bytes)) {
                status = fail(QStringLiteral("write failed"));
                dropped = true;
                break;
            }
        }
        if (replaying && !mismatchTold && recording.mismatches() > 0) {
            mismatchTold = true;
            std::fprintf(stderr, "velasim: replay: %s\n", qPrintable(recording.firstMismatch()));
        }
        if (dropped)
            break;
    }
    if (replaying) {
        std::fprintf(stderr, "velasim: replay: %d requests, %d did not fit the recording\n", recording.requests(),
                     recording.mismatches());
        if (recording.mismatches() > 0 && status == 0)
            status = 1;
    }

    for (const QByteArray& id : bus.identifiers()) {
        if (SimAnalyzer* analyzer = bus.analyzer(id))
            analyzer->flushMemory();
    }
    // Only a link that still names this run's terminal is ours to remove.
    if (!linkPath.isEmpty()) {
        char target[4096];
        const ssize_t n = ::readlink(linkPath.constData(), target, sizeof target - 1);
        if (n > 0 && QByteArray(target, int(n)) == pty.slavePath)
            ::unlink(linkPath.constData());
    }
    // Closing the master hangs up the line for whoever holds the other end.
    if (pty.master >= 0)
        ::close(pty.master);
    if (pty.slave >= 0)
        ::close(pty.slave);
    device.close();
    return status;
}
