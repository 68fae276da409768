#pragma once

#include "core/core_global.h"

#include <QColor>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

// The process-wide settings store and owner of the database connections.
//
// Every row of the `profile` table of the settings database is kept in
// memory; reads are answered from memory, writes go to memory at once and to
// the database through the queued signal/slot pair valueChanged/saveValue,
// so SQL on the settings connection runs only in the thread that owns the
// store (the GUI thread that first called instance()).
//
// Connections opened on construction (driver QSQLITE, files relative to the
// current directory): "profile.db" (the settings file, whatever its name),
// "data.db", "qc.db" and "syslog.db". The destructor leaves them registered.
//
// Thread safety: value, value2, setValue, remove and keys may be called from
// any thread (the value table sits behind a read/write lock). The typed
// accessors may be called from any thread too: their cache slots sit behind
// a lock of their own; the first default given to a getter wins and a slot
// is never filled by one thread while another reads it. The database
// accessors return connections that belong to the owning thread.
class CORE_EXPORT Profile : public QObject
{
    Q_OBJECT

public:
    static Profile& instance();

    explicit Profile(QObject* parent = nullptr);
    explicit Profile(const QString& fileName, QObject* parent = nullptr);
    ~Profile() override;

    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    // Qt 4 spelling kept for callers; sources are UTF-8 in any case.
    static QString trUtf8(const char* sourceText, const char* disambiguation = nullptr, int n = -1)
    {
        return tr(sourceText, disambiguation, n);
    }

    // The stored value, or defaultValue when the key is absent or invalid.
    // An absent key is added to the table with an invalid value (and is
    // listed by keys() from then on); nothing is written to the database.
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    // key first; when that yields nothing valid, oldKey with defaultValue.
    QVariant value2(const QString& key, const QString& oldKey, const QVariant& defaultValue = QVariant()) const;
    // Stores in memory; with save, also in the database (an invalid value
    // deletes the row while the key stays in memory).
    void setValue(const QString& key, const QVariant& value, bool save = true);
    void remove(const QString& key);
    QStringList keys() const;

    QSqlDatabase database() const;
    QSqlDatabase dataDatabase() const;
    QSqlDatabase qcDatabase() const;
    QSqlDatabase syslogDatabase() const;

    // Typed accessors: the key equals the getter's name. A getter fills its
    // cache slot on its first call and never refreshes it from the table;
    // only its own setter changes it.
    QString statim_sample_prefix(const QString& defaultValue) const;
    void set_statim_sample_prefix(const QString& value, bool save = true);
    QString qc_sample_prefix(const QString& defaultValue) const;
    void set_qc_sample_prefix(const QString& value, bool save = true);
    QString result_is_preparing(const QString& defaultValue) const;
    void set_result_is_preparing(const QString& value, bool save = true);
    QString result_can_not_be_calculated(const QString& defaultValue) const;
    void set_result_can_not_be_calculated(const QString& value, bool save = true);
    QString result_is_incubating(const QString& defaultValue) const;
    void set_result_is_incubating(const QString& value, bool save = true);
    QString result_is_analysing(const QString& defaultValue) const;
    void set_result_is_analysing(const QString& value, bool save = true);
    QString result_not_clotted(const QString& defaultValue) const;
    void set_result_not_clotted(const QString& value, bool save = true);
    QString dilution_result_flag(const QString& defaultValue) const;
    void set_dilution_result_flag(const QString& value, bool save = true);
    QString lower_report_limit_flag(const QString& defaultValue) const;
    void set_lower_report_limit_flag(const QString& value, bool save = true);
    QString upper_report_limit_flag(const QString& defaultValue) const;
    void set_upper_report_limit_flag(const QString& value, bool save = true);
    QString lower_mark_limit_flag(const QString& defaultValue) const;
    void set_lower_mark_limit_flag(const QString& value, bool save = true);
    QString upper_mark_limit_flag(const QString& defaultValue) const;
    void set_upper_mark_limit_flag(const QString& value, bool save = true);
    QString manual_input_flag(const QString& defaultValue) const;
    void set_manual_input_flag(const QString& value, bool save = true);
    QColor color_of_waiting(const QColor& defaultValue) const;
    void set_color_of_waiting(const QColor& value, bool save = true);
    QColor color_of_dispensing(const QColor& defaultValue) const;
    void set_color_of_dispensing(const QColor& value, bool save = true);
    QColor color_of_incubating(const QColor& defaultValue) const;
    void set_color_of_incubating(const QColor& value, bool save = true);
    QColor color_of_analysing(const QColor& defaultValue) const;
    void set_color_of_analysing(const QColor& value, bool save = true);
    QColor color_of_null_result(const QColor& defaultValue) const;
    void set_color_of_null_result(const QColor& value, bool save = true);
    QString analysis_display_assay(const QString& defaultValue) const;
    void set_analysis_display_assay(const QString& value, bool save = true);
    QString patient_display_fields(const QString& defaultValue) const;
    void set_patient_display_fields(const QString& value, bool save = true);
    int max_qc_file(const int& defaultValue) const;
    void set_max_qc_file(const int& value, bool save = true);
    int qc_method(const int& defaultValue) const;
    void set_qc_method(const int& value, bool save = true);
    QString hospital(const QString& defaultValue) const;
    void set_hospital(const QString& value, bool save = true);
    bool is_touch_screen(const bool& defaultValue) const;
    void set_is_touch_screen(const bool& value, bool save = true);

signals:
    void valueChanged(QString key, QVariant value);
    void keyRemoved(QString key);

private slots:
    void saveValue(QString key, QVariant value);
    void removeKey(QString key);

private:
    void init(const QString& fileName);
    QVariant cached(int slot, const char* key, const QVariant& defaultValue) const;
    void setCached(int slot, const char* key, const QVariant& value, bool save);

    struct Private;
    Private* d = nullptr;
};
