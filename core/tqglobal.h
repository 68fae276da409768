#pragma once

#include "core/core_global.h"

#include <QDate>
#include <QMessageBox>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>

class QWidget;

namespace tq {
// Kind of sample. 1 emergency, 2 quality control; 0 a routine sample.
enum SampleType { RoutineSample = 0, EmergencySample = 1, QcSample = 2 };
} // namespace tq

// Numbers
CORE_EXPORT double fraction(const QString& text, bool* ok = nullptr);
CORE_EXPORT double round(double value, int precision, char format);
CORE_EXPORT quint16 crc16(const void* data, int length);

// Sample handling
CORE_EXPORT QStringList dilutionList();
CORE_EXPORT int nextSampleNo(const QDate& date);
CORE_EXPORT QString samplePrefix(tq::SampleType type);
CORE_EXPORT void setGeneratedValue(QSqlRecord& record, const QString& field, const QVariant& value);

// Scripts
CORE_EXPORT QVariant eval(const QString& expression);
CORE_EXPORT QVariant load_script(const QString& fileName);

// User interface (GUI thread only); each goes through tq::presentMessage.
CORE_EXPORT QMessageBox::StandardButton information(const QString& text,
                                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
question(const QString& text,
         QMessageBox::StandardButtons buttons = QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No),
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton warning(const QString& text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton critical(const QString& text,
                                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                 QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QWidget* topLevelWidget();

// Pushes an override cursor in the main thread only; pops it on destruction.
class CORE_EXPORT WaitCursor
{
public:
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor);
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) { return *this; }

private:
    bool m_pushed;
};

// Sets a flag for the lifetime of the guard and restores it afterwards.
class CORE_EXPORT BoolLocker
{
public:
    BoolLocker(bool& flag, bool value);
    ~BoolLocker();
    BoolLocker(const BoolLocker&) = delete;
    BoolLocker& operator=(const BoolLocker&) = delete;

private:
    bool& m_flag;
    bool m_saved;
};

// Blocks the calling thread (no event processing).
CORE_EXPORT void sleep(int ms);

class CORE_EXPORT Core
{
public:
    Core() { }
    ~Core() { }
    Core& operator=(const Core&) { return *this; }
};
