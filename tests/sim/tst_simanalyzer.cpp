#include "sim/simbus.h"
#include "simwire.h"

#include <QtTest>

#include <cmath>
#include <memory>

using wire::hex;

namespace {

QByteArray place(quint32 id, const QByteArray& pos, const QByteArray& item, int dilution, char method)
{
    return "31" + hex(id, 8) + pos + item + QByteArray::number(dilution).rightJustified(2, '0') + method;
}

struct Rig
{
    explicit Rig(SimConfig config = SimConfig())
        : analyzer(config.ids.value(0, "VELA01"), config, &clock)
    {
    }
    QByteArray ask(const QByteArray& request) { return analyzer.handle(request).line; }
    // Steps the clock a second at a time, asking 32 as the driver does,
    // until the test is final. Returns the statuses seen in order.
    QList<int> runToFinal(quint32 id, int maxSeconds = 600)
    {
        QList<int> seen;
        for (int s = 0; s <= maxSeconds; ++s) {
            const wire::Result r = wire::parse32(ask("32" + hex(id, 8)));
            if (r.ok && (seen.isEmpty() || seen.last() != r.status))
                seen << r.status;
            if (r.final || r.unknown)
                break;
            clock.advance(1000);
        }
        return seen;
    }
    ManualClock clock;
    SimAnalyzer analyzer;
};

} // namespace

class TestSimAnalyzer : public QObject
{
    Q_OBJECT

private slots:
    void labelsAreGbk();
    void lifeOfATest_data();
    void lifeOfATest();
    void curveEndsEvenOnAChunkBoundary();
    void resultDoesNotDependOnPolling();
    void intakeRefusesWhenFull();
    void releaseAndUnknownTests();
    void placeRejectsBadCommands_data();
    void placeRejectsBadCommands();
    void disabledChannelsUnused();
    void channelsComeUpFromParameterBlock();
    void manualTest();
    void probeActionsBusyThenIdle_data();
    void probeActionsBusyThenIdle();
    void probeCommandChecks_data();
    void probeCommandChecks();
    void temperaturesSettle();
    void temperatureSetPoints_data();
    void temperatureSetPoints();
    void statusReply_data();
    void statusReply();
    void memoryPersistsInFile();
    void memoryBounds_data();
    void memoryBounds();
    void reagentVolumesFall();
    void workModeAndLight();
    void unknownCommands_data();
    void unknownCommands();
    void busOfAnalyzers();
};

void TestSimAnalyzer::labelsAreGbk()
{
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    QVERIFY2(gbk, "GBK codec missing");
    Rig rig;
    QVERIFY(rig.ask(place(1, "B1", "PT", 1, 'L')).startsWith("3111"));
    const QByteArray reply = rig.ask("3200000001");
    QVERIFY(reply.contains(QByteArray("\xB2\xE2\xCA\xD4\xCA\xB1\xBC\xE4:"))); // 测试时间:
    QVERIFY(reply.contains(gbk->fromUnicode(QStringLiteral("预温时间:"))));
    QVERIFY(reply.contains(gbk->fromUnicode(QStringLiteral("预温超时时间:"))));
    // everything before the first label is ASCII, so byte and text positions agree
    const int p = reply.indexOf(gbk->fromUnicode(QStringLiteral("测试时间:")));
    QCOMPARE(p, 45);
    for (int i = 0; i < p; ++i)
        QVERIFY(quint8(reply.at(i)) < 0x80);
}

void TestSimAnalyzer::lifeOfATest_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<int>("dilution");
    QTest::addColumn<char>("method");
    QTest::addColumn<QByteArray>("position");
    QTest::addColumn<bool>("clots");

    // ids from seconds since midnight start with zeros: a curve reply must
    // still not begin with 6000
    QTest::newRow("PT optical") << 0x0000A8C0u << QByteArray("PT") << 1 << 'L' << QByteArray("B1") << true;
    QTest::newRow("PT bead") << 0x00000001u << QByteArray("PT") << 1 << 'C' << QByteArray("B2") << true;
    QTest::newRow("APTT optical") << 0x12345678u << QByteArray("AP") << 1 << 'L' << QByteArray("BC") << true;
    QTest::newRow("TT bead") << 0xFFFFFFFFu << QByteArray("TT") << 1 << 'C' << QByteArray("C3") << true;
    QTest::newRow("FIB 1/10") << 0x00010000u << QByteArray("FI") << 10 << 'L' << QByteArray("B4") << true;
    QTest::newRow("factor VIII") << 0x00000100u << QByteArray("VI") << 10 << 'C' << QByteArray("B5") << true;
    QTest::newRow("not clotting") << 0x00000042u << QByteArray("PT") << 1 << 'L' << QByteArray("B9") << false;
}

void TestSimAnalyzer::lifeOfATest()
{
    QFETCH(quint32, id);
    QFETCH(QByteArray, item);
    QFETCH(int, dilution);
    QFETCH(char, method);
    QFETCH(QByteArray, position);
    QFETCH(bool, clots);

    SimConfig config;
    config.notClottingPositions << "B9";
    Rig rig(config);
    const QByteArray accepted = rig.ask(place(id, position, item, dilution, method));
    QVERIFY2(accepted.startsWith("3111"), accepted.constData());
    bool ok = false;
    QCOMPARE(accepted.mid(4, 2).toInt(&ok, 16), config.intakeSize); // the pipettor took it at once
    QVERIFY(ok);

    // while it runs: pre-warm time shows, test time stays below a second
    // until measuring
    bool sawPrewarm = false, sawMeasuring = false;
    QList<int> seen;
    wire::Result r;
    for (int s = 0; s < 600; ++s) {
        r = wire::parse32(rig.ask("32" + hex(id, 8)));
        QVERIFY(r.ok);
        if (seen.isEmpty() || seen.last() != r.status)
            seen << r.status;
        if (r.final)
            break;
        QVERIFY(r.testTime >= 0 && r.prewarmTime >= 0 && r.prewarmTimeout >= 0);
        if (r.status == 0x03 && r.prewarmTime > 0)
            sawPrewarm = true;
        if (r.status == 0x05) {
            QVERIFY(r.channel != QLatin1String("00"));
            if (r.testTime / 100 > 0)
                sawMeasuring = true;
        } else {
            QVERIFY(r.testTime / 100 == 0);
        }
        rig.clock.advance(1000);
    }
    QVERIFY(r.final);
    QCOMPARE(seen, (QList<int>{0x02, 0x03, 0x05, 0x0F}));
    QVERIFY(sawPrewarm);
    QVERIFY(sawMeasuring);

    const SimAnalyzer::TestInfo info = rig.analyzer.testInfo(id);
    QVERIFY(info.exists);
    QCOMPARE(info.status, 0x0F);
    QCOMPARE(info.clotted, clots);
    QCOMPARE(r.testNumber, QString::fromLatin1(hex(id, 8)));
    QCOMPARE(r.position, QString::fromLatin1(position));
    QCOMPARE(r.item, QString::fromLatin1(item));
    QCOMPARE(r.dilution.toInt(), dilution);
    QCOMPARE(r.method, QLatin1Char(method));
    QVERIFY2(QDateTime::fromString(r.date, QStringLiteral("yyyy-MM-dd HH:mm")).isValid(), qPrintable(r.date));
    QCOMPARE(r.channel, QStringLiteral("01"));
    QCOMPARE(r.error, clots ? QStringLiteral("00") : QStringLiteral("01"));
    QCOMPARE(r.testTime, info.clotHundredths);
    if (clots)
        QVERIFY(r.testTime < 12000);
    else
        QVERIFY(r.testTime > 12000); // beyond the default maximum clot time

    const wire::Curve c = wire::readCurve(&rig.analyzer, id, r.testTime / 100.0);
    QVERIFY(c.ok && c.attached);
    QCOMPARE(c.points.size(), info.pointCount);
    for (int i = 0; i < c.points.size(); ++i)
        QCOMPARE(c.points.at(i), int(info.points.at(i)));
    QCOMPARE(qRound(c.intervalS * 1000), info.intervalMs);
    QVERIFY(c.points.size() * c.intervalS >= r.testTime / 100.0 + (clots ? 3.0 : 0.0));
    for (int i = 1; i < c.starts.size(); ++i)
        QCOMPARE(c.starts.at(i), 55 * i);

    QCOMPARE(rig.ask("34" + hex(id, 8)), QByteArray("3400"));
    QVERIFY(wire::parse32(rig.ask("32" + hex(id, 8))).unknown);
    QCOMPARE(rig.ask("60" + hex(id, 8) + "000037"), QByteArray("6000"));
    QVERIFY(!rig.analyzer.testInfo(id).exists);
}

void TestSimAnalyzer::curveEndsEvenOnAChunkBoundary()
{
    Rig rig;
    QVERIFY(rig.ask(place(7, "B1", "PT", 1, 'L')).startsWith("3111"));
    rig.runToFinal(7);
    const int count = rig.analyzer.testInfo(7).pointCount;
    // asked exactly at the end, the reply carries only the end mark
    const QByteArray end = rig.ask("6000000007" + hex(count, 4) + "37");
    QVERIFY(!end.startsWith("6000"));
    QVERIFY(end.endsWith("-0000-"));
    // a chunk that reaches the end carries the end mark after its points
    const QByteArray last = rig.ask("6000000007" + hex(count - 3, 4) + "37");
    QVERIFY(last.endsWith("0000-"));
    QCOMPARE(last.mid(last.indexOf('-') + 1).size(), 4 * 4 + 1);
    QCOMPARE(rig.ask("6000000007"), QByteArray("60XX"));
}

void TestSimAnalyzer::resultDoesNotDependOnPolling()
{
    SimConfig config;
    config.intakeSize = 8;
    Rig often(config), once(config);
    for (quint32 id = 1; id <= 6; ++id) {
        QVERIFY(often.ask(place(id, "B1", id % 2 ? "PT" : "AP", 1, 'L')).startsWith("3111"));
        QVERIFY(once.ask(place(id, "B1", id % 2 ? "PT" : "AP", 1, 'L')).startsWith("3111"));
    }
    for (int i = 0; i < 4000; ++i) {
        often.clock.advance(100);
        often.ask("24");
    }
    once.clock.advance(400000);
    for (quint32 id = 1; id <= 6; ++id) {
        const QByteArray a = often.ask("32" + hex(id, 8));
        QCOMPARE(a, once.ask("32" + hex(id, 8)));
        QVERIFY(wire::parse32(a).final);
    }
}

void TestSimAnalyzer::intakeRefusesWhenFull()
{
    SimConfig config;
    config.intakeSize = 2;
    Rig rig(config);
    QCOMPARE(rig.ask(place(1, "B1", "PT", 1, 'L')), QByteArray("311102")); // straight to the pipettor
    QCOMPARE(rig.ask(place(2, "B2", "PT", 1, 'L')), QByteArray("311101"));
    QCOMPARE(rig.ask(place(3, "B3", "PT", 1, 'L')), QByteArray("311100"));
    const QByteArray refused = rig.ask(place(4, "B4", "PT", 1, 'L'));
    QVERIFY2(!refused.startsWith("3111"), refused.constData());
    QVERIFY(!rig.analyzer.testInfo(4).exists);
    QCOMPARE(rig.analyzer.freeIntakePlaces(), 0);
    QCOMPARE(wire::parse32(rig.ask("3200000003")).status, 0x01);

    rig.clock.advance(8000); // the pipettor takes the next cup
    QCOMPARE(rig.analyzer.freeIntakePlaces(), 1);
    QCOMPARE(rig.ask(place(4, "B4", "PT", 1, 'L')), QByteArray("311100"));
}

void TestSimAnalyzer::releaseAndUnknownTests()
{
    Rig rig;
    QVERIFY(wire::parse32(rig.ask("3200000099")).unknown);
    QCOMPARE(rig.ask("3400000099"), QByteArray("3400")); // nothing left to release
    QCOMPARE(rig.ask("6000000099000037"), QByteArray("6000"));

    QVERIFY(rig.ask(place(1, "B1", "PT", 1, 'L')).startsWith("3111"));
    QVERIFY(rig.ask(place(2, "B2", "PT", 1, 'L')).startsWith("3111"));
    QCOMPARE(rig.ask("3400000002"), QByteArray("3400")); // cancelled in the intake
    QVERIFY(wire::parse32(rig.ask("3200000002")).unknown);

    rig.clock.advance(8000 + 60000 + 500); // pipetted, pre-warmed, measuring
    QCOMPARE(rig.analyzer.testInfo(1).status, 0x05);
    QCOMPARE(rig.ask("6000000001000037"), QByteArray("6000")); // no curve before the end
    const QByteArray refused = rig.ask("3400000001");
    QCOMPARE(refused, QByteArray("3400C0"));
    QVERIFY(!wire::isErrorReply(refused));
    rig.runToFinal(1);
    const QByteArray released = rig.ask("3400000001");
    QVERIFY(!released.startsWith("3400C0") && !wire::isErrorReply(released));
    QVERIFY(wire::parse32(rig.ask("3200000001")).unknown);
    QCOMPARE(rig.ask("3400000001"), QByteArray("3400"));
}

void TestSimAnalyzer::placeRejectsBadCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("short") << QByteArray("3100000001B1PT1L");
    QTest::newRow("id zero") << QByteArray("3100000000B1PT01L");
    QTest::newRow("id not hex") << QByteArray("310000G001B1PT01L");
    QTest::newRow("dilution not decimal") << QByteArray("3100000001B1PT0AL");
    QTest::newRow("duplicate id") << QByteArray("3100000005B1PT01L");
}

void TestSimAnalyzer::placeRejectsBadCommands()
{
    QFETCH(QByteArray, command);
    Rig rig;
    QVERIFY(rig.ask(place(5, "B1", "PT", 1, 'L')).startsWith("3111"));
    QCOMPARE(rig.ask(command), QByteArray("31XX"));
    // a factor of three digits still reads
    QVERIFY(rig.ask("3100000010B1PT100L").startsWith("3111"));
    QVERIFY(rig.ask("3100000011B10P01L").startsWith("3111")); // item padded with 0
}

void TestSimAnalyzer::disabledChannelsUnused()
{
    Rig rig;
    for (int c = 1; c <= 9; ++c)
        QCOMPARE(rig.ask("5D" + QByteArray::number(c, 16).toUpper()), QByteArray("5D00"));
    QVERIFY(!rig.analyzer.channelEnabled(1) && rig.analyzer.channelEnabled(10));
    for (quint32 id = 1; id <= 3; ++id)
        QVERIFY(rig.ask(place(id, "B1", "PT", 1, 'L')).startsWith("3111"));
    for (quint32 id = 1; id <= 3; ++id) {
        rig.runToFinal(id);
        QCOMPARE(wire::parse32(rig.ask("32" + hex(id, 8))).channel, QStringLiteral("0A"));
    }

    // every channel off: the pre-warmed cup waits and its overdue time grows
    QCOMPARE(rig.ask("5DA"), QByteArray("5D00"));
    QVERIFY(rig.ask(place(4, "B1", "PT", 1, 'L')).startsWith("3111"));
    rig.clock.advance(8000 + 60000 + 30000);
    wire::Result r = wire::parse32(rig.ask("3200000004"));
    QCOMPARE(r.status, 0x04);
    QCOMPARE(r.prewarmTimeout, 30);
    QCOMPARE(r.prewarmTime, 90);
    QCOMPARE(rig.ask("5C3"), QByteArray("5C00"));
    r = wire::parse32(rig.ask("3200000004"));
    QCOMPARE(r.status, 0x05);
    QCOMPARE(r.channel, QStringLiteral("03"));
    QCOMPARE(r.prewarmTimeout, 30); // frozen once measuring
    QCOMPARE(rig.ask("5DB"), QByteArray("5DXX"));
    QCOMPARE(rig.ask("5C0"), QByteArray("5CXX"));
}

void TestSimAnalyzer::channelsComeUpFromParameterBlock()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimConfig config;
    config.memoryFile = dir.filePath(QStringLiteral("mem.bin"));
    {
        Rig rig(config);
        // size 8, mask 0x205: channels 1, 3 and 10 disabled
        QCOMPARE(rig.ask("4D00000808000000"
                         "05020000"),
                 QByteArray("4D00"));
    }
    Rig rig(config);
    for (int c = 1; c <= 10; ++c)
        QCOMPARE(rig.analyzer.channelEnabled(c), c != 1 && c != 3 && c != 10);
}

void TestSimAnalyzer::manualTest()
{
    Rig rig;
    // channel 1, id 1234, B1, PT, factor 1, optical
    QCOMPARE(rig.ask("5E1000004D2B1PT01L"), QByteArray("5E00"));
    wire::Result r = wire::parse32(rig.ask("32000004D2"));
    QCOMPARE(r.status, 0x01);
    // the set-up channel is held: an automatic test goes elsewhere
    QVERIFY(rig.ask(place(9, "B2", "PT", 1, 'L')).startsWith("3111"));
    rig.runToFinal(9);
    QCOMPARE(wire::parse32(rig.ask("3200000009")).channel, QStringLiteral("02"));

    QCOMPARE(rig.ask("5F1"), QByteArray("5F00"));
    QCOMPARE(wire::parse32(rig.ask("32000004D2")).status, 0x05);
    rig.runToFinal(0x4D2);
    r = wire::parse32(rig.ask("32000004D2"));
    QVERIFY(r.final);
    QCOMPARE(r.channel, QStringLiteral("01"));
    QCOMPARE(r.position, QStringLiteral("B1"));
    QCOMPARE(r.item, QStringLiteral("PT"));
    QCOMPARE(r.dilution, QStringLiteral("01"));
    QCOMPARE(r.testTime, rig.analyzer.testInfo(0x4D2).clotHundredths);
    QVERIFY(r.testTime >= 1100 && r.testTime <= 1400);
    QVERIFY(wire::readCurve(&rig.analyzer, 0x4D2, r.testTime / 100.0).attached);

    // channel 10 as A; factor in hex (0A = 10) reported in decimal
    QCOMPARE(rig.ask("5EA00000005B1FI0AC"), QByteArray("5E00"));
    QCOMPARE(wire::parse32(rig.ask("3200000005")).dilution, QStringLiteral("10"));
    // a new set-up replaces one never started
    QCOMPARE(rig.ask("5EA00000006B1FI0AC"), QByteArray("5E00"));
    QVERIFY(wire::parse32(rig.ask("3200000005")).unknown);
    QCOMPARE(rig.ask("5FA"), QByteArray("5F00"));
    QCOMPARE(rig.ask("5FA"), QByteArray("5FXX"));                // nothing set up any more
    QCOMPARE(rig.ask("5EA00000007B1FI0AC"), QByteArray("5EXX")); // measuring there
    QCOMPARE(rig.ask("5D2"), QByteArray("5D00"));
    QCOMPARE(rig.ask("5E200000008B1PT01L"), QByteArray("5EXX")); // disabled
    QCOMPARE(rig.ask("5E3000000B1PT01L"), QByteArray("5EXX"));   // short
}

void TestSimAnalyzer::probeActionsBusyThenIdle_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("pollCode");
    QTest::newRow("module sequence 5113") << QByteArray("5113") << QByteArray("551");
    QTest::newRow("module sequence 5124") << QByteArray("5124") << QByteArray("552");
    QTest::newRow("test wells") << QByteArray("4013") << QByteArray("551");
    QTest::newRow("waste bin") << QByteArray("4624") << QByteArray("552");
    QTest::newRow("all positions") << QByteArray("4913") << QByteArray("541");
    QTest::newRow("volume 50") << QByteArray("4B1332") << QByteArray("551");
    QTest::newRow("first position") << QByteArray("4E13") << QByteArray("531");
    QTest::newRow("take position") << QByteArray("5024") << QByteArray("532");
}

void TestSimAnalyzer::probeActionsBusyThenIdle()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, pollCode);
    Rig rig;
    const QByteArray done = pollCode.left(2) + "00";
    QVERIFY(rig.ask(pollCode).startsWith(done));
    QCOMPARE(rig.ask(command), command.left(2) + "00");
    QByteArray busy = rig.ask(pollCode);
    QVERIFY2(!busy.startsWith(done), busy.constData());
    // the codes after the first four characters are all 0000 (nothing to
    // report), so the host's wait never sees a fault level above 1
    for (int i = 4; i + 4 <= busy.size(); i += 4)
        QCOMPARE(busy.mid(i, 4), QByteArray("0000"));
    QVERIFY(rig.ask(command).endsWith("XX")); // still busy
    const QByteArray otherArm = pollCode.left(2) + (pollCode.at(2) == '1' ? "2" : "1");
    QVERIFY(rig.ask(otherArm).startsWith(done));
    int polls = 0;
    while (!busy.startsWith(done) && polls < 1000) {
        rig.clock.advance(1000);
        busy = rig.ask(pollCode);
        ++polls;
    }
    QVERIFY(busy.startsWith(done));
    QVERIFY(polls > 1);
    QCOMPARE(busy, done);
}

void TestSimAnalyzer::probeCommandChecks_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("move needs no wait") << QByteArray("4F13X14Y00") << QByteArray("4F00");
    QTest::newRow("move up") << QByteArray("4F24X00YEC") << QByteArray("4F00");
    QTest::newRow("bad arm") << QByteArray("4033") << QByteArray("40XX");
    QTest::newRow("bad probe") << QByteArray("4015") << QByteArray("40XX");
    QTest::newRow("volume missing") << QByteArray("4B13") << QByteArray("4BXX");
    QTest::newRow("stray suffix") << QByteArray("421399") << QByteArray("42XX");
    QTest::newRow("move malformed") << QByteArray("4F13X14Z00") << QByteArray("4FXX");
    QTest::newRow("poll bad module") << QByteArray("553") << QByteArray("55XX");
    QTest::newRow("code 45 unused") << QByteArray("4513") << QByteArray("45XX");
}

void TestSimAnalyzer::probeCommandChecks()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Rig rig;
    QCOMPARE(rig.ask(command), reply);
    QVERIFY(rig.ask("551").startsWith("5500"));
    QVERIFY(rig.ask("552").startsWith("5500"));
}

void TestSimAnalyzer::temperaturesSettle()
{
    Rig rig;
    QVector<double> t = wire::parse73(rig.ask("73"));
    QCOMPARE(t.size(), 9);
    for (double v : t)
        QVERIFY2(qAbs(v - 22.0) < 0.3, qPrintable(QString::number(v)));
    QVERIFY(rig.ask("73").startsWith("73 "));

    // the driver's check: 40 readings a second apart, cv < 0.05, 34 < mean < 40
    auto stableAfter = [&rig](int maxPolls) {
        QList<double> history;
        for (int poll = 1; poll <= maxPolls; ++poll) {
            rig.clock.advance(1000);
            history << wire::parse73(rig.ask("73")).value(0);
            if (history.size() > 40)
                history.removeFirst();
            if (history.size() < 40)
                continue;
            double mean = 0, var = 0;
            for (double v : history)
                mean += v / history.size();
            for (double v : history)
                var += (v - mean) * (v - mean) / (history.size() - 1);
            if (std::sqrt(var) / qAbs(mean) < 0.05 && mean > 34 && mean < 40)
                return poll;
        }
        return -1;
    };
    const int poll = stableAfter(1200);
    QVERIFY2(poll > 40, qPrintable(QString::number(poll)));

    rig.clock.advance(20 * 60 * 1000);
    t = wire::parse73(rig.ask("73"));
    const double expected[9] = {37, 37, 37, 37, 37, 37, 15, 23.5, 29.6};
    for (int i = 0; i < 9; ++i)
        QVERIFY2(qAbs(t.at(i) - expected[i]) < 0.4, qPrintable(QStringLiteral("zone %1: %2").arg(i + 1).arg(t.at(i))));
    // noisy but steady: the texts change, the values stay close
    QList<QByteArray> replies;
    for (int i = 0; i < 5; ++i) {
        rig.clock.advance(1000);
        replies << rig.ask("73");
    }
    QVERIFY(QSet<QByteArray>(replies.begin(), replies.end()).size() > 1);
}

void TestSimAnalyzer::temperatureSetPoints_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("read");
    QTest::newRow("page example") << QByteArray("7537.00 37.50 15.00") << QByteArray("7500")
                                  << QByteArray("74-37.00 37.50 15.00");
    QTest::newRow("blank padded") << QByteArray("7536.50 38.00  9.50") << QByteArray("7500")
                                  << QByteArray("74-36.50 38.00 9.50");
    QTest::newRow("two values") << QByteArray("7537.00 37.00") << QByteArray("75XX")
                                << QByteArray("74-37.00 37.00 15.00");
    QTest::newRow("not numbers") << QByteArray("75ab.cd 37.00 15.00") << QByteArray("75XX")
                                 << QByteArray("74-37.00 37.00 15.00");
    QTest::newRow("heater out of reach") << QByteArray("7567.00 37.00 15.00") << QByteArray("75XX")
                                         << QByteArray("74-37.00 37.00 15.00");
}

void TestSimAnalyzer::temperatureSetPoints()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, read);
    Rig rig;
    QCOMPARE(rig.ask(command), reply);
    const QByteArray got = rig.ask("74");
    QCOMPARE(got, read);
    // read as the page does: after three characters, blank separated
    const QStringList parts = QString::fromLatin1(got.mid(3)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(parts.size(), 3);
    if (reply == "7500") {
        rig.clock.advance(30 * 60 * 1000);
        const QVector<double> t = wire::parse73(rig.ask("73"));
        QVERIFY(qAbs(t.at(0) - parts.at(0).toDouble()) < 0.3);
        QVERIFY(qAbs(t.at(5) - parts.at(1).toDouble()) < 0.3);
        QVERIFY(qAbs(t.at(6) - parts.at(2).toDouble()) < 0.3);
    }
}

void TestSimAnalyzer::statusReply_data()
{
    QTest::addColumn<QList<quint16>>("codes");
    QTest::addColumn<int>("sensor");
    QTest::addColumn<int>("cups");
    QTest::addColumn<int>("expectedSensor");
    QTest::newRow("nothing") << QList<quint16>{} << 0 << 1000 << 0;
    QTest::newRow("door and cups") << QList<quint16>{} << 0x48 << 1000 << 0x48;
    QTest::newRow("every sensor") << QList<quint16>{} << 0x7F << 1000 << 0x7F;
    QTest::newRow("codes and sensors") << QList<quint16>{0x0101, 0x02A0, 0xFFFF} << 0x0C << 1000 << 0x0C;
    QTest::newRow("cups low") << QList<quint16>{0x0001} << 0x01 << 10 << 0x41;
}

void TestSimAnalyzer::statusReply()
{
    QFETCH(QList<quint16>, codes);
    QFETCH(int, sensor);
    QFETCH(int, cups);
    QFETCH(int, expectedSensor);
    SimConfig config;
    config.statusCodes = codes;
    config.sensorWord = quint16(sensor);
    config.cups = cups;
    Rig rig(config);
    const QByteArray reply = rig.ask("24");
    QVERIFY(!wire::isErrorReply(reply));
    const wire::Status st = wire::parse24(reply);
    QList<int> expected;
    for (quint16 c : codes)
        expected << c;
    QCOMPARE(st.codes, expected); // neither the echo nor the sensor word reads as a code
    QCOMPARE(st.sensor, expectedSensor);
}

void TestSimAnalyzer::memoryPersistsInFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimConfig config;
    config.memoryFile = dir.filePath(QStringLiteral("vela.mem"));
    {
        Rig rig(config);
        QCOMPARE(QFileInfo(config.memoryFile).size(), 65536);
        // a fresh memory holds a valid parameter block: size 8, mask 0
        QCOMPARE(rig.ask("4C000008"), QByteArray("4C0800000000000000"));
        QCOMPARE(rig.ask("4D010004DEADBEEF"), QByteArray("4D00"));
        QCOMPARE(rig.ask("4D0004040A000000"), QByteArray("4D00"));
        QByteArray block(64, '\0');
        for (int i = 0; i < 64; ++i)
            block[i] = char(i * 3);
        QCOMPARE(rig.ask("4DFFC040" + block.toHex().toUpper()), QByteArray("4D00"));
    }
    Rig rig(config);
    QCOMPARE(rig.ask("4C010004"), QByteArray("4CDEADBEEF"));
    QCOMPARE(rig.ask("4C000008"), QByteArray("4C080000000A000000"));
    QVERIFY(!rig.analyzer.channelEnabled(2) && !rig.analyzer.channelEnabled(4));
    QByteArray block(64, '\0');
    for (int i = 0; i < 64; ++i)
        block[i] = char(i * 3);
    QCOMPARE(rig.ask("4CFFC040"), "4C" + block.toHex().toUpper());

    // a 100-byte read as the driver makes it: 64 bytes, then 36
    const QByteArray first = rig.ask("4C000040"), second = rig.ask("4C004024");
    QCOMPARE(first.size(), 2 + 128);
    QCOMPARE(second.size(), 2 + 72);

    // without a file the memory lives only as long as the analyzer
    SimConfig volatileConfig;
    {
        Rig a(volatileConfig);
        QCOMPARE(a.ask("4D010004DEADBEEF"), QByteArray("4D00"));
    }
    Rig b(volatileConfig);
    QCOMPARE(b.ask("4C010004"), QByteArray("4C00000000"));
}

void TestSimAnalyzer::memoryBounds_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("read clipped at the end") << QByteArray("4CFFFE04") << QByteArray("4C0000");
    QTest::newRow("read count 0") << QByteArray("4C000000") << QByteArray("4CXX");
    QTest::newRow("read count 65") << QByteArray("4C000041") << QByteArray("4CXX");
    QTest::newRow("read short") << QByteArray("4C0000") << QByteArray("4CXX");
    QTest::newRow("write past the end") << QByteArray("4DFFFF020000") << QByteArray("4DXX");
    QTest::newRow("write data short") << QByteArray("4D00000400") << QByteArray("4DXX");
    QTest::newRow("write data not hex") << QByteArray("4D000001ZZ") << QByteArray("4DXX");
}

void TestSimAnalyzer::memoryBounds()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Rig rig;
    QCOMPARE(rig.ask(command), reply);
    QCOMPARE(rig.ask("4C000008"), QByteArray("4C0800000000000000")); // untouched
}

void TestSimAnalyzer::reagentVolumesFall()
{
    Rig rig;
    QCOMPARE(rig.ask("77PTR17FR2FF"), QByteArray("7700"));
    QCOMPARE(rig.ask("78PT"), QByteArray("78R17FR2FF"));
    QCOMPARE(rig.ask("78AP"), QByteArray("78XX"));
    QCOMPARE(rig.ask("77PTR1"), QByteArray("77XX"));
    const int cups = rig.analyzer.cupsLeft();
    for (quint32 id = 1; id <= 3; ++id)
        QVERIFY(rig.ask(place(id, "B1", "PT", 1, 'L')).startsWith("3111"));
    rig.clock.advance(3 * 8000);
    QCOMPARE(rig.analyzer.cupsLeft(), cups - 3);
    const QByteArray reply = rig.ask("78PT");
    // read as the driver does: pairs of position code and volume from character 2
    QMap<QByteArray, int> volumes;
    for (int i = 2; i <= reply.size() - 4; i += 4)
        volumes[reply.mid(i, 2)] = reply.mid(i + 2, 2).toInt(nullptr, 16);
    QCOMPARE(volumes.value("R1"), 0x7F - 9);
    QCOMPARE(volumes.value("R2"), 0xFF);
    QCOMPARE(rig.analyzer.reagentVolume("pt", "R1"), 0x7F - 9);

    // simulation mode uses nothing up
    QCOMPARE(rig.ask("FB0"), QByteArray("FB00"));
    QVERIFY(rig.ask(place(4, "B1", "PT", 1, 'L')).startsWith("3111"));
    rig.clock.advance(10000);
    QCOMPARE(rig.analyzer.reagentVolume("PT", "R1"), 0x7F - 9);
    QCOMPARE(rig.analyzer.cupsLeft(), cups - 3);
}

void TestSimAnalyzer::workModeAndLight()
{
    Rig rig;
    QCOMPARE(rig.ask("FB1"), QByteArray("FB10"));
    QCOMPARE(rig.ask("FB2"), QByteArray("FBXX"));
    QVERIFY(rig.ask(place(1, "B1", "PT", 1, 'L')).startsWith("3111"));
    rig.clock.advance(8000 + 60000 - 1000);
    QCOMPARE(rig.ask("FD"), QByteArray("FD00"));
    rig.clock.advance(2000);
    QCOMPARE(rig.analyzer.testInfo(1).status, 0x04); // no cup onto a channel while calibrating
    rig.clock.advance(4000);
    QCOMPARE(rig.analyzer.testInfo(1).status, 0x05);
    QCOMPARE(rig.analyzer.testInfo(1).channel, 1);
}

void TestSimAnalyzer::unknownCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("empty") << QByteArray() << QByteArray("XX");
    QTest::newRow("unknown hex code") << QByteArray("99") << QByteArray("99XX");
    QTest::newRow("lower case") << QByteArray("zz") << QByteArray("XX");
    QTest::newRow("24 with junk") << QByteArray("24A") << QByteArray("24XX");
    QTest::newRow("32 short") << QByteArray("3212") << QByteArray("32XX");
    QTest::newRow("binary") << QByteArray("\x01\xFF", 2) << QByteArray("XX");
}

void TestSimAnalyzer::unknownCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Rig rig;
    const SimReply r = rig.analyzer.handle(command);
    QCOMPARE(r.action, SimReply::Reply);
    QCOMPARE(r.line, reply);
    QVERIFY(wire::isErrorReply(r.line));
}

void TestSimAnalyzer::busOfAnalyzers()
{
    QTemporaryDir dir;
    SimConfig config;
    config.ids = {"A1", "B2", "A1"};
    config.memoryFile = dir.filePath(QStringLiteral("m"));
    ManualClock clock;
    SimBus bus(config, &clock);
    QCOMPARE(bus.identifiers(), (QList<QByteArray>{"A1", "B2"}));
    QVERIFY(!bus.analyzer("C3"));
    QCOMPARE(bus.analyzer("A1")->handle("4D01000101").line, QByteArray("4D00"));
    QCOMPARE(bus.analyzer("B2")->handle("4C010001").line, QByteArray("4C00"));
    QVERIFY(QFile::exists(config.memoryFile + ".A1"));
    QVERIFY(QFile::exists(config.memoryFile + ".B2"));
    // the analyzers draw different clot times from the same seed
    QVERIFY(bus.analyzer("A1")->handle(place(1, "B1", "AP", 1, 'L')).line.startsWith("3111"));
    QVERIFY(bus.analyzer("B2")->handle(place(1, "B1", "AP", 1, 'L')).line.startsWith("3111"));
    QVERIFY(bus.analyzer("A1")->testInfo(1).clotHundredths != bus.analyzer("B2")->testInfo(1).clotHundredths);

    SimConfig single;
    single.memoryFile = dir.filePath(QStringLiteral("one"));
    SimBus one(single, &clock);
    QCOMPARE(one.identifiers(), (QList<QByteArray>{"VELA01"}));
    QVERIFY(QFile::exists(single.memoryFile));
}

QTEST_GUILESS_MAIN(TestSimAnalyzer)
#include "tst_simanalyzer.moc"
