#include "worklistfile.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTest>

class TestWorklistFile : public QObject
{
    Q_OBJECT

private slots:
    void goodLists_data();
    void goodLists();
    void badLists_data();
    void badLists();
    void unreadableFile();
    void demoList();
};

namespace {
const QString header = QStringLiteral("sample,position,assay,dilution,method\n");
}

void TestWorklistFile::goodLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("dilution");
    QTest::addColumn<QString>("method");

    QTest::newRow("plain") << header + "1,A1,PT,1/1,光学法\n"
                           << 1 << "1"
                           << "A1"
                           << "1/1"
                           << "光学法";
    QTest::newRow("CR LF, BOM, comments, blank lines")
        << QString(QChar(0xFEFF))
               + "sample,position,assay,dilution,method\r\n# first\r\n\r\n"
                 "1,A1,PT,1/2,磁珠法\r\n"
        << 1 << "1"
        << "A1"
        << "1/2"
        << "磁珠法";
    QTest::newRow("header case and blanks") << "Sample, Position ,ASSAY,dilution,Method\n 2 ,b20,APTT,1/10,\n"
                                            << 1 << "2"
                                            << "B20"
                                            << "1/10"
                                            << "";
    QTest::newRow("method aliases") << header + "1,A1,PT,1/1,bead\n1,A1,TT,1/1,optical\n"
                                    << 2 << "1"
                                    << "A1"
                                    << "1/1"
                                    << "磁珠法";
    QTest::newRow("no method column") << "sample,position,assay,dilution\n7,A3,FIB,1/10\n"
                                      << 1 << "7"
                                      << "A3"
                                      << "1/10"
                                      << "";
    QTest::newRow("quoted fields") << header + "\"S, \"\"1\"\"\",\"A2\",PT,\"1/1\",\"\"\n"
                                   << 1 << "S, \"1\""
                                   << "A2"
                                   << "1/1"
                                   << "";
    QTest::newRow("empty dilution is neat") << header + "1,A1,PT,,L\n"
                                            << 1 << "1"
                                            << "A1"
                                            << "1/1"
                                            << "光学法";
}

void TestWorklistFile::goodLists()
{
    QFETCH(QString, text);
    QFETCH(int, count);
    QList<WorklistEntry> entries;
    QString error;
    QVERIFY2(worklistfile::parse(text, &entries, &error), qPrintable(error));
    QCOMPARE(entries.size(), count);
    const WorklistEntry& e = entries.first();
    QTEST(e.sample, "sample");
    QTEST(e.position, "position");
    QTEST(e.dilution, "dilution");
    QTEST(e.method, "method");
}

void TestWorklistFile::badLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // part of the error message

    QTest::newRow("empty file") << QString() << "no header";
    QTest::newRow("wrong header") << "sample,pos,assay,dilution,method\n1,A1,PT,1/1,\n"
                                  << "line 1: header";
    QTest::newRow("header only") << header << "no assays";
    QTest::newRow("too few fields") << header + "1,A1,PT\n"
                                    << "line 2: 3 fields, expected 5";
    QTest::newRow("too many fields") << header + "1,A1,PT,1/1,,x\n"
                                     << "line 2: 6 fields";
    QTest::newRow("unknown position") << header + "1,A1,PT,1/1,\n2,C7,PT,1/1,\n"
                                      << "line 3: unknown position 'C7'";
    QTest::newRow("reagent position") << header + "1,R1,PT,1/1,\n"
                                      << "unknown position 'R1'";
    QTest::newRow("position past the rack") << header + "1,A21,PT,1/1,\n"
                                            << "unknown position";
    QTest::newRow("empty sample") << header + ",A1,PT,1/1,\n"
                                  << "empty sample";
    QTest::newRow("one-letter assay") << header + "1,A1,P,1/1,\n"
                                      << "bad assay name 'P'";
    QTest::newRow("dilution not a fraction") << header + "1,A1,PT,half,\n"
                                             << "bad dilution 'half'";
    QTest::newRow("dilution above 1") << header + "1,A1,PT,2/1,\n"
                                      << "bad dilution";
    QTest::newRow("dilution by zero") << header + "1,A1,PT,1/0,\n"
                                      << "bad dilution";
    QTest::newRow("zero dilution") << header + "1,A1,PT,0/5,\n"
                                   << "bad dilution";
    QTest::newRow("unknown method") << header + "1,A1,PT,1/1,laser\n"
                                    << "unknown method 'laser'";
    QTest::newRow("unterminated quote") << header + "\"1,A1,PT,1/1,\n"
                                        << "unterminated quote";
}

void TestWorklistFile::badLists()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QList<WorklistEntry> entries;
    entries.append(WorklistEntry());
    QString error;
    QVERIFY(!worklistfile::parse(text, &entries, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(entries.isEmpty()); // nothing of a bad list is handed out
}

void TestWorklistFile::unreadableFile()
{
    QTemporaryDir dir;
    QList<WorklistEntry> entries;
    QString error;
    QVERIFY(!worklistfile::read(dir.filePath(QStringLiteral("missing.csv")), &entries, &error));
    QVERIFY2(error.contains(QStringLiteral("missing.csv")), qPrintable(error));

    QFile latin1(dir.filePath(QStringLiteral("gbk.csv")));
    QVERIFY(latin1.open(QIODevice::WriteOnly));
    latin1.write("sample,position,assay,dilution,method\n1,A1,PT,1/1,\xB9\xE2\n");
    latin1.close();
    QVERIFY(!worklistfile::read(latin1.fileName(), &entries, &error));
    QVERIFY2(error.contains(QStringLiteral("not UTF-8")), qPrintable(error));
}

void TestWorklistFile::demoList()
{
    const QList<WorklistEntry> demo = worklistfile::demo(41);
    QVERIFY(demo.size() >= 12);
    QSet<QString> assays, dilutions, methods, samples;
    for (const WorklistEntry& e : demo) {
        assays << e.assay;
        dilutions << e.dilution;
        methods << e.method;
        samples << e.sample;
        QVERIFY(worklistfile::samplePositions().contains(e.position));
    }
    QCOMPARE(assays, (QSet<QString>{"PT", "APTT", "TT", "FIB"}));
    QVERIFY(dilutions.contains(QStringLiteral("1/1")) && dilutions.contains(QStringLiteral("1/10")));
    QCOMPARE(methods, (QSet<QString>{QStringLiteral("光学法"), QStringLiteral("磁珠法")}));
    QVERIFY(samples.contains(QStringLiteral("41")) && samples.size() > 1);
}

QTEST_GUILESS_MAIN(TestWorklistFile)
#include "tst_worklistfile.moc"
