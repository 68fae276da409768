// Upgrades of data.db by the built dbupdate, from each schema version.
#include "dbfixture.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace fixture;

namespace {

// SQLite keeps a definition as "CREATE TABLE " (or INDEX, TRIGGER) and the
// statement's own text from the object's name on.
QString storedForm(const QString& statement, const QString& keyword, const QString& name)
{
    return QLatin1String("CREATE ") + keyword + QLatin1Char(' ') + statement.mid(statement.indexOf(name));
}

const QString detailSql = QString::fromUtf8(
    "create table detail(\n\tid integer primary key,\n\tpatientId integer references patient,\n"
    "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
    "\tinfo text,\t\t\t\t\t\t\t\t\t\t-- 测试详细信息, 如测试通道等\n"
    "\tunique(patientId, item) on conflict replace)");
const QString triggerSql = QStringLiteral(
    "create trigger on_delete_patient after delete on patient\nbegin\n"
    "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
    "\tdelete from result where old.id = result.patientId;\n"
    "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
    "\tdelete from curve where old.id = curve.patientId;\n"
    "\tdelete from detail where old.id = detail.patientId;\nend");

} // namespace

class TestUpdateData : public QObject
{
    Q_OBJECT

private slots:
    void upgradesVersion0();
    void deletingPatientDeletesItsRows_data();
    void deletingPatientDeletesItsRows();
    void secondDetailRowReplacesFirst();
    void runsOnlyTheBlocksThatApply_data();
    void runsOnlyTheBlocksThatApply();
    void firstVersionRowDecides_data();
    void firstVersionRowDecides();
    void failedStepReportsAndStops();
    void extraLookupColumnFailsTheCopy();

private:
    // A folder with profile.db at its target version and data.db at
    // `dataVersion`; profile.db then needs nothing but its version row.
    bool prepare(QTemporaryDir& dir, int dataVersion)
    {
        if (!dir.isValid())
            return false;
        const QString error = createInstallation(dir.path(), 3, dataVersion);
        if (!error.isEmpty())
            qWarning("%s", qPrintable(error));
        return error.isEmpty();
    }
};

void TestUpdateData::upgradesVersion0()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 0));
    const QString path = dir.filePath(QStringLiteral("data.db"));
    const QByteArray original = fileContents(path);

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.log.contains("Warning:"), run.log.constData());
    QVERIFY2(run.log.contains("Debug: data.db copied to data.db.bak"), run.log.constData());
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("data.db.bak"))), original);

    Db db(path);
    QVERIFY(db.isOpen());
    for (const QString& table : lookupTables()) {
        const auto rows = db.rows(QStringLiteral("select id, abbr, name from %1 order by id").arg(table));
        QCOMPARE(asText(rows), asText(lookupRows()));
        QCOMPARE(db.value(QStringLiteral("select name from %1 where abbr = 'AB'").arg(table)).toString(),
                 QStringLiteral("Alpha"));
        QCOMPARE(db.value(QStringLiteral("select name from %1 where abbr = 'cD'").arg(table)).toString(),
                 QStringLiteral("Gamma"));
        const QString create =
            QStringLiteral("create table %1(\n\tid integer primary key,\n\tabbr text COLLATE NOCASE,\n\tname text)")
                .arg(table);
        QCOMPARE(db.storedSql(table), storedForm(create, QStringLiteral("TABLE"), table));
        QCOMPARE(db.storedSql(table + QLatin1String("_index")),
                 QStringLiteral("CREATE INDEX %1_index on %1 (abbr)").arg(table));
        QVERIFY2(!db.hasTable(table + QLatin1String("_bak")), qPrintable(table));
    }
    QCOMPARE(db.storedSql(QStringLiteral("detail")),
             storedForm(detailSql, QStringLiteral("TABLE"), QStringLiteral("detail")));
    QCOMPARE(db.storedSql(QStringLiteral("on_delete_patient")),
             storedForm(triggerSql, QStringLiteral("TRIGGER"), QStringLiteral("on_delete_patient")));
    QCOMPARE(db.storedSql(QStringLiteral("version")), QStringLiteral("CREATE TABLE version(version integer)"));
    QCOMPARE(db.rows(QStringLiteral("select version from version")), QList<QVariantList>{{2}});
    QVERIFY2(db.exec(QStringLiteral("select sampleType, hospitalNo from patient")), qPrintable(db.lastError()));
}

void TestUpdateData::deletingPatientDeletesItsRows_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("from version 0") << 0;
    QTest::newRow("from version 1") << 1;
}

void TestUpdateData::deletingPatientDeletesItsRows()
{
    QFETCH(int, version);
    QTemporaryDir dir;
    QVERIFY(prepare(dir, version));
    QCOMPARE(runDbUpdate(dir.path()).exitCode, 0);

    Db db(dir.filePath(QStringLiteral("data.db")));
    QVERIFY(db.exec({QStringLiteral("insert into detail (patientId, item, info) values(1, 'APTT', 'channel 3')"),
                     QStringLiteral("insert into detail (patientId, item, info) values(2, 'APTT', 'channel 4')"),
                     QStringLiteral("delete from patient where id = 1")}));
    // Patient 1 is sample 001 of 2013-05-02; the exam of 001 on another day
    // belongs to someone else.
    QCOMPARE(db.rows(QStringLiteral("select id from exam order by id")), (QList<QVariantList>{{2}, {3}}));
    QCOMPARE(db.rows(QStringLiteral("select patientId from result")), QList<QVariantList>{{2}});
    QCOMPARE(db.rows(QStringLiteral("select patientId from patientExtra")), QList<QVariantList>{{2}});
    QCOMPARE(db.rows(QStringLiteral("select patientId from curve")), QList<QVariantList>{{2}});
    QCOMPARE(db.rows(QStringLiteral("select distinct patientId from detail")), QList<QVariantList>{{2}});
}

void TestUpdateData::secondDetailRowReplacesFirst()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 0));
    QCOMPARE(runDbUpdate(dir.path()).exitCode, 0);

    Db db(dir.filePath(QStringLiteral("data.db")));
    QVERIFY2(db.exec({QStringLiteral("insert into detail (patientId, item, info) values(1, 'PT', 'first')"),
                      QStringLiteral("insert into detail (patientId, item, info) values(1, 'PT', 'second')"),
                      QStringLiteral("insert into detail (patientId, item, info) values(1, 'TT', 'other')")}),
             qPrintable(db.lastError()));
    QCOMPARE(db.rows(QStringLiteral("select item, info from detail order by item")),
             (QList<QVariantList>{{QStringLiteral("PT"), QStringLiteral("second")},
                                  {QStringLiteral("TT"), QStringLiteral("other")}}));
}

void TestUpdateData::runsOnlyTheBlocksThatApply_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("triggerReplaced");
    // Block A run again would fail on the existing patient columns.
    QTest::newRow("version 1: trigger and version row") << 1 << true;
    QTest::newRow("version 2: version row only") << 2 << false;
    QTest::newRow("version above target: version row only") << 7 << false;
}

void TestUpdateData::runsOnlyTheBlocksThatApply()
{
    QFETCH(int, version);
    QFETCH(bool, triggerReplaced);
    QTemporaryDir dir;
    QVERIFY(prepare(dir, version));
    const QString path = dir.filePath(QStringLiteral("data.db"));
    if (version > 2) {
        Db db(path);
        QVERIFY(db.exec(QStringLiteral("drop trigger on_delete_patient")));
        QVERIFY(db.exec(triggerSql));
    }
    QString before = dump(path, {QStringLiteral("version")});
    QString oldTrigger;
    {
        Db db(path);
        oldTrigger = db.storedSql(QStringLiteral("on_delete_patient"));
    }

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.log.contains("Warning:"), run.log.constData());

    Db db(path);
    QCOMPARE(db.rows(QStringLiteral("select version from version")), QList<QVariantList>{{2}});
    const QString newTrigger = db.storedSql(QStringLiteral("on_delete_patient"));
    QCOMPARE(newTrigger, storedForm(triggerSql, QStringLiteral("TRIGGER"), QStringLiteral("on_delete_patient")));
    QCOMPARE(oldTrigger != newTrigger, triggerReplaced);
    // Apart from the trigger, nothing changed.
    QCOMPARE(dump(path, {QStringLiteral("version")}), before.replace(oldTrigger, newTrigger));
}

void TestUpdateData::firstVersionRowDecides_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<int>("exitCode");
    // On a version 2 database, block A fails on the existing columns.
    QTest::newRow("2 first: nothing to do") << QStringLiteral("(2), (0)") << 0;
    QTest::newRow("0 first: block A runs and fails") << QStringLiteral("(0), (2)") << 1;
}

void TestUpdateData::firstVersionRowDecides()
{
    QFETCH(QString, rows);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 2));
    {
        Db db(dir.filePath(QStringLiteral("data.db")));
        QVERIFY(db.exec({QStringLiteral("delete from version"), QStringLiteral("insert into version values") + rows}));
    }
    QCOMPARE(runDbUpdate(dir.path()).exitCode, exitCode);
}

void TestUpdateData::failedStepReportsAndStops()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 0));
    const QString path = dir.filePath(QStringLiteral("data.db"));
    {
        Db db(path);
        QVERIFY(db.exec(QStringLiteral("alter table patient add sampleType text")));
    }
    const QByteArray original = fileContents(path);
    const QByteArray qc = fileContents(dir.filePath(QStringLiteral("qc.db")));

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 1);
    // Items joined by one blank each, the last one included.
    QVERIFY2(run.log.contains("Warning: updatedata ( 15 ):  duplicate column name: sampleType "
                              "Unable to execute statement : [ alter table patient add sampleType text ] \n"),
             run.log.constData());
    QVERIFY2(run.log.contains("Warning: data.db is left part-way upgraded; data.db.bak holds it"), run.log.constData());
    QCOMPARE(fileContents(path), original);
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("data.db.bak"))), original);
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("qc.db"))), qc);
}

void TestUpdateData::extraLookupColumnFailsTheCopy()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 0));
    const QString path = dir.filePath(QStringLiteral("data.db"));
    {
        Db db(path);
        QVERIFY(db.exec(QStringLiteral("alter table doctor add phone text")));
    }
    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.log.contains("Warning: updatebase ( 70 ):  table doctor has no column named phone"),
             run.log.constData());
    QVERIFY2(run.log.contains(": [ INSERT INTO \"doctor\" (\"id\", \"abbr\", \"name\", \"phone\") "
                              "VALUES (1, 'ab', 'Alpha', NULL) ] \n"),
             run.log.constData());
    QCOMPARE(run.log.count("Warning: updatebase"), 1);

    Db db(path);
    // The tables before it are rebuilt; the doctor rows wait in the backup.
    QCOMPARE(asText(db.rows(QStringLiteral("select id, abbr, name from diagnosis order by id"))), asText(lookupRows()));
    QVERIFY(!db.hasTable(QStringLiteral("diagnosis_bak")));
    QCOMPARE(asText(db.rows(QStringLiteral("select id, abbr, name from doctor_bak order by id"))),
             asText(lookupRows()));
    QCOMPARE(db.value(QStringLiteral("select count(*) from doctor")).toInt(), 0);
    QVERIFY(!db.hasTable(QStringLiteral("version")));
    QVERIFY(!db.hasTable(QStringLiteral("detail")));
}

QTEST_GUILESS_MAIN(TestUpdateData)
#include "tst_updatedata.moc"
