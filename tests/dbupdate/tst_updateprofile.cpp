// Upgrades of profile.db by the built dbupdate, from each schema version.
#include "dbfixture.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace fixture;

namespace {

const QString userSql = QStringLiteral(
    "create table user(\n\tid integer primary key,\n\tname text unique COLLATE NOCASE,\n"
    "\tpassword text,\n\tlevel integer default 0,\n\thide integer default 0 )");
// SQLite drops the leading comment line of this statement when it stores it.
const QString curveInfoSql = QStringLiteral(
    "curveInfo (\n\tcurveId integer references curve,\n"
    "\tname text not null,\n\tvalue,\n\tunique (curveId, name) on conflict replace\n\t)");
const QString deleteCurveSql = QStringLiteral("deleteCurve after delete on curve \nbegin \n"
                                              "\tdelete from curvePoint    where    curvePoint.curveId = old.id;\n"
                                              "\tdelete from curveVariable where curveVariable.curveId = old.id;\n"
                                              "\tdelete from curveReagent  where  curveReagent.curveId = old.id;\n"
                                              "\tdelete from curveInfo     where     curveInfo.curveId = old.id;\nend");

const QStringList standardReagents = {
    QStringLiteral("0 | Latex | 2000 | 200 | 3"),        QStringLiteral("0 | FDP | 2000 | 200 | 3"),
    QStringLiteral("2 | Saline | 6500 | 200 | 6"),       QStringLiteral("2 | Buffer(PT) | 6500 | 200 | 6"),
    QStringLiteral("2 | Buffer(APTT) | 6500 | 200 | 6"), QStringLiteral("2 | Buffer(FIB) | 6500 | 200 | 6"),
    QStringLiteral("2 | Buffer(TT) | 6500 | 200 | 6"),   QStringLiteral("2 | Buffer(DD) | 6500 | 200 | 6"),
    QStringLiteral("2 | Buffer(EX) | 6500 | 200 | 6"),   QStringLiteral("2 | Buffer(EN) | 6500 | 200 | 6"),
    QStringLiteral("2 | Buffer(FDP) | 6500 | 200 | 6"),  QStringLiteral("5 | DD ct | 1000 | 200 | 1"),
    QStringLiteral("5 | FDP ct | 1000 | 200 | 1"),
};

} // namespace

class TestUpdateProfile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upgradesVersion0();
    void writesDefaultSettings_data();
    void writesDefaultSettings();
    void writesStandardReagents();
    void updatesCalibrations();
    void deletingCurveDeletesItsRows();
    void curveIndexAllowsOneCurvePerInstrument();
    void runsOnlyTheBlocksThatApply_data();
    void runsOnlyTheBlocksThatApply();
    void usersDifferingInCaseFailTheCopy();
    void existingDilutionStopsTheUpgrade();

private:
    // A copy of profile.db as the one run of initTestCase upgraded it from
    // version 0, for the tests that only look at or change the result.
    bool copyUpgraded(QTemporaryDir& dir)
    {
        return dir.isValid() && QFile::copy(profilePath(m_upgraded), profilePath(dir));
    }

    QTemporaryDir m_upgraded;
    QByteArray m_upgradeLog;

    // profile.db at `version`, data.db and qc.db at their targets.
    bool prepare(QTemporaryDir& dir, int version)
    {
        if (!dir.isValid())
            return false;
        const QString error = createInstallation(dir.path(), version, 2);
        if (!error.isEmpty())
            qWarning("%s", qPrintable(error));
        return error.isEmpty();
    }
    QString profilePath(const QTemporaryDir& dir) const { return dir.filePath(QStringLiteral("profile.db")); }
};

void TestUpdateProfile::initTestCase()
{
    QVERIFY(prepare(m_upgraded, 0));
    const Run run = runDbUpdate(m_upgraded.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    m_upgradeLog = run.log;
}

void TestUpdateProfile::upgradesVersion0()
{
    QVERIFY2(!m_upgradeLog.contains("Warning:"), m_upgradeLog.constData());
    QTemporaryDir dir;
    QVERIFY(copyUpgraded(dir));
    Db db(profilePath(dir));
    QCOMPARE(asText(db.rows(QStringLiteral("select * from user order by id"))),
             (QStringList{QStringLiteral("1 | admin | pw1 | 9 | 0"), QStringLiteral("4 | Service | pw4 | 5 | 1"),
                          QStringLiteral("7 | lab | NULL | 0 | 0")}));
    QVERIFY(!db.exec(QStringLiteral("insert into user (name) values('ADMIN')")));
    QVERIFY2(db.exec(QStringLiteral("insert into user (name) values('guest')")), qPrintable(db.lastError()));
    QCOMPARE(db.value(QStringLiteral("select level || ',' || hide from user where name = 'guest'")).toString(),
             QStringLiteral("0,0"));
    QVERIFY(!db.hasTable(QStringLiteral("user_bak")));

    QCOMPARE(db.storedSql(QStringLiteral("user")), QLatin1String("CREATE TABLE ") + userSql.mid(13));
    QCOMPARE(db.storedSql(QStringLiteral("curveInfo")), QLatin1String("CREATE TABLE ") + curveInfoSql);
    QCOMPARE(db.storedSql(QStringLiteral("deleteCurve")), QLatin1String("CREATE TRIGGER ") + deleteCurveSql);
    QCOMPARE(db.storedSql(QStringLiteral("curve_index")),
             QStringLiteral("CREATE UNIQUE INDEX curve_index on curve(name, instrUuid)"));
    QCOMPARE(db.rows(QStringLiteral("select version from version")), QList<QVariantList>{{3}});
    QVERIFY2(db.exec({QStringLiteral("select instrUuid, c, d, e, valid from curve"),
                      QStringLiteral("select method, dispX, dispY from assayCalibration")}),
             qPrintable(db.lastError()));
}

void TestUpdateProfile::writesDefaultSettings_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("value");
    QTest::newRow("FIB report dilution") << "FIB/report/dilution"
                                         << "text"
                                         << "1/10";
    QTest::newRow("dilution series") << "dilution"
                                     << "text"
                                     << QString::fromUtf8("梯度1;1/5;1/10;1/20;1/30,梯度2;1/5;1/10;1/20;1/30;1/40,"
                                                          "梯度3;1/1;1/2;1/4;1/8,梯度4;1/1;3/4;1/2;1/4");
    QTest::newRow("sample type") << "patient/sampleType"
                                 << "text" << QString::fromUtf8("样本类型");
    QTest::newRow("initial volume") << "reagent/initVolume"
                                    << "text" << QString::fromUtf8("初始量[ul]");
    QTest::newRow("alarm limit") << "reagent/alarmLimit"
                                 << "text" << QString::fromUtf8("报警限[ul]");
    QTest::newRow("interrupt limit") << "reagent/interruptLimit"
                                     << "text" << QString::fromUtf8("中断限[ul]");
    QTest::newRow("hospital number") << "patient/hospitalNo"
                                     << "text" << QString::fromUtf8("住院号");
    QTest::newRow("DD mix times") << "DD/mix/times"
                                  << "integer"
                                  << "3";
    QTest::newRow("DD max clot time") << "DD/max_clot_time"
                                      << "integer"
                                      << "120";
    QTest::newRow("DD special value") << "specialValue/DD/P"
                                      << "real"
                                      << "0.1";
    QTest::newRow("DD priority") << "DD/priority"
                                 << "integer"
                                 << "10";
    QTest::newRow("FDP special value") << "specialValue/FDP/P"
                                       << "real"
                                       << "0.1";
    QTest::newRow("schedule sample replaced") << "schedule/sample"
                                              << "integer"
                                              << "6";
    QTest::newRow("schedule dilution 1/40") << "schedule/dilution/1/40"
                                            << "integer"
                                            << "22";
    QTest::newRow("schedule FIB table") << "schedule/test/FIB/table"
                                        << "text"
                                        << "0.2,25;0.1,35;0.05,45;0.025,65";
    QTest::newRow("schedule XII") << "schedule/test/XII"
                                  << "integer"
                                  << "30";
    QTest::newRow("FIB od percent") << "analyst/FIB/odPercent"
                                    << "real"
                                    << "0.5";
    QTest::newRow("FIB od threshold") << "analyst/FIB/odThreshold"
                                      << "text"
                                      << "4,0.008; 6,0.004; 10,0.0025; 20,0.001; 40,0.0005";
    QTest::newRow("APTT od threshold") << "analyst/APTT/odThreshold"
                                       << "text"
                                       << "4,0.2; 10,0.05; 20,0.02";
    QTest::newRow("od threshold") << "analyst/odThreshold"
                                  << "text"
                                  << "4,0.2; 8,0.05; 10,0.01";
    QTest::newRow("unrelated key kept") << "other/key"
                                        << "text"
                                        << "keep";
    QTest::newRow("DD enabled") << "DD/disable"
                                << ""
                                << "";
    QTest::newRow("II enabled") << "II/disable"
                                << ""
                                << "";
    QTest::newRow("FDP enabled") << "FDP/disable"
                                 << ""
                                 << "";
}

void TestUpdateProfile::writesDefaultSettings()
{
    QFETCH(QString, key);
    QFETCH(QString, type);
    QFETCH(QString, value);
    Db db(profilePath(m_upgraded));
    const auto rows = db.rows(QStringLiteral("select typeof(value), value from profile where name = '%1'").arg(key));
    if (type.isEmpty()) {
        QVERIFY(rows.isEmpty());
        return;
    }
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toString(), type);
    QCOMPARE(rows[0][1].toString(), value);
}

void TestUpdateProfile::writesStandardReagents()
{
    QTemporaryDir dir;
    QVERIFY(copyUpgraded(dir));
    Db db(profilePath(dir));
    QStringList expected = standardReagents;
    expected << QStringLiteral("1 | PT | 2000 | 200 | 2");
    expected.sort();
    QStringList actual = asText(
        db.rows(QStringLiteral("select type, name, initVolume, alarmLimit, vialType from reagent")));
    actual.sort();
    QCOMPARE(actual, expected);
}

void TestUpdateProfile::updatesCalibrations()
{
    QTemporaryDir dir;
    QVERIFY(copyUpgraded(dir));
    Db db(profilePath(dir));
    const QString lin = QStringLiteral(" | Lin | Lin | ");
    QCOMPARE(asText(db.rows(
                 QStringLiteral("select name, funX, funY, method, dispX, dispY from assayCalibration order by id"))),
             (QStringList{QStringLiteral("PT | Lin | Lin | 0 | Log | Log"),
                          QString::fromUtf8("PT 演算 FIB | Log | Log | 0 | Log | Log"),
                          QStringLiteral("PT calculate FIB | Log | Log | 0 | Log | Log"),
                          QStringLiteral("FIB | Lin | Lin | 0 | Log | Log"),
                          QStringLiteral("DD | Log | Linear | 4 | Log | Log"),
                          QStringLiteral("FDP | Log | Linear | 4 | Log | Log"),
                          QStringLiteral("AT | Log | Linear | 4 | Log | Log"),
                          QStringLiteral("II") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("V") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("VII") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("X") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("VIII") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("IX") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("XI") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("XII") + lin + QStringLiteral("0 | Log | Log"),
                          QStringLiteral("APTT | Lin | Lin | NULL | NULL | NULL")}));
    QCOMPARE(asText(db.rows(QStringLiteral("select id, precision, unit, upperNormal from assayItem order by id"))),
             (QStringList{QStringLiteral("1 | 2 | ug/ml | 0.5"), QStringLiteral("2 | 2 | mg/l | 5"),
                          QStringLiteral("3 | 0 |  | 0")}));
    QCOMPARE(asText(db.rows(QStringLiteral("select name, yUnit, valid from curve order by id"))),
             (QStringList{QStringLiteral("DD | ug/ml | NULL"), QStringLiteral("FIB | s | 1"),
                          QStringLiteral("PT | s | NULL")}));
    QCOMPARE(asText(db.rows(QStringLiteral("select curveId, x, y, z from curvePoint order by rowid"))),
             (QStringList{QStringLiteral("1 | 1 | 0.5 | 1"), QStringLiteral("1 | 2 | 0.25 | 2"),
                          QStringLiteral("2 | 1 | 10 | 20"), QStringLiteral("3 | 1 | 11 | 12")}));
}

void TestUpdateProfile::deletingCurveDeletesItsRows()
{
    QTemporaryDir dir;
    QVERIFY(copyUpgraded(dir));
    Db db(profilePath(dir));
    QVERIFY2(db.exec({QStringLiteral("insert into curveInfo values(1, 'lot', 'A1')"),
                      QStringLiteral("insert into curveInfo values(1, 'lot', 'A2')"),
                      QStringLiteral("insert into curveInfo values(2, 'lot', 'B1')")}),
             qPrintable(db.lastError()));
    QCOMPARE(db.value(QStringLiteral("select value from curveInfo where curveId = 1")).toString(),
             QStringLiteral("A2"));
    QVERIFY(db.exec(QStringLiteral("delete from curve where id = 1")));
    for (const char* table : {"curvePoint", "curveVariable", "curveReagent", "curveInfo"}) {
        const QString name = QLatin1String(table);
        QCOMPARE(db.value(QStringLiteral("select count(*) from %1 where curveId = 1").arg(name)).toInt(), 0);
        QVERIFY(db.value(QStringLiteral("select count(*) from %1 where curveId = 2").arg(name)).toInt() > 0);
    }
}

void TestUpdateProfile::curveIndexAllowsOneCurvePerInstrument()
{
    QTemporaryDir dir;
    QVERIFY(copyUpgraded(dir));
    Db db(profilePath(dir));
    QVERIFY2(db.exec({QStringLiteral("insert into curve (name, instrUuid) values('APTT', 'uuid-a')"),
                      QStringLiteral("insert into curve (name, instrUuid) values('APTT', 'uuid-b')")}),
             qPrintable(db.lastError()));
    QVERIFY(!db.exec(QStringLiteral("insert into curve (name, instrUuid) values('APTT', 'uuid-a')")));
}

void TestUpdateProfile::runsOnlyTheBlocksThatApply_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("defaultsWritten");
    QTest::addColumn<bool>("calibrationsUpdated");
    QTest::newRow("version 1") << 1 << true << true;
    QTest::newRow("version 2") << 2 << false << true;
    QTest::newRow("version 3") << 3 << false << false;
    QTest::newRow("version above target") << 9 << false << false;
}

void TestUpdateProfile::runsOnlyTheBlocksThatApply()
{
    QFETCH(int, version);
    QFETCH(bool, defaultsWritten);
    QFETCH(bool, calibrationsUpdated);
    QTemporaryDir dir;
    QVERIFY(prepare(dir, version));
    const QString before = dump(profilePath(dir), {QStringLiteral("version")});

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    // Version 1 still lacks instrUuid and the unique index, so block B runs
    // without a failure; for later versions B is skipped.
    QVERIFY2(!run.log.contains("Warning:"), run.log.constData());

    Db db(profilePath(dir));
    QCOMPARE(db.rows(QStringLiteral("select version from version")), QList<QVariantList>{{3}});
    QCOMPARE(db.value(QStringLiteral("select count(*) from profile where name = 'DD/disable'")).toInt(),
             defaultsWritten ? 0 : 1);
    QCOMPARE(db.value(QStringLiteral("select count(*) from reagent where name = 'Buffer'")).toInt(),
             defaultsWritten ? 0 : 1);
    QCOMPARE(db.value(QStringLiteral("select value from profile where name = 'schedule/sample'")).toString(),
             QLatin1String(defaultsWritten ? "6" : "9"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from profile where name = 'reagent/initVolume'")).toInt(),
             defaultsWritten ? 1 : 0);
    QCOMPARE(asText(db.rows(QStringLiteral("select method, dispX from assayCalibration where name = 'PT'"))),
             QStringList{QLatin1String(calibrationsUpdated ? "0 | Log" : "NULL | NULL")});
    QCOMPARE(db.value(QStringLiteral("select valid from curve where name = 'FIB'")).toString(),
             QLatin1String(calibrationsUpdated ? "1" : ""));
    if (version >= 3)
        QCOMPARE(dump(profilePath(dir), {QStringLiteral("version")}), before);
}

void TestUpdateProfile::usersDifferingInCaseFailTheCopy()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 0));
    {
        Db db(profilePath(dir));
        QVERIFY(db.exec({QStringLiteral("insert into user values(5, 'Admin', 'other', 1, 0)"),
                         QStringLiteral("insert into user values(8, 'zed', 'z', 1, 0)")}));
    }
    const QByteArray data = fileContents(dir.filePath(QStringLiteral("data.db")));
    const QByteArray qc = fileContents(dir.filePath(QStringLiteral("qc.db")));

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.log.contains("Warning: updatebase ( 70 ):  UNIQUE constraint failed: user.name "),
             run.log.constData());
    QVERIFY2(run.log.contains(" : [ INSERT INTO \"user\" (\"id\", \"name\", \"password\", \"level\", "
                              "\"hide\") VALUES (5, 'Admin', 'other', 1, 0) ] \n"),
             run.log.constData());
    QCOMPARE(run.log.count("Warning: updatebase"), 1);

    Db db(profilePath(dir));
    // The rows before the failing one stay in the new table.
    QCOMPARE(db.rows(QStringLiteral("select id from user order by id")), (QList<QVariantList>{{1}, {4}}));
    QCOMPARE(db.value(QStringLiteral("select count(*) from user_bak")).toInt(), 5);
    QVERIFY(!db.hasTable(QStringLiteral("curveInfo")));
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("data.db"))), data);
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("qc.db"))), qc);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("data.db.bak"))));
}

void TestUpdateProfile::existingDilutionStopsTheUpgrade()
{
    QTemporaryDir dir;
    QVERIFY(prepare(dir, 1));
    {
        Db db(profilePath(dir));
        QVERIFY(db.exec(QStringLiteral("insert into profile values('dilution', 'mine')")));
    }
    const QByteArray data = fileContents(dir.filePath(QStringLiteral("data.db")));
    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.log.contains("Warning: updateprofile ( 86 ):  UNIQUE constraint failed: profile.name"),
             run.log.constData());

    Db db(profilePath(dir));
    QCOMPARE(db.rows(QStringLiteral("select version from version")), QList<QVariantList>{{3}});
    QCOMPARE(db.value(QStringLiteral("select value from profile where name = 'dilution'")).toString(),
             QStringLiteral("mine"));
    QCOMPARE(db.value(QStringLiteral("select value from profile where name = 'FIB/report/dilution'")).toString(),
             QStringLiteral("1/10"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from profile where name = 'patient/sampleType'")).toInt(), 0);
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("data.db"))), data);
}

QTEST_GUILESS_MAIN(TestUpdateProfile)
#include "tst_updateprofile.moc"
