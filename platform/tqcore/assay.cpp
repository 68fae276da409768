#include "tqcore/assay.h"

#include "core/tqglobal.h"

#include <QMutexLocker>

#include <cmath>

Assay::Assay(QObject* parent)
    : QObject(parent)
{
}

Assay::Assay(const QString& sampleId, const QString& samplePos, const QString& assay, QObject* parent)
    : QObject(parent)
    , m_assay(assay)
    , m_samplePos(samplePos)
    , m_sampleId(sampleId)
{
}

Assay::~Assay() = default;

// Writes one field under the lock; changed() follows outside it.
template <typename T>
void Assay::assign(T& field, const T& value)
{
    {
        QMutexLocker locker(&m_mutex);
        if (field == value)
            return;
        field = value;
    }
    emit changed();
}

QString Assay::assay() const
{
    QMutexLocker locker(&m_mutex);
    return m_assay;
}

void Assay::setAssay(const QString& assay)
{
    assign(m_assay, assay);
}

QString Assay::method() const
{
    QMutexLocker locker(&m_mutex);
    return m_method;
}

void Assay::setMethod(const QString& method)
{
    assign(m_method, method);
}

double Assay::dilution() const
{
    QMutexLocker locker(&m_mutex);
    return m_dilution;
}

QString Assay::dilutionText() const
{
    QMutexLocker locker(&m_mutex);
    return m_dilutionText;
}

void Assay::setDilution(const QString& text)
{
    bool ok = false;
    double value = fraction(text, &ok);
    if (!ok || !(value > 0.0) || !std::isfinite(value))
        value = 1.0;
    {
        QMutexLocker locker(&m_mutex);
        if (m_dilutionText == text && m_dilution == value)
            return;
        m_dilutionText = text;
        m_dilution = value;
    }
    emit changed();
}

void Assay::setDilution(double value)
{
    if (!(value > 0.0) || !std::isfinite(value))
        value = 1.0;
    {
        QMutexLocker locker(&m_mutex);
        if (m_dilution == value)
            return;
        m_dilution = value;
        m_dilutionText = value == 1.0 ? QStringLiteral("1/1") : QStringLiteral("1/%1").arg(1.0 / value, 0, 'g', 6);
    }
    emit changed();
}

QString Assay::dilutionPos() const
{
    QMutexLocker locker(&m_mutex);
    return m_dilutionPos;
}

void Assay::setDilutionPos(const QString& pos)
{
    assign(m_dilutionPos, pos);
}

QString Assay::samplePos() const
{
    QMutexLocker locker(&m_mutex);
    return m_samplePos;
}

void Assay::setSamplePos(const QString& pos)
{
    assign(m_samplePos, pos);
}

QString Assay::sampleId() const
{
    QMutexLocker locker(&m_mutex);
    return m_sampleId;
}

void Assay::setSampleId(const QString& id)
{
    assign(m_sampleId, id);
}

bool Assay::isFinished() const
{
    QMutexLocker locker(&m_mutex);
    return m_finished;
}

void Assay::setFinished(bool finished)
{
    assign(m_finished, finished);
}

tq::AnalysisStatus Assay::status() const
{
    QMutexLocker locker(&m_mutex);
    return m_status;
}

void Assay::setStatus(tq::AnalysisStatus status)
{
    assign(m_status, status);
}

int Assay::testElapsed() const
{
    QMutexLocker locker(&m_mutex);
    return m_testElapsed;
}

void Assay::setTestElapsed(int seconds)
{
    assign(m_testElapsed, seconds);
}

int Assay::incubationElapsed() const
{
    QMutexLocker locker(&m_mutex);
    return m_incubationElapsed;
}

void Assay::setIncubationElapsed(int value)
{
    assign(m_incubationElapsed, value);
}

QString Assay::message() const
{
    QMutexLocker locker(&m_mutex);
    return m_message;
}

void Assay::setMessage(const QString& message)
{
    assign(m_message, message);
}

AnalysisResult Assay::result() const
{
    QMutexLocker locker(&m_mutex);
    return m_result;
}

void Assay::setResult(const AnalysisResult& result)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_result.isCopyOf(result))
            return;
        m_result = result;
    }
    emit changed();
}

QVariant Assay::tempValue(const QString& key, const QVariant& defaultValue) const
{
    QMutexLocker locker(&m_mutex);
    return m_temp.value(key, defaultValue);
}

void Assay::setTempValue(const QString& key, const QVariant& value)
{
    {
        QMutexLocker locker(&m_mutex);
        m_temp.insert(key, value);
    }
    emit changed();
}
