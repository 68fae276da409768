// The run scheduler with a long worklist against the simulated analyzer, in
// process and without delays: passes are run back to back and the
// simulator's clock moves a fixed step between passes.
//
//   bench_scheduler [--sizes 1000,10000] [--step MS] [--journal disk|memory]
//
// Prints per size the driver time per test (wall time of the passes minus
// the time spent inside the simulator), the wall time per test and the
// commands per test, in total and by command. The placement journal syncs
// each placement, result and release to disk, which dominates the driver's
// time here where no pass waits for the analyzer; --journal memory leaves
// the syncs out.

#include "instrvela.h"
#include "talkthread.h"

#include "core/messagepresenter.h"
#include "core/profile.h"
#include "sim/simbus.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>

namespace {

// The simulator behind a line server on a free local port.
class SimServer : public QThread
{
public:
    SimServer()
        : m_bus(benchConfig(), &m_clock)
        , m_sim(m_bus.analyzer("VELA01"))
    {
    }
    ~SimServer() override
    {
        quit();
        wait();
    }

    quint16 listen()
    {
        QMutexLocker lock(&m_mutex);
        start();
        while (!m_started)
            m_ready.wait(&m_mutex);
        return m_port;
    }
    void advance(qint64 ms)
    {
        QMutexLocker lock(&m_mutex);
        m_clock.advance(ms);
    }
    qint64 simNanos() const
    {
        QMutexLocker lock(&m_mutex);
        return m_simNanos;
    }
    QMap<QByteArray, qint64> commands() const
    {
        QMutexLocker lock(&m_mutex);
        return m_commands;
    }

protected:
    void run() override
    {
        QTcpServer server;
        const bool ok = server.listen(QHostAddress::LocalHost, 0);
        {
            QMutexLocker lock(&m_mutex);
            m_port = ok ? server.serverPort() : 0;
            m_started = true;
            m_ready.wakeAll();
        }
        if (!ok)
            return;
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    while (socket->canReadLine())
                        socket->write(answer(socket->readLine().trimmed()) + "\r\n");
                });
            }
        });
        exec();
    }

private:
    static SimConfig benchConfig()
    {
        SimConfig config;
        config.seed = 7;
        return config;
    }
    QByteArray answer(const QByteArray& request)
    {
        QMutexLocker lock(&m_mutex);
        QElapsedTimer t;
        t.start();
        const SimReply reply = m_sim->handle(request);
        m_simNanos += t.nsecsElapsed();
        ++m_commands[request.left(2)];
        return reply.line;
    }

    mutable QMutex m_mutex;
    QWaitCondition m_ready;
    bool m_started = false;
    quint16 m_port = 0;
    ManualClock m_clock;
    SimBus m_bus;
    SimAnalyzer* m_sim;
    qint64 m_simNanos = 0;
    QMap<QByteArray, qint64> m_commands;
};

struct Figures
{
    int tests = 0;
    int finished = 0;
    qint64 passes = 0;
    qint64 wallNanos = 0;
    qint64 simNanos = 0;
    QMap<QByteArray, qint64> commands;
};

Figures runWorklist(int size, int stepMs, bool journalOnDisk)
{
    Figures f;
    // A journal of its own for every run: a journal an earlier run left
    // would hand its results to this run's assays of the same samples.
    static int run = 0;
    qputenv("VELA_JOURNAL", journalOnDisk
                                ? QDir::current().filePath(QStringLiteral("placements-%1.db").arg(++run)).toLocal8Bit()
                                : QByteArray(":memory:"));
    SimServer sim;
    qputenv("VELA_LINKHUB_PORT", QByteArray::number(sim.listen()));
    Workbench workbench;
    InstrVela instrument(&workbench);
    if (!instrument.talkThread()->open()) {
        std::fprintf(stderr, "cannot reach the simulator\n");
        return f;
    }
    static const char* const items[] = {"PT", "APTT", "TT", "FIB"};
    static const char* const dilutions[] = {"1/1", "1/2", "1/1", "1/10"};
    QList<Assay*> assays;
    for (int i = 0; i < size; ++i) {
        auto* a = new Assay(QString::number(10000 + i / 4),
                            QStringLiteral("%1%2").arg(QChar(u'A' + (i / 4) % 15)).arg((i / 4) % 30 + 1),
                            QString::fromLatin1(items[i % 4]));
        a->setDilution(QString::fromLatin1(dilutions[i % 4]));
        a->setMethod(i % 3 == 0 ? QStringLiteral("磁珠法") : QStringLiteral("光学法"));
        workbench.worklist()->append(a);
        assays << a;
    }
    f.tests = size;

    const std::atomic<bool> stop{false};
    QElapsedTimer wall;
    const qint64 maxPasses = qint64(size) * 200 + 1000;
    do {
        wall.start();
        instrument.schedulePass(&stop);
        f.wallNanos += wall.nsecsElapsed();
        ++f.passes;
        sim.advance(stepMs);
    } while (instrument.hasScheduledTests() && f.passes < maxPasses);

    for (Assay* a : assays)
        f.finished += a->isFinished() && a->result().curve().size() > 0 ? 1 : 0;
    f.simNanos = sim.simNanos();
    f.commands = sim.commands();
    return f;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Run scheduler benchmark against the in-process simulator."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("sizes"), QStringLiteral("Worklist sizes, comma separated."),
                      QStringLiteral("list"), QStringLiteral("1000,10000")});
    parser.addOption({QStringLiteral("step"), QStringLiteral("Simulated ms between passes."), QStringLiteral("ms"),
                      QStringLiteral("5000")});
    parser.addOption({QStringLiteral("journal"),
                      QStringLiteral("Where the placement journal lies: disk (synced, as in the field) or memory "
                                     "(the same work without the file, to see the driver's own cost)."),
                      QStringLiteral("where"), QStringLiteral("disk")});
    parser.process(app);
    const int step = parser.value(QStringLiteral("step")).toInt();
    const bool journalOnDisk = parser.value(QStringLiteral("journal")) != QLatin1String("memory");

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    tq::MessageRecorder messages;
    Profile::instance();

    std::printf("simulated step between passes: %d ms; placement journal %s\n", step,
                journalOnDisk ? "on disk" : "in memory");
    std::printf("%8s %8s %8s %12s %12s %12s %10s  %s\n", "assays", "done", "passes", "driver us/t", "wall us/t",
                "sim us/t", "cmds/test", "by command");
    for (const QString& s : parser.value(QStringLiteral("sizes")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int size = s.toInt();
        if (size <= 0)
            continue;
        const Figures f = runWorklist(size, step, journalOnDisk);
        if (f.tests == 0)
            return 1;
        qint64 total = 0;
        QByteArray byCommand;
        for (auto it = f.commands.cbegin(); it != f.commands.cend(); ++it) {
            total += it.value();
            byCommand += it.key() + ' ' + QByteArray::number(double(it.value()) / f.tests, 'f', 2) + "  ";
        }
        std::printf("%8d %8d %8lld %12.1f %12.1f %12.1f %10.2f  %s\n", f.tests, f.finished, f.passes,
                    (f.wallNanos - f.simNanos) / 1000.0 / f.tests, f.wallNanos / 1000.0 / f.tests,
                    f.simNanos / 1000.0 / f.tests, double(total) / f.tests, byCommand.constData());
        std::fflush(stdout);
    }
    return 0;
}
