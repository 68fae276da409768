#include "replymatch.h"

#include <QtTest>

// Which lines may be taken as the reply of a request: the echo rules.
class TestReplyMatch : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
};

void TestReplyMatch::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("taken");

    const QByteArray q32 = "3200001234";
    QTest::newRow("32 own test") << q32 << QByteArray("3203 00001234B1PT01L2026-01-01 10:00") << true;
    QTest::newRow("32 other test") << q32 << QByteArray("3203 00001235B1PT01L2026-01-01 10:00") << false;
    QTest::newRow("32 number not hex, read later") << QByteArray("32000012AB") << QByteArray("3203 000012abB1") << true;
    QTest::newRow("32 garbled number read later") << q32 << QByteArray("32?#03 0000123") << true;
    QTest::newRow("32 short") << q32 << QByteArray("3201") << true;
    QTest::newRow("32 without a number asked") << QByteArray("32") << QByteArray("3200000012340F") << true;
    QTest::newRow("32 unknown test") << q32 << QByteArray("32XX") << true;
    QTest::newRow("32 answered by a 24") << q32 << QByteArray("24 Sensor-0-") << false;
    QTest::newRow("31XX while 32 waits") << q32 << QByteArray("31XX") << false;
    QTest::newRow("bare XX") << q32 << QByteArray("XX") << true;
    QTest::newRow("link error") << q32 << QByteArray("Err: no reply") << true;
    QTest::newRow("31 accepted") << QByteArray("3100001234B1PT01L") << QByteArray("311103") << true;
    QTest::newRow("31 full") << QByteArray("3100001234B1PT01L") << QByteArray("3100") << true;
    QTest::newRow("31 answered by 34") << QByteArray("3100001234B1PT01L") << QByteArray("3400") << false;
    QTest::newRow("34 refused") << QByteArray("3400001234") << QByteArray("3400C0") << true;
    QTest::newRow("55 busy") << QByteArray("552") << QByteArray("55010000") << true;
    QTest::newRow("55 answered by 53") << QByteArray("552") << QByteArray("5300") << false;
    QTest::newRow("74 set points") << QByteArray("74") << QByteArray("74-37.00 37.00 15.00") << true;
    QTest::newRow("74 answered by 73") << QByteArray("74") << QByteArray("73 36.9") << false;
    QTest::newRow("60 own chunk") << QByteArray("60000012340037") << QByteArray("6001000012340037-0001-") << true;
    QTest::newRow("60 other chunk") << QByteArray("60000012340037") << QByteArray("6001000012340000-0001-") << false;
    QTest::newRow("60 other test") << QByteArray("60000012340000") << QByteArray("60010000BEEF0000-0001-") << false;
    QTest::newRow("60 no curve") << QByteArray("60000012340000") << QByteArray("6000") << true;
    QTest::newRow("73 takes any line") << QByteArray("73") << QByteArray("24 Sensor-0-") << true;
    QTest::newRow("control line takes any line") << QByteArray("/010") << QByteArray("VELA01,VELA02") << true;
    QTest::newRow("probe refusal of its own") << QByteArray("4013") << QByteArray("40XX") << true;
    QTest::newRow("probe refusal of another") << QByteArray("4013") << QByteArray("41XX") << false;
}

void TestReplyMatch::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(bool, taken);
    QCOMPARE(ReplyMatch::answers(request, reply), taken);
}

QTEST_GUILESS_MAIN(TestReplyMatch)
#include "tst_replymatch.moc"
