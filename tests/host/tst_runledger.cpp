#include "runledger.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestRunLedger : public QObject
{
    Q_OBJECT

private slots:
    void begin_data();
    void begin();
    void finishedRunIsNew();
    void resultKeys();
};

namespace {
QList<WorklistEntry> list(const QStringList& assays)
{
    QList<WorklistEntry> entries;
    for (const QString& a : assays)
        entries.append(WorklistEntry{QStringLiteral("S1"), QStringLiteral("A1"), a, QStringLiteral("1/1"), QString()});
    return entries;
}
const QDate today(2026, 12, 9);
} // namespace

// What is on the file before the run begins, and what the run gets.
void TestRunLedger::begin_data()
{
    const QByteArray ours = runledger::digest(list({QStringLiteral("PT")}));
    const QByteArray other = runledger::digest(list({QStringLiteral("APTT")}));
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<bool>("resumed");
    QTest::addColumn<bool>("setAside");

    QTest::newRow("no file: a new run of today") << QByteArray() << today << false << false;
    QTest::newRow("unfinished since yesterday: its date, not today's")
        << "{\"" + ours + "\": {\"date\": \"2026-12-08\"}}" << QDate(2026, 12, 8) << true << false;
    QTest::newRow("another list's run: a new run")
        << "{\"" + other + "\": {\"date\": \"2026-12-08\"}}" << today << false << false;
    QTest::newRow("damaged file: set aside, a new run")
        << QByteArray("{\"" + ours + "\": {\"da") << today << false << true;
}

void TestRunLedger::begin()
{
    QFETCH(QByteArray, before);
    QFETCH(QDate, date);
    QFETCH(bool, resumed);
    QFETCH(bool, setAside);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("velahost-runs.json"));
    if (!before.isEmpty()) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    const QByteArray digest = runledger::digest(list({QStringLiteral("PT")}));
    runledger::Run run;
    QString error;
    QVERIFY2(runledger::begin(dir.path(), digest, today, &run, &error), qPrintable(error));
    QCOMPARE(run.date, date);
    QCOMPARE(run.resumed, resumed);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.damaged-*")}).size(), setAside ? 1 : 0);

    // Begun again (the host died before the end): the same run, same date.
    runledger::Run again;
    QVERIFY(runledger::begin(dir.path(), digest, today.addDays(1), &again, &error));
    QVERIFY(again.resumed);
    QCOMPARE(again.date, date);
}

void TestRunLedger::finishedRunIsNew()
{
    QTemporaryDir dir;
    const QByteArray digest = runledger::digest(list({QStringLiteral("PT")}));
    runledger::Run run;
    QString error;
    QVERIFY(runledger::begin(dir.path(), digest, today, &run, &error));
    QVERIFY(runledger::finish(dir.path(), digest, &error));
    QVERIFY(runledger::begin(dir.path(), digest, today.addDays(1), &run, &error));
    QVERIFY(!run.resumed);
    QCOMPARE(run.date, today.addDays(1));

    // A folder the run cannot be written to is said, not ignored.
    QVERIFY(!runledger::begin(dir.filePath(QStringLiteral("missing")), digest, today, &run, &error));
    QVERIFY(!error.isEmpty());
}

void TestRunLedger::resultKeys()
{
    QList<WorklistEntry> entries = list(
        {QStringLiteral("PT"), QStringLiteral("APTT"), QStringLiteral("PT"), QStringLiteral("PT")});
    entries.append(WorklistEntry{QStringLiteral("S2"), QStringLiteral("A2"), QStringLiteral("PT"),
                                 QStringLiteral("1/1"), QString()});
    QCOMPARE(runledger::resultKeys(entries),
             (QStringList{QStringLiteral("PT"), QStringLiteral("APTT"), QStringLiteral("PT 2"), QStringLiteral("PT 3"),
                          QStringLiteral("PT")}));
    // The digest tells lists apart by every field and by order.
    QList<WorklistEntry> swapped = entries;
    swapped.swapItemsAt(0, 1);
    QVERIFY(runledger::digest(swapped) != runledger::digest(entries));
    QList<WorklistEntry> diluted = entries;
    diluted[0].dilution = QStringLiteral("1/2");
    QVERIFY(runledger::digest(diluted) != runledger::digest(entries));
}

QTEST_APPLESS_MAIN(TestRunLedger)
#include "tst_runledger.moc"
