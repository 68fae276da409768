#include "updateprofile.h"

namespace {

const char module[] = "updateprofile";

const char userTableSql[] = "create table user(\n"
                            "\tid integer primary key,\n"
                            "\tname text unique COLLATE NOCASE,\n"
                            "\tpassword text,\n"
                            "\tlevel integer default 0,\n"
                            "\thide integer default 0 )";

const char curveInfoTableSql[] = "-- curve debug info, since v1\n"
                                 "create table curveInfo (\n"
                                 "\tcurveId integer references curve,\n"
                                 "\tname text not null,\n"
                                 "\tvalue,\n"
                                 "\tunique (curveId, name) on conflict replace\n"
                                 "\t)";

const char deleteCurveTriggerSql[] = "create trigger deleteCurve after delete on curve \n"
                                     "begin \n"
                                     "\tdelete from curvePoint    where    curvePoint.curveId = old.id;\n"
                                     "\tdelete from curveVariable where curveVariable.curveId = old.id;\n"
                                     "\tdelete from curveReagent  where  curveReagent.curveId = old.id;\n"
                                     "\tdelete from curveInfo     where     curveInfo.curveId = old.id;\n"
                                     "end";

struct Statement
{
    const char* sql;
    int site;
};

// The standard reagents, written after the old generic rows are removed.
const Statement reagentRows[] = {
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(0, 'Latex',\t     2000, 200, 3)", 94},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(0, 'FDP',\t     2000, 200, 3)", 95},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Saline',\t     6500, 200, 6)", 96},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(PT)',\t 6500, 200, 6)", 97},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(APTT)', 6500, 200, 6)", 98},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(FIB)',\t 6500, 200, 6)",
     99},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(TT)',\t 6500, 200, 6)",
     100},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(DD)',\t 6500, 200, 6)",
     101},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(EX)',\t 6500, 200, 6)",
     102},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(EN)',\t 6500, 200, 6)",
     103},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(2, 'Buffer(FDP)',\t 6500, 200, 6)",
     104},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(5, 'DD ct',\t     1000, 200, 1)", 105},
    {"replace into reagent (type, name, initVolume, alarmLimit, vialType) values(5, 'FDP ct',\t     1000, 200, 1)",
     106},
};

const Statement testSettings[] = {
    {"replace into profile values('DD/mix/times',\t\t\t3)", 108},
    {"replace into profile values('DD/max_clot_time',\t\t120)", 109},
    {"replace into profile values('specialValue/DD/P',\t\t0.1)", 110},
    {"replace into profile values('DD/priority',\t\t\t10)", 111},
    {"replace into profile values('FDP/mix/times',\t\t\t3)", 112},
    {"replace into profile values('FDP/max_clot_time',\t\t120)", 113},
    {"replace into profile values('specialValue/FDP/P',\t\t0.1)", 114},
};

// Tests switched off by an installation are switched on again.
const Statement keyDeletions[] = {
    {"delete from profile where name='DD/disable'", 115},  {"delete from profile where name='II/disable'", 116},
    {"delete from profile where name='V/disable'", 117},   {"delete from profile where name='VII/disable'", 118},
    {"delete from profile where name='X/disable'", 119},   {"delete from profile where name='VIII/disable'", 120},
    {"delete from profile where name='IX/disable'", 121},  {"delete from profile where name='XI/disable'", 122},
    {"delete from profile where name='XII/disable'", 123}, {"delete from profile where name='FDP/disable'", 124},
};

// Step durations of the run scheduler.
const Statement scheduleSettings[] = {
    {"replace into profile values('schedule/sample',\t\t6)", 131},
    {"replace into profile values('schedule/reagent',\t\t6)", 132},
    {"replace into profile values('schedule/mix',\t\t\t2)", 133},
    {"replace into profile values('schedule/dilution',\t\t12)", 134},
    {"replace into profile values('schedule/dilution/1/10',\t12)", 135},
    {"replace into profile values('schedule/dilution/1/20',\t17)", 136},
    {"replace into profile values('schedule/dilution/1/40',\t22)", 137},
    {"replace into profile values('schedule/clean',\t\t15)", 138},
    {"replace into profile values('schedule/test/PT',\t\t27)", 139},
    {"replace into profile values('schedule/test/FIB/table', '0.2,25;0.1,35;0.05,45;0.025,65')", 140},
    {"replace into profile values('schedule/test/APTT',\t\t50)", 141},
    {"replace into profile values('schedule/test/TT',\t\t35)", 142},
    {"replace into profile values('schedule/test/II',\t\t30)", 143},
    {"replace into profile values('schedule/test/V',\t\t30)", 144},
    {"replace into profile values('schedule/test/VII',\t\t30)", 145},
    {"replace into profile values('schedule/test/X',\t\t30)", 146},
    {"replace into profile values('schedule/test/VIII',\t\t30)", 147},
    {"replace into profile values('schedule/test/IX',\t\t30)", 148},
    {"replace into profile values('schedule/test/XI',\t\t30)", 149},
    {"replace into profile values('schedule/test/XII',\t\t30)", 150},
};

const Statement curveAnalysis[] = {
    {"insert or abort into profile values('analyst/FIB/odPercent', \t\t0.5)", 152},
    {"replace into profile values('analyst/FIB/odThreshold',\t'4,0.008; 6,0.004; 10,0.0025; 20,0.001; 40,0.0005')",
     153},
    {"replace into profile values('analyst/APTT/odThreshold',\t'4,0.2; 10,0.05; 20,0.02')", 154},
    {"replace into profile values('analyst/odThreshold',\t    '4,0.2; 8,0.05; 10,0.01')", 155},
};

// Calibration methods and display scales of version 3, and the move of the
// DD result and calibration to ug/ml.
const Statement calibrationUpdates[] = {
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='PT'", 161},
    {"update assayCalibration set method=0, funX='Log', funY='Log', dispX='Log', dispY='Log' where name='PT 演算 FIB' "
     "or name='PT calculate FIB'",
     162},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='FIB'", 163},
    {"update assayCalibration set method=4, funX='Log', funY='Linear', dispX='Log', dispY='Log' where name='DD'", 164},
    {"update assayCalibration set method=4, funX='Log', funY='Linear', dispX='Log', dispY='Log' where name='FDP'", 165},
    {"update assayCalibration set method=4, funX='Log', funY='Linear', dispX='Log', dispY='Log' where name='AT'", 166},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='II'", 167},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='V'", 168},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='VII'", 169},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='X'", 170},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='VIII'", 171},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='IX'", 172},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='XI'", 173},
    {"update assayCalibration set method=0, dispX='Log', dispY='Log' where name='XII'", 174},
    {"update assayItem set precision=0 where name='OD'", 176},
    {"update assayItem set unit='ug/ml', upperNormal=0.5 where assayTemplateId=(select id from assayTemplate where "
     "name='DD') and name='P' ",
     177},
    {"update curve set yUnit='ug/ml' where name='DD'", 178},
    {"update curvePoint set y=(y*0.001), z=(z*0.001) where curveId=(select id from curve where name='DD')", 179},
    {"update curve set valid=1 where name='FIB'", 180},
};

// A translated text goes between the single quotes of a statement; its own
// quotes are doubled so that it stays one SQL string.
QString sqlText(const QString& text)
{
    QString quoted = text;
    return quoted.replace(QLatin1Char('\''), QLatin1String("''"));
}

} // namespace

UpdateProfile::UpdateProfile(QObject* parent)
    : UpdateBase(QStringLiteral("profile.db"), parent)
{
}

bool UpdateProfile::upgrade()
{
    // Every block is chosen by the version read at open; the version row
    // rewritten below does not change which blocks run.
    const int version = schemaVersion();
    if (version < 1 && !createUserTables())
        return false;
    if (version < 2)
        updateCurveSchema();
    if (version < 3)
        updateCalibrationSchema();
    writeVersion();
    if (version < 2 && !writeDefaultSettings())
        return false;
    if (version < 3)
        updateCalibrations();
    return true;
}

bool UpdateProfile::createUserTables()
{
    // User names become unique without regard to case.
    if (!rebuildTable(QStringLiteral("user"), QString::fromLatin1(userTableSql), QString(), module, {23, 0, 25}))
        return false;

    if (!execSql(QString::fromLatin1(curveInfoTableSql), module, 34))
        return false;
    execSql(QStringLiteral("drop trigger if exists deleteCurve"), module, 36);
    if (!execSql(QString::fromLatin1(deleteCurveTriggerSql), module, 43))
        return false;
    return execSql(QStringLiteral("create table version(version integer)"), module, 46);
}

void UpdateProfile::updateCurveSchema()
{
    // One calibration curve per curve name and instrument.
    execSql(QStringLiteral("alter table curve add column instrUuid text"), module, 51);
    execSql(QStringLiteral("drop index curve_index"), module, 52);
    execSql(QStringLiteral("create unique index curve_index on curve(name, instrUuid)"), module, 53);
}

void UpdateProfile::updateCalibrationSchema()
{
    execSql(QStringLiteral("alter table assayCalibration add column method integer"), module, 58);
    execSql(QStringLiteral("alter table assayCalibration add column dispX text"), module, 59);
    execSql(QStringLiteral("alter table assayCalibration add column dispY text"), module, 60);
    execSql(QStringLiteral("alter table curve add column c real"), module, 61);
    execSql(QStringLiteral("alter table curve add column d real"), module, 62);
    execSql(QStringLiteral("alter table curve add column e real"), module, 63);
    execSql(QStringLiteral("alter table curve add column valid integer"), module, 64);
}

void UpdateProfile::writeVersion()
{
    execSql(QStringLiteral("delete from version"), module, 72);
    execSql(QStringLiteral("insert into version values(3)"), module, 73);
}

bool UpdateProfile::writeDefaultSettings()
{
    // A plain insert keeps a value the installation already has; for the
    // first three it also ends the upgrade.
    if (!execSql(QStringLiteral("insert into profile values('FIB/report/dilution', '1/10')"), module, 77))
        return false;
    const QString dilution =
        QStringLiteral("insert into profile values('dilution', "
                       "'%1;1/5;1/10;1/20;1/30,%2;1/5;1/10;1/20;1/30;1/40,%3;1/1;1/2;1/4;1/8,%4;1/1;3/4;1/2;1/4')")
            .arg(sqlText(tr("梯度1")), sqlText(tr("梯度2")), sqlText(tr("梯度3")), sqlText(tr("梯度4")));
    if (!execSql(dilution, module, 86))
        return false;
    if (!execSql(QStringLiteral("insert into profile values('patient/sampleType',\t'%1')").arg(sqlText(tr("样本类型"))),
                 module, 89))
        return false;

    execSql(QStringLiteral("delete from reagent where name = 'Buffer'"), module, 91);
    execSql(QStringLiteral("delete from reagent where name = 'Latex'"), module, 92);
    execSql(QStringLiteral("delete from reagent where name = 'Saline'"), module, 93);
    for (const Statement& statement : reagentRows)
        execSql(QString::fromLatin1(statement.sql), module, statement.site);
    for (const Statement& statement : testSettings)
        execSql(QString::fromLatin1(statement.sql), module, statement.site);
    for (const Statement& statement : keyDeletions)
        execSql(QString::fromLatin1(statement.sql), module, statement.site);

    execSql(QStringLiteral("insert into profile values('reagent/initVolume',\t'%1')").arg(sqlText(tr("初始量[ul]"))),
            module, 126);
    execSql(QStringLiteral("insert into profile values('reagent/alarmLimit',\t'%1')").arg(sqlText(tr("报警限[ul]"))),
            module, 127);
    execSql(QStringLiteral("insert into profile values('reagent/interruptLimit','%1')").arg(sqlText(tr("中断限[ul]"))),
            module, 128);
    execSql(QStringLiteral("insert into profile values('patient/hospitalNo',\t'%1')").arg(sqlText(tr("住院号"))),
            module, 129);

    for (const Statement& statement : scheduleSettings)
        execSql(QString::fromLatin1(statement.sql), module, statement.site);
    for (const Statement& statement : curveAnalysis)
        execSql(QString::fromLatin1(statement.sql), module, statement.site);
    return true;
}

void UpdateProfile::updateCalibrations()
{
    for (const Statement& statement : calibrationUpdates)
        execSql(QString::fromUtf8(statement.sql), module, statement.site);
}
