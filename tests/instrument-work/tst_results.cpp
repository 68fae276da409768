#include "rig.h"

#include "core/profile.h"
#include "replyparser.h"

#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

namespace {

const quint32 testId = 0x00ABCDEF;

// Answers 32 with result and 60 by the first-point field from curve.
struct Script
{
    QByteArray result;
    std::function<QByteArray(int start)> curve;
};

void install(Rig& rig, const Script& script)
{
    rig.server.setHandler([script](const QByteArray& request) -> QByteArray {
        if (request.startsWith("32"))
            return script.result;
        if (request.startsWith("60") && script.curve)
            return script.curve(request.mid(10, 4).toInt(nullptr, 16));
        return request.left(2) + "XX";
    });
}

QByteArray finalWith(int testTime)
{
    return FakeAnalyzer::finalReply(testId, "B1", "PT", "01", 'L', 3, 0, testTime, -1);
}

std::function<QByteArray(int)> curveOf(int total)
{
    return [total](int start) { return FakeAnalyzer::curveReply(start, 55, total); };
}

} // namespace

class TestResults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void clotTime_data();
    void clotTime();
    void curveInThreeReplies();
    void curveEnds_data();
    void curveEnds();
    void curveLimitedByPointField();
    void runningReply_data();
    void runningReply();
    void failedQueries_data();
    void failedQueries();
    void unknownTest();
    void unknownTestInDemonstration();
    void testReport();

private:
    QTemporaryDir m_dir;
};

void TestResults::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    Profile::instance();
}

void TestResults::init()
{
    Profile& p = Profile::instance();
    p.setValue(QStringLiteral("debug/active"), false, false);
    p.setValue(QStringLiteral("max_clot_time"), QVariant(), false);
    p.setValue(QStringLiteral("PT/max_clot_time"), QVariant(), false);
}

void TestResults::clotTime_data()
{
    QTest::addColumn<int>("testTime");       // hundredths of a second
    QTest::addColumn<QVariant>("itemMax");   // "PT/max_clot_time"
    QTest::addColumn<QVariant>("commonMax"); // "max_clot_time"
    QTest::addColumn<bool>("withAssay");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("interval");

    const QVariant none;
    QTest::newRow("0x0BB8 -> 30.00 s, 0.2") << 0x0BB8 << none << none << true << 30.0 << 0.2;
    QTest::newRow("9.99 s -> 0.05") << 999 << none << none << true << 9.99 << 0.05;
    QTest::newRow("10 s -> 0.1") << 1000 << none << none << true << 10.0 << 0.1;
    QTest::newRow("29.99 s -> 0.1") << 2999 << none << none << true << 29.99 << 0.1;
    QTest::newRow("59.99 s -> 0.2") << 5999 << none << none << true << 59.99 << 0.2;
    QTest::newRow("60 s -> 0.4") << 6000 << none << none << true << 60.0 << 0.4;
    QTest::newRow("item max 20: 25 s not clotted")
        << 2500 << QVariant(20) << none << true << AnalysisResult::notClottedValue << 0.4;
    QTest::newRow("item max 20: 20 s stays") << 2000 << QVariant(20) << none << true << 20.0 << 0.1;
    QTest::newRow("common max 20 as fallback")
        << 2500 << none << QVariant(20) << true << AnalysisResult::notClottedValue << 0.4;
    QTest::newRow("item max wins over common") << 2500 << QVariant(30) << QVariant(20) << true << 25.0 << 0.1;
    QTest::newRow("default max 120: 120 s stays") << 12000 << none << none << true << 120.0 << 0.4;
    QTest::newRow("default max 120: 120.01 s not clotted")
        << 12001 << none << none << true << AnalysisResult::notClottedValue << 0.4;
    QTest::newRow("no assay: common max only") << 2500 << QVariant(20) << none << false << 25.0 << 0.1;
}

void TestResults::clotTime()
{
    QFETCH(int, testTime);
    QFETCH(QVariant, itemMax);
    QFETCH(QVariant, commonMax);
    QFETCH(bool, withAssay);
    QFETCH(double, value);
    QFETCH(double, interval);

    Profile::instance().setValue(QStringLiteral("PT/max_clot_time"), itemMax, false);
    Profile::instance().setValue(QStringLiteral("max_clot_time"), commonMax, false);
    Rig rig;
    install(rig, {finalWith(testTime), curveOf(10)});
    Assay assay("S1", "A1", "PT");
    AnalysisResult result;
    QVERIFY(rig.instrument->fetchResult(testId, &result, withAssay ? &assay : nullptr));
    QCOMPARE(result.value(), value);
    QCOMPARE(result.ch(), 3);
    const ClotCurve curve = result.curve();
    QCOMPARE(curve.segments().size(), 1);
    QCOMPARE(curve.segments().at(0).start, 0.0);
    QCOMPARE(curve.segments().at(0).interval, interval);
    QCOMPARE(curve.size(), 10);
    if (withAssay) {
        QCOMPARE(assay.testElapsed(), testTime / 100);
        QCOMPARE(assay.status(), tq::Measuring);
    }
}

void TestResults::curveInThreeReplies()
{
    Rig rig;
    install(rig, {finalWith(3000), curveOf(120)});
    AnalysisResult result;
    QVERIFY(rig.instrument->fetchResult(testId, &result, nullptr));
    const QList<QByteArray> asked = rig.server.requests("60");
    QCOMPARE(asked, (QList<QByteArray>{"6000ABCDEF000037", "6000ABCDEF003737", "6000ABCDEF006E37"}));
    const QVector<double> values = result.curve().segments().at(0).values;
    QCOMPARE(values.size(), 120);
    QCOMPARE(values.first(), 4096.0);
    QCOMPARE(values.last(), 4096.0 + 119);
}

void TestResults::curveEnds_data()
{
    QTest::addColumn<QList<QByteArray>>("replies"); // by request, the last repeated
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("points"); // -1: no curve attached
    QTest::addColumn<int>("requests");

    QTest::newRow("no curve") << QList<QByteArray>{"6000"} << true << -1 << 1;
    // an unfinished read is asked for again later, not passed off as whole
    QTest::newRow("error reply") << QList<QByteArray>{"60-000100020003-", "60XX"} << false << -1 << 2;
    QTest::newRow("link error") << QList<QByteArray>{"60-00010002-", "Err:timeout"} << false << -1 << 2;
    QTest::newRow("empty field stops") << QList<QByteArray>{"60-00010002-", "60--"} << true << 2 << 2;
    QTest::newRow("end mark at once") << QList<QByteArray>{"60-0000-"} << true << 0 << 1;
    QTest::newRow("no closing dash") << QList<QByteArray>{"60-00010002-", "60-0003"} << false << -1 << 2;
    QTest::newRow("broken link") << QList<QByteArray>{"60-00010002-", ""} << false << -1 << 2;
    // equal points in a row are a flat stretch of the curve, not a repeated reply
    QTest::newRow("120 equal points, read whole")
        << QList<QByteArray>{"60-" + QByteArray("1234").repeated(55) + "-",
                             "60-" + QByteArray("1234").repeated(55) + "-",
                             "60-" + QByteArray("1234").repeated(10) + "0000-"}
        << true << 120 << 3;
}

void TestResults::curveEnds()
{
    QFETCH(QList<QByteArray>, replies);
    QFETCH(bool, ok);
    QFETCH(int, points);
    QFETCH(int, requests);

    Rig rig;
    auto next = std::make_shared<int>(0);
    install(rig,
            {finalWith(3000), [replies, next](int) { return replies.at(qMin((*next)++, int(replies.size()) - 1)); }});
    AnalysisResult result;
    QCOMPARE(rig.instrument->fetchResult(testId, &result, nullptr), ok);
    QCOMPARE(rig.server.requests("60").size(), requests);
    if (ok) {
        QCOMPARE(result.curve().isEmpty(), points < 0);
        if (points >= 0)
            QCOMPARE(result.curve().size(), points);
    }
}

void TestResults::curveLimitedByPointField()
{
    // An analyzer that never ends its curve: the first-point field cannot
    // go past FFFF, so the read stops there.
    Rig rig;
    install(rig, {finalWith(3000), [](int start) { return FakeAnalyzer::curveReply(start, 55, 1 << 20); }});
    AnalysisResult result;
    QVERIFY(rig.instrument->fetchResult(testId, &result, nullptr));
    const QList<QByteArray> asked = rig.server.requests("60");
    QCOMPARE(asked.size(), 0x10000 / 55 + 1);
    for (const QByteArray& r : asked)
        QCOMPARE(r.size(), 16);
    QVERIFY(asked.last().mid(10, 4).toInt(nullptr, 16) <= 0xFFFF);
    QCOMPARE(result.curve().size(), asked.size() * 55);
}

void TestResults::runningReply_data()
{
    QTest::addColumn<int>("prewarm");
    QTest::addColumn<int>("testTime"); // -1: no field
    QTest::addColumn<int>("elapsed");
    QTest::addColumn<int>("incubation");
    QTest::addColumn<int>("status");

    QTest::newRow("pre-warm only") << 0x20 << -1 << 0 << 0x20 << int(tq::Started);
    QTest::newRow("0x0032 (0.5 s) leaves elapsed and status") << 0x20 << 0x32 << 0 << 0x20 << int(tq::Started);
    QTest::newRow("0x0064 (1 s) measuring") << 0x20 << 0x64 << 1 << 0x20 << int(tq::Measuring);
    QTest::newRow("0x0BB8 (30 s)") << 0x05 << 0xBB8 << 30 << 0x05 << int(tq::Measuring);
}

void TestResults::runningReply()
{
    QFETCH(int, prewarm);
    QFETCH(int, testTime);
    QFETCH(int, elapsed);
    QFETCH(int, incubation);
    QFETCH(int, status);

    Rig rig;
    install(rig, {FakeAnalyzer::runningReply(testId, prewarm, testTime), curveOf(10)});
    Assay assay("S1", "A1", "PT");
    assay.setStatus(tq::Started);
    AnalysisResult result;
    QVERIFY(!rig.instrument->fetchResult(testId, &result, &assay));
    QCOMPARE(assay.testElapsed(), elapsed);
    QCOMPARE(assay.incubationElapsed(), incubation);
    QCOMPARE(int(assay.status()), status);
    QVERIFY(rig.server.requests("60").isEmpty());
    QVERIFY(assay.message().isEmpty());
}

void TestResults::failedQueries_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("status not a number") << QByteArray("32ZZ");
    QTest::newRow("link error") << QByteArray("Err:timeout");
    QTest::newRow("broken link") << QByteArray();
    QTest::newRow("final without test time")
        << FakeAnalyzer::gbk(QStringLiteral("320F 00ABCDEFB1PT01L2024120814300000 03 00   预温时间:0010"));
}

void TestResults::failedQueries()
{
    QFETCH(QByteArray, reply);
    Rig rig;
    install(rig, {reply, curveOf(10)});
    Assay assay("S1", "A1", "PT");
    AnalysisResult result(5.0);
    QVERIFY(!rig.instrument->fetchResult(testId, &result, &assay));
    QCOMPARE(result.value(), 5.0);
    QVERIFY(assay.result().isNull());
    QVERIFY(assay.message().isEmpty());
}

void TestResults::unknownTest()
{
    Rig rig;
    install(rig, {"32XX", curveOf(10)});
    Assay assay("S1", "A1", "PT");
    assay.setResult(AnalysisResult(12.0));
    AnalysisResult result(5.0);
    QVERIFY(rig.instrument->fetchResult(testId, &result, &assay));
    QCOMPARE(result.value(), 0.0);
    QVERIFY(result.isNull());
    QVERIFY(result.curve().isEmpty());
    QVERIFY(rig.server.requests("60").isEmpty());
}

void TestResults::unknownTestInDemonstration()
{
    Profile::instance().setValue(QStringLiteral("debug/active"), true, false);
    Rig rig;
    install(rig, {"32XX", curveOf(10)});
    Assay assay("S1", "A1", "PT");
    const AnalysisResult own(12.0);
    assay.setResult(own);
    AnalysisResult result;
    QVERIFY(rig.instrument->fetchResult(testId, &result, &assay));
    QVERIFY(result.isCopyOf(own));
    QVERIFY(rig.instrument->fetchResult(testId, &result, nullptr));
    QVERIFY(result.isNull());
}

void TestResults::testReport()
{
    Rig rig;
    rig.instrument->addMessage(0x1C, 2, QStringLiteral("光路异常"));
    const QByteArray reply = FakeAnalyzer::finalReply(testId, "BC", "AP", "02", 'C', 10, 0x1C, 3000, 0x12C);
    install(rig, {reply, curveOf(10)});
    Assay assay("S1", "A12", "APTT");
    AnalysisResult result;
    QVERIFY(rig.instrument->fetchResult(testId, &result, &assay));
    const QStringList expected{
        QStringLiteral("测试编号:00ABCDEF"), QStringLiteral("样本位置:BC"),
        QStringLiteral("测试项目:AP"),       QStringLiteral("稀释倍数:1/02"),
        QStringLiteral("测试方法:磁珠法"),   QStringLiteral("测试日期:2024120814300000"),
        QStringLiteral("测试通道:0A"),       QStringLiteral("预温超时:300"),
        QStringLiteral("错误信息:光路异常"), QStringLiteral("返回指令:") + ReplyParser::decodeReply(reply),
    };
    QCOMPARE(assay.message().split(QLatin1Char('\n')), expected);
    QVERIFY(!assay.message().endsWith(QLatin1Char('\n')));
    QCOMPARE(result.ch(), 10);

    // optical, no pre-warm timeout field, no message for the code
    install(rig, {FakeAnalyzer::finalReply(testId, "B1", "PT", "01", 'L', 1, 0, 3000, -1), curveOf(10)});
    QVERIFY(rig.instrument->fetchResult(testId, &result, &assay));
    const QStringList lines = assay.message().split(QLatin1Char('\n'));
    QCOMPARE(lines.at(4), QStringLiteral("测试方法:光学法"));
    QCOMPARE(lines.at(7), QStringLiteral("预温超时:0"));
    QCOMPARE(lines.at(8), QStringLiteral("错误信息:"));
}

QTEST_GUILESS_MAIN(TestResults)
#include "tst_results.moc"
