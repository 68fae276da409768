#include "core/tqglobal.h"

#include "core/messagepresenter.h"
#include "core/profile.h"

#include <QApplication>
#include <QFile>
#include <QJSEngine>
#include <QJSValue>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QThread>
#include <QWidget>

#include <array>

double fraction(const QString& text, bool* ok)
{
    // Built once (thread-safe static initialisation); QRegularExpression
    // matching on a shared const object is thread-safe.
    static const QRegularExpression re(QStringLiteral("([+-]?\\d+(?:\\.\\d*)?)\\s*[:/]\\s*([+-]?\\d+(?:\\.\\d*)?)"));
    const QRegularExpressionMatch m = re.match(text);
    if (ok)
        *ok = m.hasMatch();
    if (!m.hasMatch())
        return 0.0;
    return m.captured(1).toDouble() / m.captured(2).toDouble();
}

double round(double value, int precision, char format)
{
    return QString::number(value, format, precision).toDouble();
}

namespace {

// CRC-16/CCITT-FALSE: polynomial 0x1021, not reflected.
constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> crcTable = makeCrcTable();

} // namespace

quint16 crc16(const void* data, int length)
{
    quint16 crc = 0xFFFF;
    if (!data || length <= 0)
        return crc;
    const auto* bytes = static_cast<const uchar*>(data);
    for (int i = 0; i < length; ++i)
        crc = quint16((crc << 8) ^ crcTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
    return crc;
}

QStringList dilutionList()
{
    return {QStringLiteral("1/1"),   QStringLiteral("1/2"),   QStringLiteral("1/4"),   QStringLiteral("1/5"),
            QStringLiteral("1/8"),   QStringLiteral("1/10"),  QStringLiteral("1/16"),  QStringLiteral("1/20"),
            QStringLiteral("1/30"),  QStringLiteral("1/40"),  QStringLiteral("1/50"),  QStringLiteral("1/80"),
            QStringLiteral("1/100"), QStringLiteral("1/160"), QStringLiteral("1/320"), QStringLiteral("2/5"),
            QStringLiteral("3/4"),   QStringLiteral("3/5"),   QStringLiteral("4/5")};
}

int nextSampleNo(const QDate& date)
{
    // Sample numbers are text; the cast makes "10" count above "9".
    QSqlQuery query(Profile::instance().dataDatabase());
    if (!query.prepare(QStringLiteral("select max(cast(sampleNo as integer)) from patient where date=:date"))) {
        qWarning() << ".\\tqglobal(158):" << query.lastError();
        return 1;
    }
    query.bindValue(QStringLiteral(":date"), date);
    if (!query.exec()) {
        qWarning() << ".\\tqglobal(161):" << query.lastError();
        return 1;
    }
    if (!query.next())
        return 1;
    return query.value(0).toInt() + 1;
}

QString samplePrefix(tq::SampleType type)
{
    switch (type) {
    case tq::EmergencySample: return Profile::instance().statim_sample_prefix(QStringLiteral("S"));
    case tq::QcSample: return Profile::instance().qc_sample_prefix(QStringLiteral("QC"));
    default: return QString();
    }
}

void setGeneratedValue(QSqlRecord& record, const QString& field, const QVariant& value)
{
    record.setValue(field, value);
    record.setGenerated(field, true);
}

QVariant eval(const QString& expression)
{
    QJSEngine engine;
    const QJSValue result = engine.evaluate(expression, QString(), 1);
    // A script error yields the error object; callers get no value for it.
    if (result.isError())
        return QVariant();
    return result.toVariant();
}

QVariant load_script(const QString& fileName)
{
    QString program;
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8);
        program = stream.readAll();
    }

    QJSEngine engine;
    QStringList trace;
    QJSValue result = engine.evaluate(program, fileName, 1, &trace);
    if (engine.hasError())
        result = engine.catchError();
    // A thrown value that is not an Error object leaves only the trace.
    if (result.isError() || !trace.isEmpty()) {
        QStringList backtrace;
        const QJSValue stack = result.isObject() ? result.property(QStringLiteral("stack")) : QJSValue();
        if (stack.isString() && !stack.toString().isEmpty())
            backtrace = stack.toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        else
            backtrace = trace;
        critical(result.toString() + QLatin1Char('\n') + backtrace.join(QLatin1Char('\n')), QMessageBox::Ok,
                 QMessageBox::NoButton);
        return QVariant();
    }
    return result.toVariant();
}

QMessageBox::StandardButton information(const QString& text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return tq::presentMessage(QMessageBox::Information, text, buttons, defaultButton);
}

QMessageBox::StandardButton question(const QString& text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return tq::presentMessage(QMessageBox::Question, text, buttons, defaultButton);
}

QMessageBox::StandardButton warning(const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    return tq::presentMessage(QMessageBox::Warning, text, buttons, defaultButton);
}

QMessageBox::StandardButton critical(const QString& text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return tq::presentMessage(QMessageBox::Critical, text, buttons, defaultButton);
}

QWidget* topLevelWidget()
{
    // Without a widget application there is no window to ask.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    QWidget* widget = QApplication::activeModalWidget();
    if (!widget)
        widget = QApplication::activeWindow();
    if (widget && widget->window())
        widget = widget->window();
    return widget;
}

namespace {

bool inGuiMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return qobject_cast<const QGuiApplication*>(app) && QThread::currentThread() == app->thread();
}

} // namespace

WaitCursor::WaitCursor(Qt::CursorShape shape)
    : m_pushed(inGuiMainThread())
{
    if (m_pushed)
        QGuiApplication::setOverrideCursor(QCursor(shape));
}

WaitCursor::~WaitCursor()
{
    if (m_pushed && inGuiMainThread())
        QGuiApplication::restoreOverrideCursor();
}

BoolLocker::BoolLocker(bool& flag, bool value)
    : m_flag(flag)
    , m_saved(flag)
{
    m_flag = value;
}

BoolLocker::~BoolLocker()
{
    m_flag = m_saved;
}

void sleep(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}
