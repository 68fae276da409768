#include "core/profile.h"

#include "core/tqglobal.h"

#include <QHash>
#include <QReadWriteLock>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const char* const profileConnection = "profile.db";
const char* const otherConnections[] = {"data.db", "qc.db", "syslog.db"};

// Cache slot numbers of the typed accessors, in the order of their keys.
enum Slot {
    StatimSamplePrefix,
    QcSamplePrefix,
    ResultIsPreparing,
    ResultCanNotBeCalculated,
    ResultIsIncubating,
    ResultIsAnalysing,
    ResultNotClotted,
    DilutionResultFlag,
    LowerReportLimitFlag,
    UpperReportLimitFlag,
    LowerMarkLimitFlag,
    UpperMarkLimitFlag,
    ManualInputFlag,
    ColorOfWaiting,
    ColorOfDispensing,
    ColorOfIncubating,
    ColorOfAnalysing,
    ColorOfNullResult,
    AnalysisDisplayAssay,
    PatientDisplayFields,
    MaxQcFile,
    QcMethod,
    Hospital,
    IsTouchScreen,
    SlotCount
};

} // namespace

struct Profile::Private
{
    QString fileName;
    QHash<QString, QVariant> values;
    QReadWriteLock lock; // guards values

    // The cache slots have a lock of their own. Lock order: cacheLock before
    // lock, never the other way round; neither is held while a signal is
    // emitted, so a slot connected to valueChanged may use the store.
    QVariant cache[SlotCount];
    QReadWriteLock cacheLock;
};

Profile& Profile::instance()
{
    static Profile profile;
    return profile;
}

Profile::Profile(QObject* parent)
    : QObject(parent)
{
    init(QStringLiteral("profile.db"));
}

Profile::Profile(const QString& fileName, QObject* parent)
    : QObject(parent)
{
    init(fileName);
}

Profile::~Profile()
{
    delete d;
}

void Profile::init(const QString& fileName)
{
    d = new Private;
    d->fileName = fileName;

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(profileConnection));
        db.setDatabaseName(fileName);
        if (!db.open()) {
            warning(tr("无法加载配置文件 %1\n%2").arg(fileName, db.lastError().text()), QMessageBox::Ok,
                    QMessageBox::NoButton);
        }
        if (db.tables(QSql::Tables).isEmpty())
            warning(tr("错误的配置文件 %1").arg(fileName), QMessageBox::Ok, QMessageBox::NoButton);

        QSqlQuery query(db);
        if (query.exec(QStringLiteral("select name, value from profile"))) {
            // A NULL value is no value: the key is listed but reads give
            // the caller's default (the driver would hand back an empty
            // string for it).
            while (query.next()) {
                const QVariant v = query.value(1);
                d->values.insert(query.value(0).toString(), v.isNull() ? QVariant() : v);
            }
        }
    }

    for (const char* name : otherConnections) {
        const QString connection = QLatin1String(name);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(connection);
        if (!db.open())
            warning(tr("无法打开数据库文件 %1").arg(connection), QMessageBox::Ok, QMessageBox::NoButton);
        if (db.tables(QSql::Tables).isEmpty())
            warning(tr("错误的数据库文件 %1").arg(connection), QMessageBox::Ok, QMessageBox::NoButton);
    }

    connect(this, &Profile::valueChanged, this, &Profile::saveValue, Qt::AutoConnection);
    connect(this, &Profile::keyRemoved, this, &Profile::removeKey, Qt::AutoConnection);
}

QVariant Profile::value(const QString& key, const QVariant& defaultValue) const
{
    {
        const QReadLocker locker(&d->lock);
        const auto it = d->values.constFind(key);
        if (it != d->values.constEnd())
            return it->isValid() ? *it : defaultValue;
    }
    {
        // Another thread may have stored the key since the read lock was
        // released: add the placeholder only while the key is still absent.
        const QWriteLocker locker(&d->lock);
        if (!d->values.contains(key))
            d->values.insert(key, QVariant());
    }
    return defaultValue;
}

QVariant Profile::value2(const QString& key, const QString& oldKey, const QVariant& defaultValue) const
{
    const QVariant v = value(key);
    if (v.isValid())
        return v;
    return value(oldKey, defaultValue);
}

void Profile::setValue(const QString& key, const QVariant& value, bool save)
{
    {
        const QWriteLocker locker(&d->lock);
        d->values.insert(key, value);
    }
    if (save)
        emit valueChanged(key, value);
}

void Profile::remove(const QString& key)
{
    {
        const QWriteLocker locker(&d->lock);
        d->values.remove(key);
    }
    emit keyRemoved(key);
}

QStringList Profile::keys() const
{
    const QWriteLocker locker(&d->lock);
    return d->values.keys();
}

QSqlDatabase Profile::database() const
{
    return QSqlDatabase::database(QLatin1String(profileConnection), true);
}

QSqlDatabase Profile::dataDatabase() const
{
    return QSqlDatabase::database(QStringLiteral("data.db"), true);
}

QSqlDatabase Profile::qcDatabase() const
{
    return QSqlDatabase::database(QStringLiteral("qc.db"), true);
}

QSqlDatabase Profile::syslogDatabase() const
{
    return QSqlDatabase::database(QStringLiteral("syslog.db"), true);
}

void Profile::saveValue(QString key, QVariant value)
{
    QSqlQuery query(database());
    if (value.isValid()) {
        query.prepare(QStringLiteral("insert or replace into profile (name, value) values(?,?)"));
        query.addBindValue(key);
        query.addBindValue(value);
    } else {
        query.prepare(QStringLiteral("delete from profile where name = ?"));
        query.addBindValue(key);
    }
    query.exec();
}

void Profile::removeKey(QString key)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("delete from profile where name = ?"));
    query.addBindValue(key);
    query.exec();
}

QVariant Profile::cached(int slot, const char* key, const QVariant& defaultValue) const
{
    {
        const QReadLocker locker(&d->cacheLock);
        if (d->cache[slot].isValid())
            return d->cache[slot];
    }
    // Fill under the exclusive lock, checking again: of two threads that
    // both found the slot empty, only the first fills it, so the first
    // default wins and no reader ever sees a half-written slot.
    const QWriteLocker locker(&d->cacheLock);
    QVariant& entry = d->cache[slot];
    if (!entry.isValid())
        entry = value(QLatin1String(key), defaultValue);
    return entry;
}

void Profile::setCached(int slot, const char* key, const QVariant& value, bool save)
{
    const QString k = QLatin1String(key);
    {
        // Slot and table change together, so that concurrent setters of one
        // key leave the slot and the table holding the same value.
        const QWriteLocker cacheLocker(&d->cacheLock);
        d->cache[slot] = value;
        const QWriteLocker locker(&d->lock);
        d->values.insert(k, value);
    }
    if (save)
        emit valueChanged(k, value);
}

#define PROFILE_ACCESSOR(Type, name, slot)                                           \
    Type Profile::name(const Type& defaultValue) const                               \
    {                                                                                \
        return cached(slot, #name, QVariant::fromValue(defaultValue)).value<Type>(); \
    }                                                                                \
    void Profile::set_##name(const Type& value, bool save)                           \
    {                                                                                \
        setCached(slot, #name, QVariant::fromValue(value), save);                    \
    }

PROFILE_ACCESSOR(QString, statim_sample_prefix, StatimSamplePrefix)
PROFILE_ACCESSOR(QString, qc_sample_prefix, QcSamplePrefix)
PROFILE_ACCESSOR(QString, result_is_preparing, ResultIsPreparing)
PROFILE_ACCESSOR(QString, result_can_not_be_calculated, ResultCanNotBeCalculated)
PROFILE_ACCESSOR(QString, result_is_incubating, ResultIsIncubating)
PROFILE_ACCESSOR(QString, result_is_analysing, ResultIsAnalysing)
PROFILE_ACCESSOR(QString, result_not_clotted, ResultNotClotted)
PROFILE_ACCESSOR(QString, dilution_result_flag, DilutionResultFlag)
PROFILE_ACCESSOR(QString, lower_report_limit_flag, LowerReportLimitFlag)
PROFILE_ACCESSOR(QString, upper_report_limit_flag, UpperReportLimitFlag)
PROFILE_ACCESSOR(QString, lower_mark_limit_flag, LowerMarkLimitFlag)
PROFILE_ACCESSOR(QString, upper_mark_limit_flag, UpperMarkLimitFlag)
PROFILE_ACCESSOR(QString, manual_input_flag, ManualInputFlag)
PROFILE_ACCESSOR(QColor, color_of_waiting, ColorOfWaiting)
PROFILE_ACCESSOR(QColor, color_of_dispensing, ColorOfDispensing)
PROFILE_ACCESSOR(QColor, color_of_incubating, ColorOfIncubating)
PROFILE_ACCESSOR(QColor, color_of_analysing, ColorOfAnalysing)
PROFILE_ACCESSOR(QColor, color_of_null_result, ColorOfNullResult)
PROFILE_ACCESSOR(QString, analysis_display_assay, AnalysisDisplayAssay)
PROFILE_ACCESSOR(QString, patient_display_fields, PatientDisplayFields)
PROFILE_ACCESSOR(int, max_qc_file, MaxQcFile)
PROFILE_ACCESSOR(int, qc_method, QcMethod)
PROFILE_ACCESSOR(QString, hospital, Hospital)
PROFILE_ACCESSOR(bool, is_touch_screen, IsTouchScreen)

#undef PROFILE_ACCESSOR
