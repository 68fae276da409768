#include "placementjournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class TestPlacementJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void lifeOfATest();
    void resultsAcrossSessions_data();
    void resultsAcrossSessions();
    void damagedFileSetAside_data();
    void damagedFileSetAside();
    void noJournalWhereItCannotBeWritten();
    void releasedTestsForgottenAfterAWhile();

private:
    PlacementJournal::Test test(quint32 id, const QString& sample = QStringLiteral("1001")) const;
    QString path() const { return m_dir->filePath(QStringLiteral("placements.db")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

PlacementJournal::Test TestPlacementJournal::test(quint32 id, const QString& sample) const
{
    PlacementJournal::Test t;
    t.testId = id;
    t.sample = sample;
    t.position = "0A";
    t.item = "PT";
    t.dilution = 2;
    t.method = "L";
    return t;
}

void TestPlacementJournal::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

// About to be placed, accepted, result read, released: each state is on
// the file as soon as the call returns, and read back by a new opening.
void TestPlacementJournal::lifeOfATest()
{
    QString error;
    {
        PlacementJournal j;
        QVERIFY2(j.open(path(), &error), qPrintable(error));
        QVERIFY(j.beginSession(&error));
        QVERIFY(j.recordPlacing(test(7), &error));
        QVERIFY(j.holdsUnreleased(7));
        // An id the journal holds unreleased cannot be journalled twice.
        QVERIFY(!j.recordPlacing(test(7, QStringLiteral("1002")), &error));
        QVERIFY(j.setState(7, PlacementJournal::Accepted, &error));
        PlacementJournal::Test r = test(7);
        r.hasResult = true;
        r.value = 12.5;
        r.report = QStringLiteral("测试通道: 3");
        r.curve = QByteArray("\x01\x02\x00\x03", 4);
        QVERIFY(j.recordResult(r, &error));
        QVERIFY(j.recordPlacing(test(8, QStringLiteral("1002")), &error));
        QCOMPARE(j.newestId(), 8u);
    } // the host dies here: no clean end

    PlacementJournal j;
    QVERIFY(j.open(path(), &error));
    QVERIFY(j.beginSession(&error));
    const QList<PlacementJournal::Test> open = j.unreleased();
    QCOMPARE(open.size(), 2);
    QCOMPARE(open.at(0).state, PlacementJournal::ResultRead);
    QCOMPARE(open.at(0).value, 12.5);
    QCOMPARE(open.at(0).curve, QByteArray("\x01\x02\x00\x03", 4));
    QCOMPARE(open.at(0).report, QStringLiteral("测试通道: 3"));
    QVERIFY(open.at(0).sameOrder(test(7)));
    QVERIFY(!open.at(1).sameOrder(test(8))); // another sample
    QCOMPARE(open.at(1).state, PlacementJournal::AboutToPlace);

    QVERIFY(j.recordRelease(7, QString(), &error));
    QVERIFY(j.recordRelease(8, QStringLiteral("no assay claimed it"), &error));
    QVERIFY(j.unreleased().isEmpty());
    QVERIFY(!j.holdsUnreleased(7));
    // Released, the id may be used again.
    QVERIFY(j.recordPlacing(test(7), &error));
}

// A result read in a session that did not end cleanly is given again to its
// assay once per session, until a later session ends cleanly.
void TestPlacementJournal::resultsAcrossSessions_data()
{
    QTest::addColumn<QString>("sessions"); // after the reading one: c clean end, x crash
    QTest::addColumn<bool>("givable");

    QTest::newRow("read, then clean end") << QStringLiteral("c") << false;
    QTest::newRow("read, crash") << QStringLiteral("x") << true;
    QTest::newRow("read, crash, crash") << QStringLiteral("xx") << true;
    QTest::newRow("read, crash, clean end") << QStringLiteral("xc") << false;
}

void TestPlacementJournal::resultsAcrossSessions()
{
    QFETCH(QString, sessions);
    QFETCH(bool, givable);
    QString error;
    PlacementJournal j;
    QVERIFY(j.open(path(), &error));
    QVERIFY(j.beginSession(&error));
    PlacementJournal::Test r = test(5);
    QVERIFY(j.recordPlacing(r, &error));
    r.hasResult = true;
    r.value = 30.1;
    QVERIFY(j.recordResult(r, &error));
    QVERIFY(j.recordRelease(5, QString(), &error));
    QVERIFY(j.givable().isEmpty()); // read in this very session

    // The reading session: its end depends on the first letter.
    for (int i = 0; i < sessions.size(); ++i) {
        if (sessions.at(i) == QLatin1Char('c'))
            QVERIFY(j.endSession(&error));
        j.close();
        QVERIFY(j.open(path(), &error));
        QVERIFY(j.beginSession(&error));
    }
    const QList<PlacementJournal::Test> given = j.givable();
    QCOMPARE(given.size(), givable ? 1 : 0);
    if (givable) {
        QCOMPARE(given.first().value, 30.1);
        QVERIFY(j.markGiven(5, &error));
        QVERIFY(j.givable().isEmpty()); // once per session
    }
}

void TestPlacementJournal::damagedFileSetAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not a database") << QByteArray("this is no journal\n").repeated(200);
    QByteArray torn("SQLite format 3\0", 16);
    torn += QByteArray(4080, '\xff');
    QTest::newRow("torn header") << torn;
}

void TestPlacementJournal::damagedFileSetAside()
{
    QFETCH(QByteArray, content);
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    PlacementJournal j;
    QString error, notice;
    QVERIFY2(j.open(path(), &error, &notice), qPrintable(error));
    QVERIFY2(notice.contains(QLatin1String("damaged")), qPrintable(notice));
    // Nothing is lost: the damaged file is kept beside the new one.
    const QStringList aside = QDir(m_dir->path()).entryList({QStringLiteral("placements.db.damaged-*")});
    QCOMPARE(aside.size(), 1);
    QFile kept(m_dir->filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    QVERIFY(j.beginSession(&error));
    QVERIFY(j.recordPlacing(test(1), &error));
}

void TestPlacementJournal::noJournalWhereItCannotBeWritten()
{
    // A plain file stands where the folder should be.
    QFile blocker(m_dir->filePath(QStringLiteral("data")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PlacementJournal j;
    QString error;
    QVERIFY(!j.open(m_dir->filePath(QStringLiteral("data/placements.db")), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!j.isOpen());
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("data"))));
}

// Released tests go once they are older than the kept days; unreleased
// ones stay however old.
void TestPlacementJournal::releasedTestsForgottenAfterAWhile()
{
    QString error;
    {
        PlacementJournal j;
        QVERIFY(j.open(path(), &error));
        QVERIFY(j.beginSession(&error));
        for (quint32 id : {1u, 2u, 3u})
            QVERIFY(j.recordPlacing(test(id), &error));
        QVERIFY(j.recordRelease(1, QString(), &error));
        QVERIFY(j.recordRelease(2, QString(), &error));
    }
    {
        // Test 1 released long ago, 3 placed long ago.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("age"));
        db.setDatabaseName(path());
        QVERIFY(db.open());
        const QString old =
            QDateTime::currentDateTime().addDays(-PlacementJournal::keptDays - 1).toString(Qt::ISODateWithMs);
        QSqlQuery q(db);
        QVERIFY2(q.exec(QStringLiteral("update test set updated = '%1' where testId in (1, 3)").arg(old)),
                 qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("age"));
    PlacementJournal j;
    QVERIFY(j.open(path(), &error));
    QVERIFY(j.beginSession(&error));
    QCOMPARE(j.unreleased().size(), 1);         // 3, however old
    QVERIFY(j.recordPlacing(test(1), &error));  // 1 is gone: its id is free
    QVERIFY(!j.recordPlacing(test(3), &error)); // 3 still holds its id
}

QTEST_APPLESS_MAIN(TestPlacementJournal)
#include "tst_placementjournal.moc"
