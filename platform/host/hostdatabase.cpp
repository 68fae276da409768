#include "hostdatabase.h"

#include "core/analysisresult.h"
#include "core/profile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace hostdatabase {

namespace {

const char* const lookupTables[] = {"department", "sex", "treatmentRoom", "diagnosis", "doctor", "operator"};

QStringList profileSchema()
{
    QStringList s = {
        QStringLiteral("create table profile(name text primary key, value)"),
        QStringLiteral("create table user(id integer primary key, name text, password text, "
                       "level integer, hide integer)"),
        QStringLiteral("insert into user values(1, 'admin', '', 9, 0)"),
        QStringLiteral("create table curve(id integer primary key, name text, yUnit text)"),
        QStringLiteral("create index curve_index on curve(name)"),
        QStringLiteral("create table curvePoint(curveId integer, x real, y real, z real)"),
        QStringLiteral("create table curveVariable(curveId integer, name text, value)"),
        QStringLiteral("create table curveReagent(curveId integer, reagentId integer)"),
        QStringLiteral("create trigger deleteCurve after delete on curve begin "
                       "delete from curvePoint where curvePoint.curveId = old.id; "
                       "delete from curveVariable where curveVariable.curveId = old.id; "
                       "delete from curveReagent where curveReagent.curveId = old.id; end"),
        QStringLiteral("create table assayCalibration(id integer primary key, name text, funX text, funY text)"),
        QStringLiteral("create table assayTemplate(id integer primary key, name text)"),
        QStringLiteral("create table assayItem(id integer primary key, name text, precision integer, "
                       "unit text, upperNormal real, assayTemplateId integer)"),
        QStringLiteral("create table reagent(id integer primary key, type integer, name text unique, "
                       "initVolume integer, alarmLimit integer, vialType integer)"),
    };
    const char* const assays[] = {"PT", "APTT", "TT", "FIB"};
    const char* const units[] = {"s", "s", "s", "g/L"};
    for (int i = 0; i < 4; ++i) {
        s << QStringLiteral("insert into assayTemplate values(%1, '%2')").arg(i + 1).arg(QLatin1String(assays[i]))
          << QStringLiteral("insert into assayItem values(%1, '%2', 1, '%3', 0, %1)")
                 .arg(i + 1)
                 .arg(QLatin1String(assays[i]), QLatin1String(units[i]))
          << QStringLiteral("insert into assayCalibration (id, name, funX, funY) values(%1, '%2', 'Lin', 'Lin')")
                 .arg(i + 1)
                 .arg(QLatin1String(assays[i]));
    }
    return s;
}

QStringList dataSchema()
{
    QStringList s = {
        QStringLiteral("create table patient(id integer primary key, sampleNo text, date text, name text)"),
        QStringLiteral("create index patient_index on patient(date, sampleNo)"),
        QStringLiteral("create table exam(id integer primary key, sampleNo text, date text, item text)"),
        QStringLiteral("create table result(id integer primary key, patientId integer, item text, value real)"),
        QStringLiteral("create table patientExtra(id integer primary key, patientId integer, info text)"),
        QStringLiteral("create table curve(id integer primary key, patientId integer, item text, curve blob)"),
        QStringLiteral("create index curve_patient on curve(patientId, item)"),
    };
    for (const char* table : lookupTables)
        s << QStringLiteral("create table %1(id integer primary key, abbr text, name text)").arg(QLatin1String(table));
    s << QStringLiteral("create trigger on_delete_patient after delete on patient\nbegin\n"
                        "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
                        "\tdelete from result where old.id = result.patientId;\n"
                        "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
                        "\tdelete from curve where old.id = curve.patientId;\nend");
    return s;
}

QStringList qcSchema()
{
    return {QStringLiteral("create table qcResult(id integer primary key, lot text, item text, "
                           "value real, date text)")};
}

QStringList syslogSchema()
{
    return {QStringLiteral("create table log(id integer primary key, time text, level integer, "
                           "source text, message text)")};
}

// Runs the statements in one transaction on a private connection; a file
// that already holds tables is left alone.
bool setUp(const QString& fileName, const QStringList& statements, bool* created, QString* error)
{
    *created = false;
    const QString connection = QStringLiteral("velahost-setup-%1").arg(fileName);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(fileName);
        if (!db.open()) {
            *error = QStringLiteral("%1: %2").arg(fileName, db.lastError().text());
            ok = false;
        } else if (db.tables().isEmpty()) {
            db.transaction();
            QSqlQuery q(db);
            for (const QString& sql : statements) {
                if (!q.exec(sql)) {
                    *error = QStringLiteral("%1: %2: %3").arg(fileName, sql, q.lastError().text());
                    ok = false;
                    break;
                }
            }
            if (ok && !db.commit()) {
                *error = QStringLiteral("%1: %2").arg(fileName, db.lastError().text());
                ok = false;
            }
            if (!ok)
                db.rollback();
            *created = ok;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

} // namespace

bool prepare(QStringList* created, QString* error)
{
    struct File
    {
        const char* name;
        QStringList statements;
    };
    const File files[] = {
        {"profile.db", profileSchema()},
        {"data.db", dataSchema()},
        {"qc.db", qcSchema()},
        {"syslog.db", syslogSchema()},
    };
    for (const File& f : files) {
        bool made = false;
        if (!setUp(QString::fromLatin1(f.name), f.statements, &made, error))
            return false;
        if (made)
            created->append(QString::fromLatin1(f.name));
    }
    return true;
}

int runUpgrade(const QString& programDir, QString* detail)
{
    const QString program = QDir(programDir).filePath(QStringLiteral("dbupdate"));
    if (!QFileInfo(program).isExecutable()) {
        *detail = QStringLiteral("%1 not found").arg(program);
        return -1;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, {QStringLiteral("dbupdate.log")});
    if (!p.waitForStarted(10000)) {
        *detail = p.errorString();
        return -2;
    }
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        *detail = QStringLiteral("did not end within 60 s");
        return -2;
    }
    *detail = QString::fromLocal8Bit(p.readAll()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit) {
        *detail = QStringLiteral("crashed");
        return -2;
    }
    return p.exitCode();
}

int patientId(const QString& sampleNo, const QDate& date, QString* error)
{
    QSqlDatabase db = Profile::instance().dataDatabase();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("select id from patient where sampleNo=:sampleNo and date=:date"));
    q.bindValue(QStringLiteral(":sampleNo"), sampleNo);
    q.bindValue(QStringLiteral(":date"), date);
    if (!q.exec()) {
        *error = q.lastError().text();
        return -1;
    }
    if (q.next())
        return q.value(0).toInt();
    q.prepare(QStringLiteral("insert into patient (sampleNo, date) values(:sampleNo, :date)"));
    q.bindValue(QStringLiteral(":sampleNo"), sampleNo);
    q.bindValue(QStringLiteral(":date"), date);
    if (!q.exec()) {
        *error = q.lastError().text();
        return -1;
    }
    return q.lastInsertId().toInt();
}

bool saveResult(int patientId, const QString& item, double value, QString* error)
{
    QSqlDatabase db = Profile::instance().dataDatabase();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("delete from result where patientId=:patientId and item=:item"));
    q.bindValue(QStringLiteral(":patientId"), patientId);
    q.bindValue(QStringLiteral(":item"), item);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    q.prepare(QStringLiteral("insert into result (patientId, item, value) values(:patientId, :item, :value)"));
    q.bindValue(QStringLiteral(":patientId"), patientId);
    q.bindValue(QStringLiteral(":item"), item);
    q.bindValue(QStringLiteral(":value"), value);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

bool storeFinished(const QString& sampleNo, const QDate& date, const QString& item, bool hasValue, double value,
                   const ClotCurve& curve, int* patient, QString* error)
{
    QSqlDatabase db = Profile::instance().dataDatabase();
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    *patient = patientId(sampleNo, date, error);
    bool ok = *patient >= 0;
    if (ok) {
        // One curve per patient and item: an earlier one goes first.
        QSqlQuery q(db);
        q.prepare(QStringLiteral("delete from curve where patientId=:patientId and item=:item"));
        q.bindValue(QStringLiteral(":patientId"), *patient);
        q.bindValue(QStringLiteral(":item"), item);
        ok = q.exec();
        if (!ok)
            *error = QStringLiteral("curve row: %1").arg(q.lastError().text());
    }
    if (ok && !curve.isEmpty()) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("insert into curve (patientId, item, curve) values(:patientId, :item, :curve)"));
        q.bindValue(QStringLiteral(":patientId"), *patient);
        q.bindValue(QStringLiteral(":item"), item);
        q.bindValue(QStringLiteral(":curve"), curve.toBuffer());
        ok = q.exec();
        if (!ok)
            *error = QStringLiteral("curve row: %1").arg(q.lastError().text());
    }
    if (ok && hasValue) {
        ok = saveResult(*patient, item, value, error);
        if (!ok)
            *error = QStringLiteral("result row: %1").arg(*error);
    }
    if (ok && !db.commit()) {
        *error = db.lastError().text();
        ok = false;
    }
    if (!ok)
        db.rollback();
    return ok;
}

bool storedResult(const QString& sampleNo, const QDate& date, const QString& item, double* value, int* points)
{
    QSqlQuery q(Profile::instance().dataDatabase());
    q.prepare(QStringLiteral("select result.value, result.patientId from result join patient "
                             "on patient.id = result.patientId "
                             "where patient.sampleNo=:sampleNo and patient.date=:date and result.item=:item"));
    q.bindValue(QStringLiteral(":sampleNo"), sampleNo);
    q.bindValue(QStringLiteral(":date"), date);
    q.bindValue(QStringLiteral(":item"), item);
    if (!q.exec() || !q.next())
        return false;
    *value = q.value(0).toDouble();
    ClotCurve curve;
    curve.load(q.value(1).toInt(), item);
    *points = curve.size();
    return true;
}

} // namespace hostdatabase
