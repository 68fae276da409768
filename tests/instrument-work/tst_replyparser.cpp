#include "instrument/replyparser.h"
#include "instrument/temperaturestability.h"

#include <QTest>
#include <QTextCodec>

using namespace ReplyParser;

namespace {

// The analyzer writes its labels in GBK.
QByteArray gbk(const QString& text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

// A final reply: fixed part, then channel and error code ahead of the
// test-time label as the analyzer places them.
QByteArray finalReply(const QString& channel, const QString& error, const QString& testTime)
{
    return gbk(QStringLiteral("320F 00001234B1PT01L2024120814300000") + channel + QLatin1Char(' ') + error
               + QStringLiteral("   测试时间:") + testTime);
}

} // namespace

class TestReplyParser : public QObject
{
    Q_OBJECT

private slots:
    void testReply_data();
    void testReply();
    void testReplyFixedFields();
    void curveReply_data();
    void curveReply();
    void statusReply_data();
    void statusReply();
    void temperatureTexts_data();
    void temperatureTexts();
    void setPointReply_data();
    void setPointReply();
    void placementReply_data();
    void placementReply();
    void moduleStateReply_data();
    void moduleStateReply();
    void analyzerList_data();
    void analyzerList();
    void linkFaultAndKnownTest_data();
    void linkFaultAndKnownTest();
    void stability_data();
    void stability();
    void settledTest_data();
    void settledTest();
};

void TestReplyParser::testReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("unknown");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("testTime");       // -1: absent
    QTest::addColumn<int>("prewarmTime");    // -1: absent
    QTest::addColumn<int>("prewarmTimeout"); // -1: absent
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("error");

    QTest::newRow("final 0BB8") << finalReply("03", "00", "0BB8") << false << true << 0x0F << 3000 << -1 << -1 << "03"
                                << "00";
    QTest::newRow("final, channel A, error 1C")
        << finalReply("0A", "1C", "03E7") << false << true << 0x0F << 999 << -1 << -1 << "0A"
        << "1C";
    QTest::newRow("blanks after label") << gbk(
        QStringLiteral("320F 00001234B1PT01L202412081430000003 00   测试时间: \t 0032"))
                                        << false << true << 0x0F << 0x32 << -1 << -1 << "03"
                                        << "00";
    QTest::newRow("running with pre-warm")
        << gbk(QStringLiteral("3203 00001234B1PT01L2024120814300000 预温时间:0010 预温超时时间:012C")) << false << true
        << 3 << -1 << 0x10 << 300 << ""
        << "";
    QTest::newRow("running with test time")
        << gbk(QStringLiteral("3205 00001234B1PT01L2024120814300000 预温时间:00B4 测试时间:0032")) << false << true << 5
        << 0x32 << 0xB4 << -1 << ""
        << "";
    QTest::newRow("lower-case hex value")
        << gbk(QStringLiteral("320F 00001234B1PT01L2024120814300000 xx yy   测试时间:0bb8")) << false << true << 0x0F
        << 3000 << -1 << -1 << "xx"
        << "yy";
    QTest::newRow("three digits only: no field")
        << gbk(QStringLiteral("320F 00001234B1PT01L2024120814300000 03 00   测试时间:BB8")) << false << true << 0x0F
        << -1 << -1 << -1 << ""
        << "";
    QTest::newRow("label as UTF-8 is not the GBK label")
        << QStringLiteral("320F 00001234B1PT01L2024120814300000 03 00   测试时间:0BB8").toUtf8() << false << true
        << 0x0F << -1 << -1 << -1 << ""
        << "";
    QTest::newRow("label near the start: no channel")
        << gbk(QStringLiteral("320F测试时间:0BB8")) << false << true << 0x0F << 3000 << -1 << -1 << ""
        << "";
    QTest::newRow("unknown test") << QByteArray("32XX") << true << false << -1 << -1 << -1 << -1 << ""
                                  << "";
    QTest::newRow("status not hex") << QByteArray("32G1 00001234") << false << false << -1 << -1 << -1 << -1 << ""
                                    << "";
    QTest::newRow("status with sign") << QByteArray("32+1 00001234") << false << false << -1 << -1 << -1 << -1 << ""
                                      << "";
    QTest::newRow("link error") << QByteArray("Err:timeout") << false << false << -1 << -1 << -1 << -1 << ""
                                << "";
    QTest::newRow("empty") << QByteArray() << false << false << -1 << -1 << -1 << -1 << ""
                           << "";
    QTest::newRow("too short") << QByteArray("320") << false << false << -1 << -1 << -1 << -1 << ""
                               << "";
}

void TestReplyParser::testReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, unknown);
    QFETCH(bool, parsed);
    QFETCH(int, status);
    QFETCH(int, testTime);
    QFETCH(int, prewarmTime);
    QFETCH(int, prewarmTimeout);
    QFETCH(QString, channel);
    QFETCH(QString, error);

    const TestReply r = parseTestReply(reply);
    QCOMPARE(r.unknownTest, unknown);
    QCOMPARE(r.parsed, parsed);
    QCOMPARE(r.status, status);
    QCOMPARE(r.hasTestTime, testTime >= 0);
    if (testTime >= 0)
        QCOMPARE(r.testTime, testTime);
    QCOMPARE(r.hasPrewarmTime, prewarmTime >= 0);
    if (prewarmTime >= 0)
        QCOMPARE(r.prewarmTime, prewarmTime);
    QCOMPARE(r.hasPrewarmTimeout, prewarmTimeout >= 0);
    if (prewarmTimeout >= 0)
        QCOMPARE(r.prewarmTimeout, prewarmTimeout);
    QCOMPARE(r.channel, channel);
    QCOMPARE(r.errorCode, error);
}

void TestReplyParser::testReplyFixedFields()
{
    const TestReply r = parseTestReply(finalReply("0A", "1C", "0BB8"));
    QVERIFY(r.isFinal());
    QCOMPARE(r.field(5, 8), QStringLiteral("00001234"));
    QCOMPARE(r.field(13, 2), QStringLiteral("B1"));
    QCOMPARE(r.field(15, 2), QStringLiteral("PT"));
    QCOMPARE(r.field(17, 2), QStringLiteral("01"));
    QCOMPARE(r.field(19, 1), QStringLiteral("L"));
    QCOMPARE(r.field(20, 16), QStringLiteral("2024120814300000"));
    QCOMPARE(r.channelNumber(), 10);
    QCOMPARE(r.errorNumber(), 0x1C);
    QVERIFY(r.text.endsWith(QStringLiteral("测试时间:0BB8")));

    const TestReply odd = parseTestReply(finalReply("Q1", "-2", "0BB8"));
    QCOMPARE(odd.channelNumber(), -1);
    QCOMPARE(odd.errorNumber(), -1);
}

void TestReplyParser::curveReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("noCurve");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QVector<double>>("points");

    QTest::newRow("three points") << QByteArray("6001-000100020FFF-") << false << true << false
                                  << QVector<double>{1, 2, 4095};
    QTest::newRow("end mark") << QByteArray("6001-00010002000000050006-") << false << true << true
                              << QVector<double>{1, 2};
    QTest::newRow("end mark first") << QByteArray("6001-0000-") << false << true << true << QVector<double>{};
    QTest::newRow("empty field") << QByteArray("6001--") << false << true << false << QVector<double>{};
    QTest::newRow("partial group ignored")
        << QByteArray("6001-0001002-") << false << true << false << QVector<double>{1};
    QTest::newRow("text after the field")
        << QByteArray("6001-ABCD-0001-") << false << true << false << QVector<double>{0xABCD};
    QTest::newRow("no curve") << QByteArray("6000-0001-") << true << false << false << QVector<double>{};
    QTest::newRow("no closing dash") << QByteArray("6001-00010002") << false << false << false << QVector<double>{};
    QTest::newRow("no dash") << QByteArray("600100010002") << false << false << false << QVector<double>{};
    QTest::newRow("not hex") << QByteArray("6001-0001ZZ01-") << false << false << false << QVector<double>{};
    QTest::newRow("empty") << QByteArray() << false << false << false << QVector<double>{};
}

void TestReplyParser::curveReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, noCurve);
    QFETCH(bool, parsed);
    QFETCH(bool, ended);
    QFETCH(QVector<double>, points);

    const CurveReply r = parseCurveReply(reply);
    QCOMPARE(r.noCurve, noCurve);
    QCOMPARE(r.parsed, parsed);
    QCOMPARE(r.ended, ended);
    QCOMPARE(r.points, points);
}

void TestReplyParser::statusReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<int>("sensor"); // -1: no sensor word

    QTest::newRow("codes and sensor") << QByteArray("0101 0A0F Sensor-48-") << QList<int>{0x0101, 0x0A0F} << 0x48;
    QTest::newRow("codes run together") << QByteArray("01010A0FSensor-0-") << QList<int>{0x0101, 0x0A0F} << 0;
    QTest::newRow("sensor only") << QByteArray("Sensor-7F-") << QList<int>{} << 0x7F;
    QTest::newRow("four-digit sensor word is no code") << QByteArray("0101 Sensor-0048-") << QList<int>{0x0101} << 0x48;
    QTest::newRow("lower-case group is no code") << QByteArray("0a0f 0101 Sensor-1-") << QList<int>{0x0101} << 1;
    QTest::newRow("sensor without closing dash") << QByteArray("0101 Sensor-48") << QList<int>{0x0101} << -1;
    QTest::newRow("sensor word too wide") << QByteArray("Sensor-10000-") << QList<int>{} << -1;
    QTest::newRow("nothing") << QByteArray("24") << QList<int>{} << -1;
    QTest::newRow("empty") << QByteArray() << QList<int>{} << -1;
}

void TestReplyParser::statusReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<int>, codes);
    QFETCH(int, sensor);

    const StatusReply r = parseStatusReply(reply);
    QCOMPARE(r.errorCodes, codes);
    QCOMPARE(r.hasSensorWord, sensor >= 0);
    if (sensor >= 0)
        QCOMPARE(int(r.sensorWord), sensor);
}

void TestReplyParser::temperatureTexts_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("nine") << QByteArray("73 36.9 25.0 37.0 20.1 20.2 37.1 8.0 22.0 22.5")
                          << QStringList{"36.9", "25.0", "37.0", "20.1", "20.2", "37.1", "8.0", "22.0", "22.5"};
    QTest::newRow("double blanks") << QByteArray("73-36.9  25.0 ") << QStringList{"36.9", "25.0"};
    QTest::newRow("three characters only") << QByteArray("73-") << QStringList{};
    QTest::newRow("empty") << QByteArray() << QStringList{};
}

void TestReplyParser::temperatureTexts()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, texts);
    QCOMPARE(parseTemperatureTexts(reply), texts);
}

void TestReplyParser::setPointReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QList<double>>("values");

    QTest::newRow("three") << QByteArray("74-37.00 37.50 15.00") << true << QList<double>{37.0, 37.5, 15.0};
    QTest::newRow("two, blanks") << QByteArray("74- 36.9  37.1 ") << true << QList<double>{36.9, 37.1};
    QTest::newRow("unreadable counts 0") << QByteArray("74-36.9 x 15") << true << QList<double>{36.9, 0.0, 15.0};
    // "nan" and "inf" read as numbers; as set points they are unreadable.
    QTest::newRow("nan and inf count 0") << QByteArray("74-nan inf -inf") << true << QList<double>{0.0, 0.0, 0.0};
    QTest::newRow("overflow counts 0") << QByteArray("74-1e400 37") << true << QList<double>{0.0, 37.0};
    QTest::newRow("no dash") << QByteArray("7437.00 37.00 15.00") << false << QList<double>{};
    QTest::newRow("error reply") << QByteArray("74XX") << false << QList<double>{};
}

void TestReplyParser::setPointReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, valid);
    QFETCH(QList<double>, values);
    const SetPointReply r = parseSetPointReply(reply);
    QCOMPARE(r.valid, valid);
    QCOMPARE(r.values, values);
}

void TestReplyParser::placementReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("freeCount");

    QTest::newRow("accepted, room for 3") << QByteArray("311103") << true << 3;
    QTest::newRow("accepted, hex count") << QByteArray("31111A") << true << 26;
    QTest::newRow("accepted, no count") << QByteArray("3111") << true << 0;
    QTest::newRow("accepted, count not hex") << QByteArray("3111zz") << true << 0;
    QTest::newRow("no room") << QByteArray("3100") << false << 0;
    QTest::newRow("error reply") << QByteArray("31XX") << false << 0;
    QTest::newRow("empty") << QByteArray() << false << 0;
}

void TestReplyParser::placementReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QFETCH(int, freeCount);
    const PlacementReply r = parsePlacementReply(reply);
    QCOMPARE(r.accepted, accepted);
    QCOMPARE(r.freeCount, freeCount);
    // The release refusal of command 34 is its own prefix.
    QVERIFY(!isReleaseRefused(reply));
    QVERIFY(isReleaseRefused("3400C0"));
}

void TestReplyParser::moduleStateReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<QList<int>>("codes");

    QTest::newRow("idle") << QByteArray("5500") << true << QList<int>();
    QTest::newRow("idle, codes ignored") << QByteArray("55000012") << true << QList<int>();
    QTest::newRow("two codes") << QByteArray("55010012A0FF") << false << QList<int>{0x12, 0xA0FF};
    QTest::newRow("stops at a group that is no code") << QByteArray("55010012zz000013") << false << QList<int>{0x12};
    QTest::newRow("part group dropped") << QByteArray("5501001") << false << QList<int>();
    QTest::newRow("empty") << QByteArray() << false << QList<int>();
}

void TestReplyParser::moduleStateReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, idle);
    QFETCH(QList<int>, codes);
    const ModuleStateReply r = parseModuleStateReply(reply);
    QCOMPARE(r.idle, idle);
    QCOMPARE(r.codes, codes);
}

void TestReplyParser::analyzerList_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("one") << QByteArray("VELA01") << QStringList{QStringLiteral("VELA01")};
    QTest::newRow("two") << QByteArray("VELA01,VELA02")
                         << QStringList{QStringLiteral("VELA01"), QStringLiteral("VELA02")};
    QTest::newRow("empty parts dropped") << QByteArray(",VELA01,,") << QStringList{QStringLiteral("VELA01")};
    QTest::newRow("none") << QByteArray() << QStringList();
}

void TestReplyParser::analyzerList()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, ids);
    QCOMPARE(parseAnalyzerList(reply), ids);
}

void TestReplyParser::linkFaultAndKnownTest_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("linkFault");
    QTest::addColumn<bool>("knownTest");

    QTest::newRow("no reply") << QByteArray() << true << false;
    QTest::newRow("Linkhub time-out") << QByteArray("Err:time-out, analyzer VELA01 did not answer") << true << false;
    QTest::newRow("unknown test") << QByteArray("32XX") << false << false;
    QTest::newRow("running test") << QByteArray("3201 00001234B1PT01L") << false << true;
    QTest::newRow("another command's reply") << QByteArray("3111") << false << false;
    QTest::newRow("analyzer error") << QByteArray("XX") << false << false;
}

void TestReplyParser::linkFaultAndKnownTest()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, linkFault);
    QFETCH(bool, knownTest);
    QCOMPARE(isLinkFault(reply), linkFault);
    QCOMPARE(isKnownTest(reply), knownTest);
}

void TestReplyParser::stability_data()
{
    QTest::addColumn<double>("base");
    QTest::addColumn<double>("swing");  // readings alternate base +- swing
    QTest::addColumn<int>("settledAt"); // reading at which the test passes; 0: never (within 100)

    QTest::newRow("around 37") << 37.0 << 0.1 << 41;
    QTest::newRow("around 30") << 30.0 << 0.1 << 0;
    QTest::newRow("around 34.5") << 34.5 << 0.1 << 41;
    QTest::newRow("around 33.9") << 33.9 << 0.05 << 0;
    QTest::newRow("around 40.2") << 40.2 << 0.1 << 0;
    QTest::newRow("37 swinging 3 degrees") << 37.0 << 3.0 << 0;
    QTest::newRow("37 swinging 1.5 degrees") << 37.0 << 1.5 << 41;
}

void TestReplyParser::stability()
{
    QFETCH(double, base);
    QFETCH(double, swing);
    QFETCH(int, settledAt);

    QList<float> history;
    int at = 0;
    for (int i = 1; i <= 100 && at == 0; ++i) {
        if (TemperatureStability::addReading(&history, float(base + (i % 2 ? swing : -swing))))
            at = i;
        QVERIFY(history.size() <= TemperatureStability::readingCount);
    }
    QCOMPARE(at, settledAt);
    if (at)
        QVERIFY(history.isEmpty());
}

void TestReplyParser::settledTest_data()
{
    QTest::addColumn<QList<float>>("readings");
    QTest::addColumn<bool>("settled");

    QTest::newRow("one reading") << QList<float>{37.0f} << false;
    QTest::newRow("none") << QList<float>{} << false;
    QTest::newRow("two equal") << QList<float>{37.0f, 37.0f} << true;
    // mean 37: sample sd 2.12 (cv 0.057), population sd 1.5 (cv 0.041)
    QTest::newRow("sample, not population, deviation") << QList<float>{35.5f, 38.5f} << false;
    QTest::newRow("negative mean") << QList<float>{-37.0f, -37.0f} << false;
}

void TestReplyParser::settledTest()
{
    QFETCH(QList<float>, readings);
    QFETCH(bool, settled);
    QCOMPARE(TemperatureStability::isSettled(readings), settled);
}

QTEST_GUILESS_MAIN(TestReplyParser)
#include "tst_replyparser.moc"
