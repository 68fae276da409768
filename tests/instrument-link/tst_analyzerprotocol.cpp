// Every typed operation of the analyzer protocol against the exact line it
// puts on the wire, in the C locale and in one whose decimal separator is a
// comma; the reply comes back to the caller as the talk function gave it.
#include "analyzerprotocol.h"

#include <QScopeGuard>
#include <QTest>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

using Operation = std::function<QByteArray(const AnalyzerProtocol&)>;
Q_DECLARE_METATYPE(Operation)

namespace {

const QString bead = QStringLiteral("磁珠法");
const QString optical = QStringLiteral("光学法");

// Switches the process to a locale whose decimal separator is a comma;
// false when the machine has none (scripts/setup.sh makes de_DE.UTF-8).
bool useCommaDecimalLocale()
{
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
        if (std::setlocale(LC_ALL, name))
            return true;
    }
    return false;
}

QByteArray suffix(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const QByteArray text = VelaProtocol::probeSuffix(format, args);
    va_end(args);
    return text;
}

} // namespace

class TestAnalyzerProtocol : public QObject
{
    Q_OBJECT

private slots:
    void operations_data();
    void operations();
    void operationsCommaLocale_data() { operations_data(); }
    void operationsCommaLocale();
    void probeDone_data();
    void probeDone();
    void probeSuffix();
};

void TestAnalyzerProtocol::operations_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("line");
    using P = const AnalyzerProtocol&;
    using VelaProtocol::probeOffset;
    using VelaProtocol::probeVolume;

    QTest::newRow("31 optical") << Operation([](P p) { return p.placeTest(0x1234, "B1", "PT", 1, optical); })
                                << QByteArray("3100001234B1PT01L");
    QTest::newRow("31 no method is optical")
        << Operation([](P p) { return p.placeTest(0x1234, "B1", "PT", 1, QString()); })
        << QByteArray("3100001234B1PT01L");
    QTest::newRow("31 bead, factor 10") << Operation([](P p) { return p.placeTest(0xFFFFFFFF, "PC", "FI", 10, bead); })
                                        << QByteArray("31FFFFFFFFPCFI10C");
    QTest::newRow("31 short codes padded")
        << Operation([](P p) { return p.placeTest(1, "Z", "P", 2, optical); }) << QByteArray("31000000010Z0P02L");
    QTest::newRow("32") << Operation([](P p) { return p.queryTest(0xABCDEF01); }) << QByteArray("32ABCDEF01");
    QTest::newRow("34") << Operation([](P p) { return p.releaseTest(1); }) << QByteArray("3400000001");
    QTest::newRow("60 first chunk") << Operation([](P p) { return p.readCurve(0x1234, 0); })
                                    << QByteArray("6000001234000037");
    QTest::newRow("60 third chunk") << Operation([](P p) { return p.readCurve(0x1234, 110); })
                                    << QByteArray("600000123400"
                                                  "6E37");

    QTest::newRow("4C block") << Operation([](P p) { return p.readMemory(0, 8); }) << QByteArray("4C000008");
    QTest::newRow("4C last chunk") << Operation([](P p) { return p.readMemory(0xFFC0, 64); }) << QByteArray("4CFFC040");
    QTest::newRow("4D upper-case hex") << Operation([](P p) {
        return p.writeMemory(0x10, QByteArray("\x08\0\0\0\xab", 5));
    }) << QByteArray("4D00100508000000AB");

    QTest::newRow("5113") << Operation([](P p) { return p.moduleAction(0x13); }) << QByteArray("5113");
    QTest::newRow("5123") << Operation([](P p) { return p.moduleAction(0x23); }) << QByteArray("5123");
    QTest::newRow("5124") << Operation([](P p) { return p.moduleAction(0x24); }) << QByteArray("5124");
    QTest::newRow("55 module 2") << Operation([](P p) { return p.moduleState(2); }) << QByteArray("552");
    QTest::newRow("5C channel 10 -> A") << Operation([](P p) { return p.switchChannel(10, true); })
                                        << QByteArray("5CA");
    QTest::newRow("5D channel 1") << Operation([](P p) { return p.switchChannel(1, false); }) << QByteArray("5D1");

    QTest::newRow("5E channel 1") << Operation([](P p) { return p.setUpManualTest(1, 1234, "PT", 1, optical); })
                                  << QByteArray("5E1000004D2B1PT01L");
    QTest::newRow("5E channel 10, bead, factor 10 in hex")
        << Operation([](P p) { return p.setUpManualTest(10, 0x89ABCDEF, "FI", 10, bead); })
        << QByteArray("5EA89ABCDEFB1FI0AC");
    QTest::newRow("5E factor's low 8 bits")
        << Operation([](P p) { return p.setUpManualTest(2, 1, "TT", 0x105, optical); })
        << QByteArray("5E200000001B1TT05L");
    QTest::newRow("5F channel 10 -> A") << Operation([](P p) { return p.startManualTest(10); }) << QByteArray("5FA");

    QTest::newRow("24") << Operation([](P p) { return p.readStatus(); }) << QByteArray("24");
    QTest::newRow("73") << Operation([](P p) { return p.readTemperatures(); }) << QByteArray("73");
    QTest::newRow("74") << Operation([](P p) { return p.readSetPoints(); }) << QByteArray("74");
    QTest::newRow("75 with a bias") << Operation([](P p) { return p.writeSetPoints(37, 37.5, 15); })
                                    << QByteArray("7537.00 37.50 15.00");
    QTest::newRow("75 below 10 has a leading blank")
        << Operation([](P p) { return p.writeSetPoints(37, 37, 9.5); }) << QByteArray("7537.00 37.00  9.50");

    QTest::newRow("77 two bottles") << Operation([](P p) {
        return p.sendReagentTable(QStringLiteral("PT"), {{QStringLiteral("R1"), 0.5}, {QStringLiteral("R2"), 1.0}});
    }) << QByteArray("77PTR17FR2FF");
    QTest::newRow("77 Buffer, shifted letter, clamped volume") << Operation([](P p) {
        return p.sendReagentTable(QStringLiteral("Buffer"), {{QStringLiteral("A12"), 1.2}});
    }) << QByteArray("77BUBCFF");
    QTest::newRow("78 Rinse") << Operation([](P p) { return p.readReagentVolumes(QStringLiteral("Rinse")); })
                              << QByteArray("78RI");

    QTest::newRow("FB0 simulation") << Operation([](P p) { return p.setWorkMode(true); }) << QByteArray("FB0");
    QTest::newRow("FB1 normal work") << Operation([](P p) { return p.setWorkMode(false); }) << QByteArray("FB1");
    QTest::newRow("FD") << Operation([](P p) { return p.calibrateLight(); }) << QByteArray("FD");

    QTest::newRow("49 all positions") << Operation([](P p) { return p.probeStep(0x49, '1', '3'); })
                                      << QByteArray("4913");
    QTest::newRow("4B volume 50") << Operation([](P p) { return p.probeStep(0x4B, '1', '3', probeVolume(50)); })
                                  << QByteArray("4B1332");
    QTest::newRow("4B arm 2 probe 4 volume 5")
        << Operation([](P p) { return p.probeStep(0x4B, '2', '4', probeVolume(5)); }) << QByteArray("4B2405");
    QTest::newRow("4F right") << Operation([](P p) { return p.probeStep(0x4F, '1', '3', probeOffset(20, 0)); })
                              << QByteArray("4F13X14Y00");
    QTest::newRow("4F left") << Operation([](P p) { return p.probeStep(0x4F, '1', '3', probeOffset(-20, 0)); })
                             << QByteArray("4F13XECY00");
    QTest::newRow("4F down") << Operation([](P p) { return p.probeStep(0x4F, '1', '3', probeOffset(0, 20)); })
                             << QByteArray("4F13X00Y14");
    QTest::newRow("4F up, arm 2 probe 4")
        << Operation([](P p) { return p.probeStep(0x4F, '2', '4', probeOffset(0, -20)); }) << QByteArray("4F24X00YEC");
    QTest::newRow("poll 551") << Operation([](P p) { return p.pollProbe(0x55, '1'); }) << QByteArray("551");
    QTest::newRow("poll 542") << Operation([](P p) { return p.pollProbe(0x54, '2'); }) << QByteArray("542");
}

void TestAnalyzerProtocol::operations()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, line);
    QList<QByteArray> sent;
    const AnalyzerProtocol protocol([&sent](const QByteArray& l) {
        sent.append(l);
        return "reply to " + l;
    });
    QCOMPARE(operation(protocol), "reply to " + line);
    QCOMPARE(sent, QList<QByteArray>{line});
}

void TestAnalyzerProtocol::operationsCommaLocale()
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const auto restore = qScopeGuard([&] { std::setlocale(LC_ALL, previous.c_str()); });
    if (!useCommaDecimalLocale())
        QSKIP("needs a comma-decimal locale such as de_DE.UTF-8 (scripts/setup.sh makes one)");
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 37.5);
    QCOMPARE(QByteArray(probe), QByteArray("37,50"));
    operations();
}

void TestAnalyzerProtocol::probeDone_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("pollCode");
    QTest::addColumn<bool>("done");

    QTest::newRow("5500") << QByteArray("5500") << 0x55 << true;
    QTest::newRow("5300 and more") << QByteArray("530012") << 0x53 << true;
    QTest::newRow("busy") << QByteArray("5501") << 0x55 << false;
    QTest::newRow("another code's done") << QByteArray("5400") << 0x55 << false;
    QTest::newRow("error reply") << QByteArray("55XX") << 0x55 << false;
    QTest::newRow("empty") << QByteArray() << 0x55 << false;
}

void TestAnalyzerProtocol::probeDone()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, pollCode);
    QFETCH(bool, done);
    QCOMPARE(VelaProtocol::isProbeDone(reply, pollCode), done);
}

void TestAnalyzerProtocol::probeSuffix()
{
    QCOMPARE(suffix("X%02hXY%02hX", (unsigned short)0x14, (unsigned short)0xEC), QByteArray("X14YEC"));
    QCOMPARE(suffix("%s", ""), QByteArray());
    // Longer suffixes are cut, never sent past the analyzer's field.
    QCOMPARE(suffix("%s", QByteArray(40, 'A').constData()), QByteArray(VelaProtocol::maxProbeSuffix, 'A'));
}

QTEST_GUILESS_MAIN(TestAnalyzerProtocol)
#include "tst_analyzerprotocol.moc"
