// What the upgrade must never do to an installation's databases: break the
// objects of other tables, lose the rows of a table it cannot read, change
// a database it could not back up, replace the backup of an unfinished
// upgrade, run beside a writer, or hide a failure; and what it reports
// without changing anything (dry run, help).
#include "dbfixture.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace fixture;

namespace {

const QStringList databases = {QStringLiteral("profile.db"), QStringLiteral("data.db"), QStringLiteral("qc.db")};

// "module site" tags in order, for the runs of consecutive sites.
QStringList sites(const char* module, int first, int last)
{
    QStringList tags;
    for (int site = first; site <= last; ++site)
        tags << QStringLiteral("%1 %2").arg(QLatin1String(module)).arg(site);
    return tags;
}

QStringList rebuildSites(const char* module, int create, int index, int drop)
{
    QStringList tags{QStringLiteral("updatebase 40")};
    tags << sites(module, create, create);
    if (index)
        tags << sites(module, index, index);
    tags << QStringLiteral("updatebase 48, 70") << sites(module, drop, drop);
    return tags;
}

QStringList dataSteps(int version)
{
    QStringList tags;
    if (version < 1) {
        tags << sites("updatedata", 15, 16);
        for (int create : {23, 33, 43, 53, 63, 73})
            tags << rebuildSites("updatedata", create, create + 1, create + 3);
        tags << sites("updatedata", 85, 85) << sites("updatedata", 87, 87);
    }
    if (version < 2)
        tags << sites("updatedata", 92, 92) << sites("updatedata", 100, 100);
    return tags << sites("updatedata", 103, 104);
}

QStringList profileSteps(int version)
{
    QStringList tags;
    if (version < 1) {
        tags << rebuildSites("updateprofile", 23, 0, 25) << sites("updateprofile", 34, 34)
             << sites("updateprofile", 36, 36) << sites("updateprofile", 43, 43) << sites("updateprofile", 46, 46);
    }
    if (version < 2)
        tags << sites("updateprofile", 51, 53);
    if (version < 3)
        tags << sites("updateprofile", 58, 64);
    tags << sites("updateprofile", 72, 73);
    if (version < 2) {
        tags << sites("updateprofile", 77, 77) << sites("updateprofile", 86, 86) << sites("updateprofile", 89, 89)
             << sites("updateprofile", 91, 106) << sites("updateprofile", 108, 124) << sites("updateprofile", 126, 129)
             << sites("updateprofile", 131, 150) << sites("updateprofile", 152, 155);
    }
    if (version < 3)
        tags << sites("updateprofile", 161, 174) << sites("updateprofile", 176, 180);
    return tags;
}

// The "module site" tags of the report lines in a log.
QStringList reportedSites(const QByteArray& log)
{
    QStringList tags;
    const QRegularExpression report(QStringLiteral("^Warning: (update\\w+) \\( (\\d+) \\):  "));
    for (const QByteArray& line : log.split('\n')) {
        const auto match = report.match(QString::fromUtf8(line));
        if (match.hasMatch())
            tags << match.captured(1) + QLatin1Char(' ') + match.captured(2);
    }
    return tags;
}

} // namespace

class TestDbUpdateSafety : public QObject
{
    Q_OBJECT

private slots:
    void rebuildKeepsOtherObjects_data();
    void rebuildKeepsOtherObjects();
    void unreadableSourceFailsTheCopy_data();
    void unreadableSourceFailsTheCopy();
    void backupThatCannotBeMadeStopsTheRun_data();
    void backupThatCannotBeMadeStopsTheRun();
    void backupOfFirstAttemptIsKept();
    void mayFailStepsReportAndGoOn_data();
    void mayFailStepsReportAndGoOn();
    void checksBeforeAndAfter_data();
    void checksBeforeAndAfter();
    void writerOrSecondRunStopsTheRun_data();
    void writerOrSecondRunStopsTheRun();
    void dryRunListsStepsAndChangesNothing_data();
    void dryRunListsStepsAndChangesNothing();
    void helpChangesNothing_data();
    void helpChangesNothing();
};

void TestDbUpdateSafety::rebuildKeepsOtherObjects_data()
{
    QTest::addColumn<int>("profileVersion");
    QTest::addColumn<int>("dataVersion");
    QTest::addColumn<QStringList>("ownObjects"); // triggers and indexes of rebuilt tables
    QTest::newRow("lookup tables of data.db") << 3 << 0 << QStringList();
    QTest::newRow("user of profile.db") << 0 << 2 << QStringList();
    QTest::newRow("with the rebuilt tables' own triggers and indexes")
        << 0 << 0
        << QStringList{"create table lookupChange(tbl text, id integer)",
                       "create trigger operator_changed after update on operator begin\n"
                       "\tinsert into lookupChange values('operator', new.id);\nend",
                       "create index operator_name on operator(name)",
                       "create trigger user_renamed after update of name on user begin\n"
                       "\tinsert into userLog(userId, action) values(new.id, 'renamed');\nend",
                       "create index user_level on user (level)"};
}

void TestDbUpdateSafety::rebuildKeepsOtherObjects()
{
    QFETCH(int, profileVersion);
    QFETCH(int, dataVersion);
    QFETCH(QStringList, ownObjects);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), profileVersion, dataVersion), QString());
    const QString data = dir.filePath(QStringLiteral("data.db"));
    const QString profile = dir.filePath(QStringLiteral("profile.db"));
    for (const QString& statement : ownObjects) {
        Db db(statement.contains(QLatin1String("user")) ? profile : data);
        QVERIFY2(db.exec(statement), qPrintable(db.lastError()));
    }
    const QString dataObjects = foreignObjectsSql(data);
    const QString profileObjects = foreignObjectsSql(profile);
    QVERIFY(dataObjects.contains(QLatin1String("references operator(id)")));
    QVERIFY(profileObjects.contains(QLatin1String("from user")));

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.log.contains("Warning:"), run.log.constData());
    QCOMPARE(foreignObjectsSql(data), dataObjects);
    QCOMPARE(foreignObjectsSql(profile), profileObjects);

    {
        // The trigger fills `assignment` from all six tables; the view reads them.
        Db db(data);
        QVERIFY2(db.exec(QStringLiteral("insert into patient (id, sampleNo, date) values(3, '003', '2013-05-04')")),
                 qPrintable(db.lastError()));
        QCOMPARE(asText(db.rows(QStringLiteral("select * from assignment where patientId = 3"))),
                 QStringList{QStringLiteral("3 | 1 | 1 | 1 | 1 | 1 | 1")});
        QCOMPARE(db.value(QStringLiteral("select count(*) from lookup_names")).toInt(), 6 * int(lookupRows().size()));
        QCOMPARE(db.rows(QStringLiteral("pragma foreign_key_check")), QList<QVariantList>());
        QVERIFY2(db.exec(QStringLiteral("update operator set name = 'Beta' where id = 5")), qPrintable(db.lastError()));
        if (!ownObjects.isEmpty()) {
            QCOMPARE(db.rows(QStringLiteral("select * from lookupChange")),
                     (QList<QVariantList>{{QStringLiteral("operator"), 5}}));
            QCOMPARE(
                db.value(QStringLiteral("select tbl_name from sqlite_master where name = 'operator_name'")).toString(),
                QStringLiteral("operator"));
        }
    }
    Db db(profile);
    QVERIFY2(db.exec(QStringLiteral("insert into curve (name, instrUuid) values('TT', 'uuid-t')")),
             qPrintable(db.lastError()));
    QCOMPARE(db.value(QStringLiteral("select action from userLog order by id desc")).toString(),
             QStringLiteral("curve TT"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from user_names")).toInt(), 3);
    QCOMPARE(db.rows(QStringLiteral("pragma foreign_key_check")), QList<QVariantList>());
    for (const QString& statement : ownObjects) {
        const QString name = statement.section(QLatin1Char(' '), 2, 2);
        if (!statement.contains(QLatin1String("user")))
            continue;
        QCOMPARE(db.value(QStringLiteral("select tbl_name from sqlite_master where name = '%1'").arg(name)).toString(),
                 QStringLiteral("user"));
    }
    if (!ownObjects.isEmpty()) {
        QVERIFY(db.exec(QStringLiteral("update user set name = 'root' where id = 1")));
        QCOMPARE(db.value(QStringLiteral("select action from userLog order by id desc")).toString(),
                 QStringLiteral("renamed"));
    }
}

void TestDbUpdateSafety::unreadableSourceFailsTheCopy_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("table");
    QTest::newRow("lookup table of data.db") << "data.db"
                                             << "operator";
    QTest::newRow("user of profile.db") << "profile.db"
                                        << "user";
}

void TestDbUpdateSafety::unreadableSourceFailsTheCopy()
{
    QFETCH(QString, database);
    QFETCH(QString, table);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 0, 0), QString());
    const QString path = dir.filePath(database);
    const QString backupTable = table + QLatin1String("_bak");
    // A generated column whose function this program does not have: every
    // read of the table's rows fails, though its pages are sound.
    const auto setFunction = [&path](const QString& from, const QString& to) {
        Db db(path);
        return db.exec({QStringLiteral("pragma writable_schema = on"),
                        QStringLiteral("update sqlite_master set sql = replace(sql, '%1(', '%2(') "
                                       "where type = 'table'")
                            .arg(from, to)});
    };
    QList<QVariantList> rows;
    {
        Db db(path);
        rows = db.rows(QStringLiteral("select id, name from %1 order by id").arg(table));
        QVERIFY(db.exec(QStringLiteral("alter table %1 add column upper_name as (upper(name))").arg(table)));
    }
    QVERIFY(setFunction(QStringLiteral("upper"), QStringLiteral("nosuchfunction")));

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.log.contains("Warning: updatebase ( 48 ):  unknown function: nosuchfunction()"), run.log.constData());
    QVERIFY2(run.log.contains(": [ select * from " + backupTable.toLatin1() + " ] \n"), run.log.constData());
    QVERIFY2(!run.log.contains("updatebase ( 70 )"), run.log.constData());

    QVERIFY(setFunction(QStringLiteral("nosuchfunction"), QStringLiteral("upper")));
    Db db(path);
    QVERIFY(db.hasTable(backupTable));
    QCOMPARE(asText(db.rows(QStringLiteral("select id, name from %1 order by id").arg(backupTable))), asText(rows));
    QCOMPARE(db.value(QStringLiteral("select count(*) from %1").arg(table)).toInt(), 0);
    QVERIFY(!db.hasTable(QStringLiteral("version")));
}

void TestDbUpdateSafety::backupThatCannotBeMadeStopsTheRun_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QStringList>("wrapper");
    QTest::addColumn<QByteArray>("reason");
    // The copy of data.db can't take its name: a folder has it.
    QTest::newRow("name taken by a folder") << "data.db" << QStringList() << QByteArray("data.db.bak");
    // The disk fills up as the finished copy of profile.db is given its name.
    QTest::newRow("disk full") << "profile.db"
                               << QStringList{"strace",       "-f",        "-qq",
                                              "-o",           "/dev/null", "-e",
                                              "trace=linkat", "-e",        "inject=linkat:error=ENOSPC:when=1"}
                               << QByteArray("No space left on device");
}

void TestDbUpdateSafety::backupThatCannotBeMadeStopsTheRun()
{
    QFETCH(QString, database);
    QFETCH(QStringList, wrapper);
    QFETCH(QByteArray, reason);
    if (!wrapper.isEmpty()) {
        wrapper.first() = QStandardPaths::findExecutable(wrapper.first());
        if (wrapper.first().isEmpty())
            QSKIP("needs strace (Debian package strace) to fill the disk");
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 0, 0), QString());
    if (wrapper.isEmpty())
        QVERIFY(QDir(dir.path()).mkdir(database + QLatin1String(".bak")));
    const QMap<QString, QByteArray> before = folderContents(dir.path());

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"), wrapper);
    QCOMPARE(run.exitCode, 1);
    const QByteArray message = "Warning: Can't back up " + database.toLatin1() + " to " + database.toLatin1()
                               + ".bak: ";
    QVERIFY2(run.log.contains(message), run.log.constData());
    QVERIFY2(run.log.contains(reason), run.log.constData());
    QVERIFY2(run.log.contains("; " + database.toLatin1() + " is left unchanged\n"), run.log.constData());
    QVERIFY2(!run.log.contains("Warning: update"), run.log.constData());
    // That database and the ones after it are as they were; nothing is
    // left behind, not even the lock.
    const QMap<QString, QByteArray> after = folderContents(dir.path());
    for (const QString& name : databases.mid(databases.indexOf(database)))
        QCOMPARE(after.value(name), before.value(name));
    QVERIFY(!after.contains(database + QLatin1String(".upgrading")));
    QVERIFY(!after.contains(QStringLiteral("dbupdate.lock")));
}

void TestDbUpdateSafety::backupOfFirstAttemptIsKept()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 3, 0), QString());
    const QString path = dir.filePath(QStringLiteral("data.db"));
    const QString backup = path + QLatin1String(".bak");
    {
        Db db(path);
        QVERIFY(db.exec(QStringLiteral("alter table doctor add phone text")));
    }
    const QFile::Permissions privateFile = QFile::ReadOwner | QFile::WriteOwner;
    QVERIFY(QFile::setPermissions(path, privateFile));
    const QByteArray original = fileContents(path);
    const QFile::Permissions originalPermissions = QFile::permissions(path);
    QVERIFY(!(originalPermissions & (QFile::ReadGroup | QFile::ReadOther)));

    // The copy fails at doctor; the second run fails at the first step.
    QCOMPARE(runDbUpdate(dir.path()).exitCode, 1);
    QCOMPARE(fileContents(backup), original);
    QCOMPARE(QFile::permissions(backup), originalPermissions);
    const Run second = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.log.contains("Debug: data.db.bak is kept: it holds data.db as it was before"),
             second.log.constData());
    QVERIFY2(second.log.contains("Warning: updatedata ( 15 ):  duplicate column name"), second.log.constData());
    QCOMPARE(fileContents(backup), original);

    // Put back from the copy and mended, the database upgrades; the copy of
    // the first attempt stays until the next run.
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::copy(backup, path));
    {
        Db db(path);
        QVERIFY(db.exec(QStringLiteral("alter table doctor drop column phone")));
    }
    QCOMPARE(runDbUpdate(dir.path()).exitCode, 0);
    QCOMPARE(fileContents(backup), original);
    QVERIFY(!QFile::exists(path + QLatin1String(".upgrading")));
    const QByteArray upgraded = fileContents(path);
    QCOMPARE(runDbUpdate(dir.path()).exitCode, 0);
    QCOMPARE(fileContents(backup), upgraded);
    QCOMPARE(QFile::permissions(backup), originalPermissions);
}

void TestDbUpdateSafety::mayFailStepsReportAndGoOn_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("expected");
    QTest::newRow("E37-E40, E61 on keys already there")
        << 1
        << QStringList{"insert into profile values('reagent/initVolume', 'i')",
                       "insert into profile values('reagent/alarmLimit', 'a')",
                       "insert into profile values('reagent/interruptLimit', 'x')",
                       "insert into profile values('patient/hospitalNo', 'h')",
                       "insert into profile values('analyst/FIB/odPercent', 0.7)"}
        << sites("updateprofile", 126, 129) + sites("updateprofile", 152, 152)
        << "select group_concat(value, ',') from (select value from profile where name in "
           "('reagent/initVolume', 'reagent/alarmLimit', 'reagent/interruptLimit', "
           "'patient/hospitalNo', 'analyst/FIB/odPercent') order by name)"
        << "0.7,h,a,i,x";
    QTest::newRow("B on a curve table that has instrUuid")
        << 1 << QStringList{"alter table curve add column instrUuid text"} << sites("updateprofile", 51, 51)
        << "select sql from sqlite_master where name = 'curve_index'"
        << "CREATE UNIQUE INDEX curve_index on curve(name, instrUuid)";
    QTest::newRow("C on tables that have the columns")
        << 2
        << QStringList{"alter table assayCalibration add column method integer",
                       "alter table assayCalibration add column dispX text",
                       "alter table assayCalibration add column dispY text",
                       "alter table curve add column c real",
                       "alter table curve add column d real",
                       "alter table curve add column e real",
                       "alter table curve add column valid integer"}
        << sites("updateprofile", 58, 64) << "select method || dispX || dispY from assayCalibration where name = 'DD'"
        << "4LogLog";
}

void TestDbUpdateSafety::mayFailStepsReportAndGoOn()
{
    QFETCH(int, version);
    QFETCH(QStringList, setup);
    QFETCH(QStringList, failing);
    QFETCH(QString, check);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), version, 2), QString());
    const QString path = dir.filePath(QStringLiteral("profile.db"));
    {
        Db db(path);
        QVERIFY2(db.exec(setup), qPrintable(db.lastError()));
    }
    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(reportedSites(run.log), failing);
    QVERIFY2(!run.log.contains("stops here"), run.log.constData());
    Db db(path);
    QCOMPARE(db.rows(QStringLiteral("select version from version")), QList<QVariantList>{{3}});
    QCOMPARE(db.value(check).toString(), expected);
    // The steps after the failing ones ran.
    QCOMPARE(db.value(QStringLiteral("select valid from curve where name = 'FIB'")).toInt(), 1);
}

void TestDbUpdateSafety::checksBeforeAndAfter_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArrayList>("lines");
    QTest::newRow("problems found before are reported, the upgrade goes on")
        << 3
        << QStringList{"insert into userLog(userId, action) values(99, 'gone')",
                       "create table limits(v integer check (v > 0))", "pragma ignore_check_constraints = on",
                       "insert into limits values(0)"}
        << 0
        << QByteArrayList{"Warning: profile.db: found before the upgrade: foreign key check: userLog row ",
                          " refers to a missing row of user (foreign key 0)\n",
                          "Warning: profile.db: found before the upgrade: integrity check: "
                          "CHECK constraint failed in limits\n"};
    // The upgrade replaces the generic reagents that a lot still refers to.
    QTest::newRow("a reference the upgrade breaks stops the run")
        << 1
        << QStringList{"create table reagentLot(id integer primary key, "
                       "reagentId integer references reagent(id), lot text)",
                       "insert into reagentLot values(1, 2, 'B-17')", "insert into reagentLot values(2, 4, 'PT-3')"}
        << 1
        << QByteArrayList{"Warning: profile.db: brought in by the upgrade: foreign key check: "
                          "reagentLot row 1 refers to a missing row of reagent (foreign key 0)\n",
                          "Warning: profile.db is upgraded but has 1 new problem(s); "
                          "profile.db.bak holds it as it was before the first attempt\n"};
}

void TestDbUpdateSafety::checksBeforeAndAfter()
{
    QFETCH(int, version);
    QFETCH(QStringList, setup);
    QFETCH(int, exitCode);
    QFETCH(QByteArrayList, lines);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), version, 2), QString());
    const QString path = dir.filePath(QStringLiteral("profile.db"));
    {
        Db db(path);
        QVERIFY2(db.exec(setup), qPrintable(db.lastError()));
    }
    const QByteArray original = fileContents(path);
    const QByteArray data = fileContents(dir.filePath(QStringLiteral("data.db")));
    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, exitCode);
    for (const QByteArray& line : lines)
        QVERIFY2(run.log.contains(line), run.log.constData());
    QCOMPARE(fileContents(path + QLatin1String(".bak")), original);
    // A failed run keeps its copy for the next run and goes no further.
    QCOMPARE(QFile::exists(path + QLatin1String(".upgrading")), exitCode != 0);
    if (exitCode != 0)
        QCOMPARE(fileContents(dir.filePath(QStringLiteral("data.db"))), data);
}

void TestDbUpdateSafety::writerOrSecondRunStopsTheRun_data()
{
    QTest::addColumn<QString>("writing"); // database held in a write transaction, or none
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("writer on data.db") << "data.db"
                                       << QByteArray(
                                              "Warning: Can't upgrade: data.db is in use by another program that is "
                                              "writing to it (database is locked); nothing was changed\n");
    QTest::newRow("writer on profile.db")
        << "profile.db" << QByteArray("Warning: Can't upgrade: profile.db is in use by another program");
    QTest::newRow("another dbupdate") << "" << QByteArray("Warning: Can't upgrade: another dbupdate (process ");
}

void TestDbUpdateSafety::writerOrSecondRunStopsTheRun()
{
    QFETCH(QString, writing);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 0, 0), QString());
    const QMap<QString, QByteArray> before = folderContents(dir.path());

    QLockFile otherRun(dir.filePath(QStringLiteral("dbupdate.lock")));
    std::unique_ptr<Db> writer;
    if (writing.isEmpty()) {
        QVERIFY(otherRun.tryLock(0));
    } else {
        writer.reset(new Db(dir.filePath(writing)));
        QVERIFY2(writer->exec({QStringLiteral("begin immediate"), QStringLiteral("create table pending(id integer)")}),
                 qPrintable(writer->lastError()));
    }
    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.log.contains(message), run.log.constData());
    QCOMPARE(run.log.count("Warning:"), 1);
    writer.reset();
    otherRun.unlock();

    QMap<QString, QByteArray> after = folderContents(dir.path());
    after.remove(QStringLiteral("update.log"));
    QCOMPARE(after.keys(), before.keys());
    QVERIFY(after == before);
}

void TestDbUpdateSafety::dryRunListsStepsAndChangesNothing_data()
{
    QTest::addColumn<int>("profileVersion");
    QTest::addColumn<int>("dataVersion");
    QTest::addColumn<QString>("missing");
    QTest::newRow("version 0") << 0 << 0 << "";
    QTest::newRow("version 1") << 1 << 1 << "";
    QTest::newRow("version 2") << 2 << 2 << "";
    QTest::newRow("profile.db at 3") << 3 << 2 << "";
    QTest::newRow("above the targets") << 9 << 7 << "";
    QTest::newRow("data.db missing") << 2 << 0 << "data.db";
}

void TestDbUpdateSafety::dryRunListsStepsAndChangesNothing()
{
    QFETCH(int, profileVersion);
    QFETCH(int, dataVersion);
    QFETCH(QString, missing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), profileVersion, dataVersion), QString());
    if (!missing.isEmpty())
        QVERIFY(QFile::remove(dir.filePath(missing)));
    const QMap<QString, QByteArray> before = folderContents(dir.path());

    const Run run = runDbUpdate(dir.path(), {QStringLiteral("--dry-run")}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.standardError.isEmpty(), run.standardError.constData());
    QVERIFY(folderContents(dir.path()) == before);

    const QStringList lines = QString::fromUtf8(run.standardOutput).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList steps[3];
    int current = -1;
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1String("  "))) {
            current = int(databases.indexOf(line.section(QLatin1Char(':'), 0, 0)));
            QVERIFY2(current >= 0, qPrintable(line));
            continue;
        }
        QVERIFY(current >= 0);
        steps[current] << line.mid(2).section(QLatin1Char(':'), 0, 0);
    }
    QCOMPARE(steps[0], profileSteps(profileVersion));
    QCOMPARE(steps[1], dataSteps(missing.isEmpty() ? dataVersion : 0));
    QCOMPARE(steps[2], QStringList());
    QVERIFY2(
        lines.contains(QStringLiteral("profile.db: version %1, target 3; the steps a run takes:").arg(profileVersion)),
        run.standardOutput.constData());
    QVERIFY2(
        lines.contains(missing.isEmpty()
                           ? QStringLiteral("data.db: version %1, target 2; the steps a run takes:").arg(dataVersion)
                           : QStringLiteral("data.db: not found, a run creates it empty; version 0, "
                                            "target 2; the steps a run takes:")),
        run.standardOutput.constData());
    QVERIFY(lines.contains(QStringLiteral("qc.db: version 0, nothing to do")));
    if (profileVersion == 0) {
        QVERIFY(lines.contains(QStringLiteral("  updatebase 40: alter table user rename to user_bak")));
        QVERIFY(lines.contains(QStringLiteral("  updateprofile 23: create table user( id integer primary key, "
                                              "name text unique COLLATE NOCASE, password text, level integer "
                                              "default 0, hide integer default 0 )")));
    }
}

void TestDbUpdateSafety::helpChangesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("-h") << QStringList{"-h"};
    QTest::newRow("--help") << QStringList{"--help"};
    QTest::newRow("after a log file name") << QStringList{"update.log", "--help"};
    QTest::newRow("with --dry-run") << QStringList{"--dry-run", "-h"};
}

void TestDbUpdateSafety::helpChangesNothing()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run run = runDbUpdate(dir.path(), arguments);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.standardOutput.startsWith("Usage: dbupdate [--dry-run] [logfile [translation...]]\n"),
             run.standardOutput.constData());
    QVERIFY(run.standardOutput.contains("--dry-run"));
    QVERIFY(run.standardError.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(TestDbUpdateSafety)
#include "tst_dbupdatesafety.moc"
