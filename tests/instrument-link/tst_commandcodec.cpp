#include "commandcodec.h"

#include <QtTest>

class TestCommandCodec : public QObject
{
    Q_OBJECT

private slots:
    void positionCode_data();
    void positionCode();
    void positionName_data();
    void positionName();
    void volumeToHex_data();
    void volumeToHex();
    void hexToVolume_data();
    void hexToVolume();
    void errorReply_data();
    void errorReply();
    void hexField_data();
    void hexField();
    void helpers();
};

void TestCommandCodec::positionCode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("code");
    QTest::newRow("A1 -> B1") << "A1" << QByteArray("B1");
    QTest::newRow("A12 -> BC") << "A12" << QByteArray("BC");
    QTest::newRow("A10 -> BA") << "A10" << QByteArray("BA");
    QTest::newRow("A15 -> BF") << "A15" << QByteArray("BF");
    QTest::newRow("O3 -> P3") << "O3" << QByteArray("P3");
    QTest::newRow("P stays") << "P3" << QByteArray("P3");
    QTest::newRow("R1 stays") << "R1" << QByteArray("R1");
    QTest::newRow("Z2 stays") << "Z2" << QByteArray("Z2");
    QTest::newRow("B20 -> CK") << "B20" << QByteArray("CK");
    QTest::newRow("R0") << "R0" << QByteArray("R0");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("letter only") << "A" << QByteArray();
    QTest::newRow("no number") << "Ax" << QByteArray();
    QTest::newRow("number too big") << "A36" << QByteArray();
    QTest::newRow("negative") << "A-1" << QByteArray();
    QTest::newRow("digit first") << "11" << QByteArray();
}

void TestCommandCodec::positionCode()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, code);
    QCOMPARE(::positionCode(name), code);
}

void TestCommandCodec::positionName_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("B1 keeps the letter") << QByteArray("B1") << "B1";
    QTest::newRow("RC -> R12") << QByteArray("RC") << "R12";
    QTest::newRow("Z2") << QByteArray("Z2") << "Z2";
    QTest::newRow("lower case digit") << QByteArray("Rc") << "R12";
    QTest::newRow("Z is 35") << QByteArray("RZ") << "R35";
    QTest::newRow("other character counts 0") << QByteArray("R*") << "R0";
    QTest::newRow("longer code") << QByteArray("R1x") << "R1";
    QTest::newRow("one character") << QByteArray("R") << "";
    QTest::newRow("empty") << QByteArray() << "";
}

void TestCommandCodec::positionName()
{
    QFETCH(QByteArray, code);
    QFETCH(QString, name);
    QCOMPARE(::positionName(code), name);
}

void TestCommandCodec::volumeToHex_data()
{
    QTest::addColumn<double>("volume");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("full") << 1.0 << QByteArray("FF");
    QTest::newRow("half truncates") << 0.5 << QByteArray("7F");
    QTest::newRow("empty") << 0.0 << QByteArray("00");
    QTest::newRow("1.2 clamps to FF") << 1.2 << QByteArray("FF");
    QTest::newRow("-0.1 clamps to 00") << -0.1 << QByteArray("00");
    QTest::newRow("small") << 0.02 << QByteArray("05");
    QTest::newRow("nan") << qQNaN() << QByteArray("00");
    QTest::newRow("huge") << 1e300 << QByteArray("FF");
}

void TestCommandCodec::volumeToHex()
{
    QFETCH(double, volume);
    QFETCH(QByteArray, hex);
    QCOMPARE(::volumeToHex(volume), hex);
}

void TestCommandCodec::hexToVolume_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<double>("volume");
    QTest::newRow("FF -> 1.0") << QByteArray("FF") << 1.0;
    QTest::newRow("00 -> 0") << QByteArray("00") << 0.0;
    QTest::newRow("7F") << QByteArray("7F") << 127.0 / 255.0;
    QTest::newRow("lower case") << QByteArray("ff") << 1.0;
    QTest::newRow("above FF clamps") << QByteArray("1FF") << 1.0;
    QTest::newRow("not hex") << QByteArray("ZZ") << 0.0;
    QTest::newRow("empty") << QByteArray() << 0.0;
}

void TestCommandCodec::hexToVolume()
{
    QFETCH(QByteArray, hex);
    QFETCH(double, volume);
    QCOMPARE(::hexToVolume(hex), volume);
}

void TestCommandCodec::errorReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("error");
    QTest::newRow("Err: with text") << QByteArray("Err: no port open") << true;
    QTest::newRow("Err: alone") << QByteArray("Err:") << true;
    QTest::newRow("XX") << QByteArray("XX") << true;
    QTest::newRow("XX and more") << QByteArray("XX12") << true;
    QTest::newRow("32XX") << QByteArray("32XX") << true;
    QTest::newRow("0AXX") << QByteArray("0AXX") << true;
    QTest::newRow("78XX") << QByteArray("78XX") << true;
    QTest::newRow("3200...") << QByteArray("3200000012340F") << false;
    QTest::newRow("lower-case xx") << QByteArray("xx") << false;
    QTest::newRow("lower-case hex before XX") << QByteArray("0aXX") << false;
    QTest::newRow("err: lower case") << QByteArray("err: x") << false;
    QTest::newRow("Err without colon") << QByteArray("Error") << false;
    QTest::newRow("XX later") << QByteArray("3111XX") << false;
    QTest::newRow("one X") << QByteArray("32X") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestCommandCodec::errorReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, error);
    QCOMPARE(matchesErrorReply(reply), error);
}

void TestCommandCodec::hexField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("value");
    QTest::newRow("free count") << QByteArray("311105") << 4 << 2 << 5;
    QTest::newRow("four digits") << QByteArray("5501A0FF") << 4 << 4 << 0xA0FF;
    QTest::newRow("missing") << QByteArray("3111") << 4 << 2 << -1;
    QTest::newRow("one short") << QByteArray("31110") << 4 << 2 << -1;
    QTest::newRow("lower case is no field") << QByteArray("3111ab") << 4 << 2 << -1;
    QTest::newRow("not hex") << QByteArray("3111G0") << 4 << 2 << -1;
}

void TestCommandCodec::hexField()
{
    QFETCH(QByteArray, text);
    QFETCH(int, pos);
    QFETCH(int, count);
    QFETCH(int, value);
    QCOMPARE(::hexField(text, pos, count), value);
}

void TestCommandCodec::helpers()
{
    QCOMPARE(reagentItemCode(QStringLiteral("Buffer")), QByteArray("BU"));
    QCOMPARE(reagentItemCode(QStringLiteral("Rinse")), QByteArray("RI"));
    QCOMPARE(reagentItemCode(QStringLiteral("pt")), QByteArray("PT"));
    QCOMPARE(zeroPadded("P", 2), QByteArray("0P"));
    QCOMPARE(zeroPadded("PT", 2), QByteArray("PT"));
    QCOMPARE(zeroPadded("", 2), QByteArray("00"));
    QCOMPARE(zeroPadded("APTT", 2), QByteArray("APTT"));
}

QTEST_GUILESS_MAIN(TestCommandCodec)
#include "tst_commandcodec.moc"
