#include "dbfixture.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "testtime.h"

namespace fixture {

namespace {

QAtomicInt connectionCounter;

// The definitions the upgrade writes; a database that was upgraded before
// holds exactly these.
const char newLookupTable[] = "create table %1(\n\tid integer primary key,\n\tabbr text COLLATE NOCASE,\n\tname text)";
const char newLookupIndex[] = "create index if not exists %1_index on %1 (abbr)";
const char newDetailTable[] =
    "create table detail(\n\tid integer primary key,\n\tpatientId integer references patient,\n"
    "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
    "\tinfo text,\t\t\t\t\t\t\t\t\t\t-- 测试详细信息, 如测试通道等\n"
    "\tunique(patientId, item) on conflict replace)";
const char oldPatientTrigger[] = "create trigger on_delete_patient after delete on patient\nbegin\n"
                                 "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
                                 "\tdelete from result where old.id = result.patientId;\n"
                                 "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
                                 "\tdelete from curve where old.id = curve.patientId;\nend";
const char newPatientTrigger[] = "create trigger on_delete_patient after delete on patient\nbegin\n"
                                 "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
                                 "\tdelete from result where old.id = result.patientId;\n"
                                 "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
                                 "\tdelete from curve where old.id = curve.patientId;\n"
                                 "\tdelete from detail where old.id = detail.patientId;\nend";

const char newUserTable[] = "create table user(\n\tid integer primary key,\n\tname text unique COLLATE NOCASE,\n"
                            "\tpassword text,\n\tlevel integer default 0,\n\thide integer default 0 )";
const char newCurveInfoTable[] =
    "-- curve debug info, since v1\ncreate table curveInfo (\n\tcurveId integer references curve,\n"
    "\tname text not null,\n\tvalue,\n\tunique (curveId, name) on conflict replace\n\t)";
const char newDeleteCurveTrigger[] = "create trigger deleteCurve after delete on curve \nbegin \n"
                                     "\tdelete from curvePoint    where    curvePoint.curveId = old.id;\n"
                                     "\tdelete from curveVariable where curveVariable.curveId = old.id;\n"
                                     "\tdelete from curveReagent  where  curveReagent.curveId = old.id;\n"
                                     "\tdelete from curveInfo     where     curveInfo.curveId = old.id;\nend";

QString build(const QString& path, const QStringList& statements)
{
    QFile::remove(path);
    Db db(path);
    if (!db.isOpen())
        return QStringLiteral("can't open ") + path;
    QStringList all = statements;
    all.prepend(QStringLiteral("begin"));
    all.append(QStringLiteral("commit"));
    return db.exec(all) ? QString() : db.lastError();
}

QString sqlLiteral(const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    if (value.typeId() == QMetaType::QString)
        return QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
    return value.toString();
}

} // namespace

Db::Db(const QString& path)
    : m_name(QStringLiteral("fixture-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(path);
    if (!m_db.open())
        m_error = m_db.lastError().text();
}

Db::~Db()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool Db::exec(const QStringList& statements)
{
    for (const QString& statement : statements) {
        QSqlQuery query(m_db);
        if (!query.exec(statement)) {
            m_error = statement + QLatin1String(": ") + query.lastError().text();
            return false;
        }
    }
    return true;
}

QVariant Db::value(const QString& sql)
{
    QSqlQuery query(m_db);
    if (!query.exec(sql)) {
        m_error = sql + QLatin1String(": ") + query.lastError().text();
        return QVariant();
    }
    return query.first() ? query.value(0) : QVariant();
}

QList<QVariantList> Db::rows(const QString& sql)
{
    QList<QVariantList> result;
    QSqlQuery query(m_db);
    if (!query.exec(sql)) {
        m_error = sql + QLatin1String(": ") + query.lastError().text();
        return result;
    }
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        result << row;
    }
    return result;
}

bool Db::hasTable(const QString& name)
{
    return value(QStringLiteral("select count(*) from sqlite_master where type='table' and name='%1'").arg(name))
               .toInt()
           == 1;
}

QString Db::storedSql(const QString& name)
{
    return value(QStringLiteral("select sql from sqlite_master where name='%1'").arg(name)).toString();
}

QStringList dataForeignObjects()
{
    QStringList references;
    QStringList lookups;
    QStringList names;
    for (const QString& table : lookupTables()) {
        references << QStringLiteral("%1Id integer references %1(id)").arg(table);
        lookups << QStringLiteral("(select id from %1 where abbr = 'ab')").arg(table);
        names << QStringLiteral("select '%1' as kind, id, name from %1").arg(table);
    }
    return {
        QStringLiteral("create table assignment(patientId integer references patient(id), %1)")
            .arg(references.join(QLatin1String(", "))),
        QStringLiteral("create trigger assign_lookups after insert on patient begin\n"
                       "\tinsert into assignment values(new.id, %1);\nend")
            .arg(lookups.join(QLatin1String(", "))),
        QStringLiteral("create view lookup_names as ") + names.join(QLatin1String(" union all ")),
    };
}

QStringList profileForeignObjects()
{
    return {
        QStringLiteral("create table userLog(id integer primary key, userId integer references user(id), "
                       "action text)"),
        QStringLiteral("create trigger log_new_curve after insert on curve begin\n"
                       "\tinsert into userLog(userId, action) select id, 'curve ' || new.name from user "
                       "where name = 'admin';\nend"),
        QStringLiteral("create view user_names as select id, name from user"),
    };
}

QStringList foreignObjectNames()
{
    return {QStringLiteral("assignment"), QStringLiteral("assign_lookups"), QStringLiteral("lookup_names"),
            QStringLiteral("userLog"),    QStringLiteral("log_new_curve"),  QStringLiteral("user_names")};
}

QString foreignObjectsSql(const QString& path)
{
    Db db(path);
    QString text;
    for (const QString& name : foreignObjectNames()) {
        const QString sql = db.storedSql(name);
        if (!sql.isEmpty())
            text += sql + QLatin1Char('\n');
    }
    return text;
}

QStringList lookupTables()
{
    return {QStringLiteral("department"), QStringLiteral("sex"),    QStringLiteral("treatmentRoom"),
            QStringLiteral("diagnosis"),  QStringLiteral("doctor"), QStringLiteral("operator")};
}

QList<QVariantList> lookupRows()
{
    return {
        {1, QStringLiteral("ab"), QStringLiteral("Alpha")}, {5, QStringLiteral("Cd"), QStringLiteral("Gamma")},
        {9, QVariant(), QStringLiteral("no abbreviation")}, {12, QStringLiteral("x'y"), QStringLiteral("O'Brien")},
        {20, QStringLiteral("nk"), QStringLiteral("内科")},
    };
}

QString createDataDb(const QString& path, int version)
{
    QStringList s;
    if (version < 1) {
        s << QStringLiteral("create table patient(id integer primary key, sampleNo text, date text, name text)");
    } else {
        s << QStringLiteral("create table patient(id integer primary key, sampleNo text, date text, "
                            "name text, sampleType text, hospitalNo text)");
    }
    s << QStringLiteral("create table exam(id integer primary key, sampleNo text, date text, item text)")
      << QStringLiteral("create table result(id integer primary key, patientId integer, item text, value real)")
      << QStringLiteral("create table patientExtra(id integer primary key, patientId integer, info text)")
      << QStringLiteral("create table curve(id integer primary key, patientId integer, data blob)");
    for (const QString& table : lookupTables()) {
        if (version < 1) {
            s << QStringLiteral("create table %1(id integer primary key, abbr text, name text)").arg(table);
        } else {
            s << QString::fromLatin1(newLookupTable).arg(table) << QString::fromLatin1(newLookupIndex).arg(table);
        }
        for (const QVariantList& row : lookupRows()) {
            s << QStringLiteral("insert into %1 values(%2, %3, %4)")
                     .arg(table, sqlLiteral(row[0]), sqlLiteral(row[1]), sqlLiteral(row[2]));
        }
    }
    if (version >= 1) {
        s << QString::fromUtf8(newDetailTable) << QStringLiteral("insert into detail values(1, 1, 'PT', 'channel 1')")
          << QStringLiteral("insert into detail values(2, 2, 'PT', 'channel 2')")
          << QStringLiteral("create table version(version integer)")
          << QStringLiteral("insert into version values(%1)").arg(version);
    }
    s << QString::fromLatin1(version < 2 ? oldPatientTrigger : newPatientTrigger);
    s << dataForeignObjects();
    s << QStringLiteral("insert into patient (id, sampleNo, date, name) values(1, '001', '2013-05-02', 'Wang')")
      << QStringLiteral("insert into patient (id, sampleNo, date, name) values(2, '002', '2013-05-02', 'Li')")
      << QStringLiteral("insert into exam values(1, '001', '2013-05-02', 'PT')")
      << QStringLiteral("insert into exam values(2, '001', '2013-05-03', 'PT')")
      << QStringLiteral("insert into exam values(3, '002', '2013-05-02', 'APTT')")
      << QStringLiteral("insert into result values(1, 1, 'PT', 12.5)")
      << QStringLiteral("insert into result values(2, 2, 'APTT', 31.0)")
      << QStringLiteral("insert into patientExtra values(1, 1, 'ward 3')")
      << QStringLiteral("insert into patientExtra values(2, 2, 'ward 4')")
      << QStringLiteral("insert into curve values(1, 1, x'0102')")
      << QStringLiteral("insert into curve values(2, 2, x'0304')");
    return build(path, s);
}

QString addLookupRows(const QString& path, int count)
{
    Db db(path);
    QStringList s{QStringLiteral("begin")};
    for (const QString& table : lookupTables()) {
        s << QStringLiteral("with recursive n(i) as (select 1000 union all select i + 1 from n where i < %1) "
                            "insert into %2 (id, abbr, name) "
                            "select i, 'a' || i, 'name of entry ' || i || ' in %2' from n")
                 .arg(999 + count)
                 .arg(table);
    }
    s << QStringLiteral("commit");
    return db.exec(s) ? QString() : db.lastError();
}

QString createProfileDb(const QString& path, int version)
{
    QStringList s;
    if (version < 1)
        s << QStringLiteral("create table user(id integer primary key, name text, password text, "
                            "level integer, hide integer)");
    else
        s << QString::fromLatin1(newUserTable);
    s << QStringLiteral("insert into user values(1, 'admin', 'pw1', 9, 0)")
      << QStringLiteral("insert into user values(4, 'Service', 'pw4', 5, 1)")
      << QStringLiteral("insert into user values(7, 'lab', NULL, 0, 0)");

    QString curveColumns = QStringLiteral("id integer primary key, name text, yUnit text");
    if (version >= 2)
        curveColumns += QStringLiteral(", instrUuid text");
    if (version >= 3)
        curveColumns += QStringLiteral(", c real, d real, e real, valid integer");
    s << QStringLiteral("create table curve(%1)").arg(curveColumns);
    if (version < 2)
        s << QStringLiteral("create index curve_index on curve(name)");
    else
        s << QStringLiteral("create unique index curve_index on curve(name, instrUuid)");
    s << QStringLiteral("create table curvePoint(curveId integer, x real, y real, z real)")
      << QStringLiteral("create table curveVariable(curveId integer, name text, value)")
      << QStringLiteral("create table curveReagent(curveId integer, reagentId integer)");
    if (version >= 1)
        s << QString::fromLatin1(newCurveInfoTable) << QString::fromLatin1(newDeleteCurveTrigger);
    else
        s << QStringLiteral("create trigger deleteCurve after delete on curve begin "
                            "delete from curvePoint where curvePoint.curveId = old.id; end");

    QString calibrationColumns = QStringLiteral("id integer primary key, name text, funX text, funY text");
    if (version >= 3)
        calibrationColumns += QStringLiteral(", method integer, dispX text, dispY text");
    s << profileForeignObjects();
    s << QStringLiteral("create table assayCalibration(%1)").arg(calibrationColumns)
      << QStringLiteral("create table assayTemplate(id integer primary key, name text)")
      << QStringLiteral("create table assayItem(id integer primary key, name text, precision integer, "
                        "unit text, upperNormal real, assayTemplateId integer)")
      << QStringLiteral("create table reagent(id integer primary key, type integer, name text unique, "
                        "initVolume integer, alarmLimit integer, vialType integer)")
      << QStringLiteral("create table profile(name text unique, value)");

    s << QStringLiteral("insert into curve (id, name, yUnit) values(1, 'DD', 'mg/l')")
      << QStringLiteral("insert into curve (id, name, yUnit) values(2, 'FIB', 's')")
      << QStringLiteral("insert into curve (id, name, yUnit) values(3, 'PT', 's')")
      << QStringLiteral("insert into curvePoint values(1, 1.0, 500, 1000)")
      << QStringLiteral("insert into curvePoint values(1, 2.0, 250, 2000)")
      << QStringLiteral("insert into curvePoint values(2, 1.0, 10, 20)")
      << QStringLiteral("insert into curvePoint values(3, 1.0, 11, 12)")
      << QStringLiteral("insert into curveVariable values(1, 'a', 1)")
      << QStringLiteral("insert into curveVariable values(2, 'a', 2)")
      << QStringLiteral("insert into curveReagent values(1, 1)")
      << QStringLiteral("insert into curveReagent values(2, 1)");
    if (version >= 1)
        s << QStringLiteral("insert into curveInfo values(1, 'lot', 'L1')")
          << QStringLiteral("insert into curveInfo values(2, 'lot', 'L2')");
    if (version >= 2)
        s << QStringLiteral("update curve set instrUuid = 'uuid-a'");
    const QStringList calibrations = {
        QStringLiteral("PT"),  QStringLiteral("PT 演算 FIB"), QStringLiteral("PT calculate FIB"),
        QStringLiteral("FIB"), QStringLiteral("DD"),          QStringLiteral("FDP"),
        QStringLiteral("AT"),  QStringLiteral("II"),          QStringLiteral("V"),
        QStringLiteral("VII"), QStringLiteral("X"),           QStringLiteral("VIII"),
        QStringLiteral("IX"),  QStringLiteral("XI"),          QStringLiteral("XII"),
        QStringLiteral("APTT")};
    for (int i = 0; i < calibrations.size(); ++i)
        s << QStringLiteral("insert into assayCalibration (id, name, funX, funY) values(%1, '%2', 'Lin', 'Lin')")
                 .arg(i + 1)
                 .arg(calibrations[i]);
    s << QStringLiteral("insert into assayTemplate values(1, 'DD')")
      << QStringLiteral("insert into assayTemplate values(2, 'FDP')")
      << QStringLiteral("insert into assayItem values(1, 'P', 2, 'mg/l', 500, 1)")
      << QStringLiteral("insert into assayItem values(2, 'P', 2, 'mg/l', 5, 2)")
      << QStringLiteral("insert into assayItem values(3, 'OD', 3, '', 0, 1)")
      << QStringLiteral("insert into reagent values(1, 0, 'Latex', 1000, 100, 1)")
      << QStringLiteral("insert into reagent values(2, 2, 'Buffer', 1, 1, 1)")
      << QStringLiteral("insert into reagent values(3, 2, 'Saline', 1, 1, 1)")
      << QStringLiteral("insert into reagent values(4, 1, 'PT', 2000, 200, 2)")
      << QStringLiteral("insert into profile values('DD/disable', '1')")
      << QStringLiteral("insert into profile values('II/disable', '1')")
      << QStringLiteral("insert into profile values('FDP/disable', '1')")
      << QStringLiteral("insert into profile values('schedule/sample', '9')")
      << QStringLiteral("insert into profile values('other/key', 'keep')");
    if (version >= 2)
        s << QStringLiteral("insert into profile values('dilution', 'custom;1/2')")
          << QStringLiteral("insert into profile values('FIB/report/dilution', '1/5')")
          << QStringLiteral("insert into profile values('patient/sampleType', 'kept')");
    if (version >= 1)
        s << QStringLiteral("create table version(version integer)")
          << QStringLiteral("insert into version values(%1)").arg(version);
    return build(path, s);
}

QString createQcDb(const QString& path)
{
    return build(path, {QStringLiteral("create table qcResult(id integer primary key, lot text, value real)"),
                        QStringLiteral("insert into qcResult values(1, 'L1', 12.5)")});
}

QString createInstallation(const QString& dir, int profileVersion, int dataVersion)
{
    QString error = createProfileDb(dir + QLatin1String("/profile.db"), profileVersion);
    if (error.isEmpty())
        error = createDataDb(dir + QLatin1String("/data.db"), dataVersion);
    if (error.isEmpty())
        error = createQcDb(dir + QLatin1String("/qc.db"));
    return error;
}

QString dbUpdateProgram()
{
    return QStringLiteral(DBUPDATE_PROGRAM);
}

Run runDbUpdate(const QString& dir, const QStringList& arguments, const QString& logName, const QStringList& wrapper)
{
    Run run;
    QStringList all = arguments;
    if (!logName.isEmpty())
        all.prepend(logName);
    QString program = dbUpdateProgram();
    if (!wrapper.isEmpty()) {
        all = wrapper.mid(1) + QStringList{program} + all;
        program = wrapper.first();
    }
    QProcess process;
    process.setWorkingDirectory(dir);
    if (!wrapper.isEmpty()) {
        // A program traced by a wrapper such as strace cannot run
        // LeakSanitizer (it stops with a fatal error under ptrace), so the
        // sanitizer build checks leaks in the untraced runs only.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("detect_leaks=0"));
        process.setProcessEnvironment(environment);
    }
    process.start(program, all);
    run.finished = process.waitForFinished(testsupport::scaled(30000));
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    if (!logName.isEmpty())
        run.log = fileContents(QDir(dir).filePath(logName));
    return run;
}

QStringList asText(const QList<QVariantList>& rows)
{
    QStringList lines;
    for (const QVariantList& row : rows) {
        QStringList cells;
        for (const QVariant& cell : row)
            cells << (cell.isNull() ? QStringLiteral("NULL") : cell.toString());
        lines << cells.join(QLatin1String(" | "));
    }
    return lines;
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, QByteArray> folderContents(const QString& dir)
{
    QMap<QString, QByteArray> files;
    const QDir folder(dir);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        files.insert(name, fileContents(folder.filePath(name)));
    return files;
}

QString dump(const QString& path, const QStringList& skipTables)
{
    Db db(path);
    QString text;
    const auto schema = db.rows(
        QStringLiteral("select type, name, tbl_name, sql from sqlite_master order by type, name"));
    QStringList tables;
    for (const QVariantList& object : schema) {
        text += QStringLiteral("%1 %2 on %3: %4\n")
                    .arg(object[0].toString(), object[1].toString(), object[2].toString(), object[3].toString());
        if (object[0].toString() == QLatin1String("table"))
            tables << object[1].toString();
    }
    for (const QString& table : tables) {
        if (skipTables.contains(table))
            continue;
        text += QLatin1String("rows of ") + table + QLatin1Char('\n');
        // The storage class shows a value that changed type.
        const auto rows = db.rows(QStringLiteral("select * from %1 order by rowid").arg(table));
        for (const QVariantList& row : rows) {
            QStringList cells;
            for (const QVariant& cell : row)
                cells << (cell.isNull()
                              ? QStringLiteral("NULL")
                              : QStringLiteral("%1:%2").arg(QString::fromLatin1(cell.typeName()), cell.toString()));
            text += cells.join(QLatin1String(" | ")) + QLatin1Char('\n');
        }
    }
    return text;
}

} // namespace fixture
