#include "core/analysisresult.h"

#include "core/profile.h"

#include <QDataStream>
#include <QDebug>
#include <QIODevice>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Sizes of the fixed parts of the buffer format.
constexpr qsizetype HeaderSize = 4 + 4;            // point type, segment count
constexpr qsizetype SegmentHeaderSize = 8 + 8 + 4; // start, interval, value count
constexpr qsizetype ValueSize = 8;

// Nearest integer, a half rounded up; saturates instead of overflowing so
// that a zero or absurd interval cannot make the conversion undefined.
int roundHalfUp(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = std::floor(v + 0.5);
    if (r >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (r <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(r);
}

// Reads the buffer format from untrusted bytes. Every count is checked
// against the bytes that remain before anything is allocated for it, so a
// corrupt count can never ask for more memory than the buffer itself holds.
class CurveReader
{
public:
    explicit CurveReader(const QByteArray& buffer)
        : m_p(reinterpret_cast<const uchar*>(buffer.constData()))
        , m_left(buffer.size())
    {
    }

    // On failure returns false and names the fault in *why.
    bool read(ClotCurve::PointType* type, QVector<ClotCurve::Segment>* segments, const char** why)
    {
        if (m_left < HeaderSize) {
            *why = "truncated header";
            return false;
        }
        const qint32 rawType = qFromBigEndian<qint32>(m_p);
        const quint32 count = qFromBigEndian<quint32>(m_p + 4);
        skip(HeaderSize);
        if (rawType != ClotCurve::Intensity && rawType != ClotCurve::OpticalDensity) {
            *why = "unknown point type";
            return false;
        }
        if (count > quint64(m_left / SegmentHeaderSize)) {
            *why = "segment count exceeds the data";
            return false;
        }

        QVector<ClotCurve::Segment> result;
        result.reserve(qsizetype(count));
        for (quint32 s = 0; s < count; ++s) {
            if (m_left < SegmentHeaderSize) {
                *why = "truncated segment";
                return false;
            }
            ClotCurve::Segment segment;
            segment.start = readDouble(m_p);
            segment.interval = readDouble(m_p + 8);
            const quint32 values = qFromBigEndian<quint32>(m_p + 16);
            skip(SegmentHeaderSize);
            if (values > quint64(m_left / ValueSize)) {
                *why = "value count exceeds the data";
                return false;
            }
            segment.values.resize(qsizetype(values));
            // The stream holds IEEE 754 doubles as big-endian 64-bit words.
            qFromBigEndian<quint64>(m_p, qsizetype(values), segment.values.data());
            skip(qsizetype(values) * ValueSize);
            result.append(std::move(segment));
        }
        *type = ClotCurve::PointType(rawType);
        *segments = std::move(result);
        return true;
    }

private:
    static double readDouble(const uchar* p)
    {
        const quint64 bits = qFromBigEndian<quint64>(p);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

    void skip(qsizetype n)
    {
        m_p += n;
        m_left -= n;
    }

    const uchar* m_p;
    qsizetype m_left;
};

bool decode(const QByteArray& buffer, ClotCurve::PointType* type, QVector<ClotCurve::Segment>* segments)
{
    const char* why = nullptr;
    CurveReader reader(buffer);
    if (reader.read(type, segments, &why))
        return true;
    qWarning("ClotCurve: corrupt curve buffer of %lld bytes (%s), curve left empty",
             static_cast<long long>(buffer.size()), why);
    return false;
}

} // namespace

int ClotCurve::size() const
{
    int n = 0;
    for (const Segment& s : m_segments)
        n += int(s.values.size());
    return n;
}

double ClotCurve::x(int i) const
{
    if (i < 0)
        return 0.0;
    for (const Segment& s : m_segments) {
        if (i < s.values.size())
            return s.start + i * s.interval;
        i -= int(s.values.size());
    }
    return 0.0;
}

double ClotCurve::y(int i) const
{
    if (i < 0)
        return 0.0;
    for (const Segment& s : m_segments) {
        if (i < s.values.size())
            return s.values.at(i);
        i -= int(s.values.size());
    }
    return 0.0;
}

void ClotCurve::remove(int from, int count)
{
    // Points before index 0 do not exist: keep only the part of the range
    // that lies inside the curve.
    if (from < 0) {
        count = count > 0 && count > -from ? count + from : 0;
        from = 0;
    }
    qsizetype s = 0;
    while (s < m_segments.size() && count > 0) {
        const qsizetype n = m_segments.at(s).values.size();
        if (from < n) {
            const qsizetype r = std::min<qsizetype>(count, n - from);
            m_segments[s].values.remove(from, r);
            count -= int(r);
            from = 0;
            if (m_segments.at(s).values.isEmpty())
                m_segments.remove(s);
            else
                ++s;
        } else {
            from -= int(n);
            ++s;
        }
    }
}

ClotCurve ClotCurve::toType(PointType type) const
{
    if (type == m_type)
        return *this;
    if (type != OpticalDensity || m_type != Intensity)
        return *this;

    ClotCurve c = simplified();
    c.setType(OpticalDensity);
    if (c.m_segments.isEmpty())
        return c;

    Segment& seg = c.m_segments.first();
    QVector<double>& y = seg.values;
    const int m = int(y.size());
    const double s0 = seg.start;
    const double d = seg.interval;

    // Baseline: one time unit of points from x = 3 (or from the start).
    const double t0 = std::max(s0, 3.0);
    const int i0 = std::max(0, roundHalfUp((t0 - s0) / d));
    const int n = std::min(m - i0, std::max(1, roundHalfUp(1.0 / d)));
    if (n <= 0) {
        std::fill(y.begin(), y.end(), 0.0);
        return c;
    }

    double sum = 0.0;
    for (int k = i0; k < i0 + n; ++k)
        sum += y.at(k);
    const double baseline = sum / n;

    const int firstDensity = i0 + n / 2;
    double* v = y.data();
    for (int k = 0; k < firstDensity; ++k)
        v[k] = 0.0;
    const double eps = std::numeric_limits<double>::epsilon();
    for (int k = firstDensity; k < m; ++k)
        v[k] = std::min(5.0, std::log10(baseline / std::max(v[k], eps)));
    return c;
}

QByteArray ClotCurve::toBuffer() const
{
    qsizetype bytes = HeaderSize;
    for (const Segment& s : m_segments)
        bytes += SegmentHeaderSize + s.values.size() * ValueSize;
    QByteArray buffer;
    buffer.reserve(bytes);

    QDataStream out(&buffer, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_8);
    out << qint32(m_type) << quint32(m_segments.size());
    for (const Segment& s : m_segments) {
        out << s.start << s.interval << quint32(s.values.size());
        for (double v : s.values)
            out << v;
    }
    return buffer;
}

ClotCurve ClotCurve::fromBuffer(const QByteArray& buffer)
{
    ClotCurve c;
    if (buffer.isEmpty())
        return c;
    if (!decode(buffer, &c.m_type, &c.m_segments)) {
        c.m_type = Intensity;
        c.m_segments.clear();
    }
    return c;
}

void ClotCurve::save(int patientId, const QString& item) const
{
    QSqlQuery q(Profile::instance().dataDatabase());
    if (m_segments.isEmpty()) {
        if (!q.prepare(QStringLiteral("delete from curve where patientId=:patientId and item=:item")))
            qWarning() << ".\\analysisresult(88):" << q.lastError();
    } else {
        if (!q.prepare(QStringLiteral("insert into curve (patientId, item, curve) values(:patientId, :item, :curve)")))
            qWarning() << ".\\analysisresult(94):" << q.lastError();
        q.bindValue(QStringLiteral(":curve"), toBuffer());
    }
    q.bindValue(QStringLiteral(":patientId"), patientId);
    q.bindValue(QStringLiteral(":item"), item);
    if (!q.exec())
        qWarning() << ".\\analysisresult(106):" << q.lastError();
}

void ClotCurve::load(int patientId, const QString& item)
{
    QSqlQuery q(Profile::instance().dataDatabase());
    if (!q.prepare(QStringLiteral("select curve from curve where patientId=:patientId and item=:item")))
        qWarning() << ".\\analysisresult(113):" << q.lastError();
    q.bindValue(QStringLiteral(":patientId"), patientId);
    q.bindValue(QStringLiteral(":item"), item);
    if (!q.exec())
        qWarning() << ".\\analysisresult(119):" << q.lastError();

    if (q.next()) {
        const QByteArray blob = q.value(0).toByteArray();
        if (!blob.isEmpty()) {
            PointType type = m_type;
            QVector<Segment> segments;
            if (decode(blob, &type, &segments)) {
                m_type = type;
                m_segments = std::move(segments);
                return;
            }
        }
    }
    m_segments.clear();
}
