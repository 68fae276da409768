// A worklist from placement to release through the built Linkhub on its
// simulated port "SIM", at high simulation speed.

#include "instrvela.h"
#include "workerthread.h"

#include "core/messagepresenter.h"
#include "core/profile.h"
#include "sim/simbus.h"

#include <tqcore/assay.h>
#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "hubport.h"
#include "statushistory.h"
#include "testtime.h"

namespace {

// Request/reply pairs of the wire trace ("<time> C> request", "<time> C< reply").
QList<QPair<QByteArray, QByteArray>> readTrace(const QString& path)
{
    QFile file(path);
    QList<QPair<QByteArray, QByteArray>> pairs;
    if (!file.open(QIODevice::ReadOnly))
        return pairs;
    QByteArray request;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3)
            continue;
        const QByteArray text = line.mid(parts.at(0).size() + parts.at(1).size() + 2);
        if (parts.at(1) == "C>")
            request = text;
        else if (parts.at(1) == "C<")
            pairs.append({request, text});
    }
    return pairs;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void worklistOnSimulator();

private:
    QTemporaryDir m_dir;
    QString m_trace;
    testsupport::HubPort m_hubPort;
};

void TestEndToEnd::initTestCase()
{
    const QString linkhub = QStringLiteral(LINKHUB_PROGRAM);
    if (!QFile::exists(linkhub))
        QSKIP("needs the built Linkhub");
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    m_trace = m_dir.filePath(QStringLiteral("wire.trace"));
    qputenv("VELA_LINKHUB", linkhub.toLocal8Bit());
    m_hubPort.exportToEnvironment();
    qputenv("VELA_LINKHUB_KEY", "instrwork-e2e-" + QByteArray::number(QCoreApplication::applicationPid()));
    qputenv("VELA_LINKHUB_TRACE", m_trace.toLocal8Bit());
    qputenv("VELA_LINKHUB_IDLE", "1000");
    qputenv("VELA_SIM_SPEED", "60");
    Profile::instance().setValue(QStringLiteral("instrument/port"), QStringLiteral("SIM"), false);
}

void TestEndToEnd::worklistOnSimulator()
{
    tq::MessageRecorder messages;
    Workbench workbench;
    InstrVela instrument(&workbench);
    workbench.setInstrument(&instrument);
    instrument.connectToHost();
    // A Linkhub that found its port held by another program wrote no port
    // file, and the link went elsewhere: connect again on another port.
    for (int attempt = 0; attempt < 3 && !m_hubPort.served(); ++attempt) {
        instrument.disconnectFromHost();
        m_hubPort.next();
        m_hubPort.exportToEnvironment();
        instrument.connectToHost();
    }
    QVERIFY2(instrument.isConnected(), qPrintable(messages.texts().join(QLatin1Char('\n'))));
    QVERIFY(m_hubPort.served());

    struct Row
    {
        const char* sample;
        const char* position;
        const char* item;
        const char* dilution;
        const char* method;
    };
    const Row rows[] = {
        {"1001", "A1", "PT", "1/1", "光学法"},    {"1001", "A1", "APTT", "1/1", "光学法"},
        {"1001", "A1", "TT", "1/1", "磁珠法"},    {"1001", "A1", "FIB", "1/10", "光学法"},
        {"1002", "A2", "PT", "1/2", "磁珠法"},    {"1002", "A2", "APTT", "1/1", "磁珠法"},
        {"1002", "A2", "FIB", "1/5", "磁珠法"},   {"1003", "B3", "PT", "1/1", ""},
        {"1003", "B3", "TT", "1/2", "光学法"},    {"1003", "B3", "FIB", "1/10", "磁珠法"},
        {"1004", "C12", "APTT", "1/1", "光学法"}, {"1004", "C12", "PT", "1/1", "光学法"},
        {"1005", "D4", "TT", "1/1", ""},          {"1005", "D4", "FIB", "1/20", "光学法"},
    };
    QList<Assay*> assays;
    StatusHistory statuses;
    for (const Row& row : rows) {
        auto* a = new Assay(QString::fromUtf8(row.sample), QString::fromUtf8(row.position),
                            QString::fromUtf8(row.item));
        a->setDilution(QString::fromUtf8(row.dilution));
        a->setMethod(QString::fromUtf8(row.method));
        workbench.worklist()->append(a);
        assays << a;
    }
    recordStatuses(this, assays, statuses);
    QSignalSpy begun(&instrument, &Instrument::assayBegun);
    QSignalSpy ended(&instrument, &Instrument::assayEnded);
    QSignalSpy running(&instrument, &Instrument::runningChanged);

    QVERIFY(instrument.startWork());
    // The worker runs until nothing is left, then ends.
    QTRY_VERIFY_WITH_TIMEOUT(running.count() >= 2 && !running.last().at(0).toBool(), testsupport::scaled(50000));
    instrument.disconnectFromHost();

    // Replay the accepted placements into a simulator of the same
    // configuration: its clot times and point counts follow from the order
    // of placement alone.
    const auto trace = readTrace(m_trace);
    QVERIFY(!trace.isEmpty());
    SimConfig config = SimConfig::fromEnvironment();
    config.intakeSize = 255;
    ManualClock clock;
    SimBus bus(config, &clock);
    SimAnalyzer* replay = bus.analyzer(config.ids.value(0));
    QVERIFY(replay);
    QHash<quint32, int> releases;
    QHash<quint32, int> channels; // as the analyzer reported them
    for (const auto& [request, reply] : trace) {
        if (request.startsWith("31") && reply.startsWith("3111"))
            QVERIFY(replay->handle(request).line.startsWith("3111"));
        if (request.startsWith("32") && reply.startsWith("320F"))
            channels[request.mid(2, 8).toUInt(nullptr, 16)] = reply.mid(37, 2).toInt(nullptr, 16);
        if (request.startsWith("34") && reply == "3400")
            ++releases[request.mid(2, 8).toUInt(nullptr, 16)];
    }
    clock.advance(3600 * 1000);
    replay->handle("24");

    QCOMPARE(begun.count(), assays.size());
    QCOMPARE(ended.count(), assays.size());
    QSet<Assay*> begunOnce, endedOnce;
    for (int i = 0; i < assays.size(); ++i) {
        begunOnce.insert(begun.at(i).at(0).value<Assay*>());
        endedOnce.insert(ended.at(i).at(0).value<Assay*>());
    }
    QCOMPARE(begunOnce.size(), assays.size());
    QCOMPARE(endedOnce.size(), assays.size());

    for (int i = 0; i < assays.size(); ++i) {
        Assay* a = assays.at(i);
        const quint32 id = a->tempValue(QStringLiteral("vela/id")).toUInt();
        const SimAnalyzer::TestInfo info = replay->testInfo(id);
        const QString row = QStringLiteral("%1 %2 %3").arg(a->sampleId(), a->assay(), a->dilutionText());
        QVERIFY2(info.exists, qPrintable(row));
        QVERIFY(a->isFinished());
        const AnalysisResult r = a->result();
        QVERIFY2(qAbs(r.value() - info.clotHundredths / 100.0) < 0.005,
                 qPrintable(row + QStringLiteral(": %1 vs %2").arg(r.value()).arg(info.clotHundredths)));
        QCOMPARE(r.curve().size(), info.pointCount);
        QCOMPARE(r.ch(), channels.value(id, -1));
        QVERIFY2(statuses.at(i).contains(tq::Started) && statuses.at(i).contains(tq::Measuring)
                     && statuses.at(i).indexOf(tq::Started) < statuses.at(i).indexOf(tq::Measuring),
                 qPrintable(row));
        QCOMPARE(statuses.at(i).last(), tq::Finished);
        QCOMPARE(releases.value(id), 1);
        QVERIFY(a->message().contains(QStringLiteral("测试编号:%1").arg(id, 8, 16, QLatin1Char('0')).toUpper()));
    }
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
