#include "updatedata.h"

namespace {

const char module[] = "updatedata";

// One definition shape for all lookup tables; SQLite keeps the text as the
// stored definition.
const char lookupTableSql[] = "create table %1(\n\tid integer primary key,\n\tabbr text COLLATE NOCASE,\n\tname text)";
const char lookupIndexSql[] = "create index if not exists %1_index on %1 (abbr)";

const char detailTableSql[] = "create table detail(\n"
                              "\tid integer primary key,\n"
                              "\tpatientId integer references patient,\n"
                              "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
                              "\tinfo text,\t\t\t\t\t\t\t\t\t\t-- 测试详细信息, 如测试通道等\n"
                              "\tunique(patientId, item) on conflict replace)";

const char deletePatientTriggerSql[] =
    "create trigger on_delete_patient after delete on patient\n"
    "begin\n"
    "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
    "\tdelete from result where old.id = result.patientId;\n"
    "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
    "\tdelete from curve where old.id = curve.patientId;\n"
    "\tdelete from detail where old.id = detail.patientId;\n"
    "end";

struct LookupTable
{
    const char* name;
    int createSite;
    int indexSite;
    int dropSite;
};

const LookupTable lookupTables[] = {
    {"department", 23, 24, 26}, {"sex", 33, 34, 36},    {"treatmentRoom", 43, 44, 46},
    {"diagnosis", 53, 54, 56},  {"doctor", 63, 64, 66}, {"operator", 73, 74, 76},
};

} // namespace

UpdateData::UpdateData(QObject* parent)
    : UpdateBase(QStringLiteral("data.db"), parent)
{
}

bool UpdateData::upgrade()
{
    const int version = schemaVersion();

    if (version < 1) {
        // Two patient columns, abbreviations compared without case, the
        // per-test detail records and the version table.
        if (!execSql(QStringLiteral("alter table patient add sampleType text"), module, 15))
            return false;
        if (!execSql(QStringLiteral("alter table patient add hospitalNo text"), module, 16))
            return false;
        for (const LookupTable& table : lookupTables) {
            const QString name = QString::fromLatin1(table.name);
            if (!rebuildTable(name, QString::fromLatin1(lookupTableSql).arg(name),
                              QString::fromLatin1(lookupIndexSql).arg(name), module,
                              {table.createSite, table.indexSite, table.dropSite}))
                return false;
        }
        if (!execSql(QString::fromUtf8(detailTableSql), module, 85))
            return false;
        if (!execSql(QStringLiteral("create table version(version integer)"), module, 87))
            return false;
    }

    if (version < 2) {
        // The delete trigger also removes the patient's detail records.
        if (!execSql(QStringLiteral("drop trigger on_delete_patient"), module, 92))
            return false;
        if (!execSql(QString::fromUtf8(deletePatientTriggerSql), module, 100))
            return false;
    }

    execSql(QStringLiteral("delete from version"), module, 103);
    execSql(QStringLiteral("insert into version values(2)"), module, 104);
    return true;
}
