#pragma once

#include "core/core_global.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVector>

namespace tq {
// Bits of AnalysisResult::flags(). Bits not listed here are carried
// unchanged; the host may give them its own meaning.
enum ResultFlag {
    Diluted = 0x0002,          // result of a diluted sample; prefix mark "!"
    BelowReportLimit = 0x0004, // below the reportable range; prefix mark "<"
    AboveReportLimit = 0x0008, // above the reportable range; prefix mark ">"
    BelowMarkLimit = 0x0010,   // below the reference range; suffix mark "↓"
    AboveMarkLimit = 0x0020,   // above the reference range; suffix mark "↑"
    ManualTestResult = 0x1000, // result of a manually started test
    ManualInput = 0x8000       // value typed in by the user; prefix mark "M"
};
} // namespace tq

// The reaction curve of one test: the optical signal of a cuvette sampled at
// equal time steps, in one or more runs (segments). Points are numbered
// across segments: the indices of segment 1 follow those of segment 0.
//
// Buffer format (big-endian, no header):
//   qint32  point type
//   quint32 number of segments N
//   N x { double start, double interval, quint32 M, M x double value }
// e.g. an Intensity curve with one segment (0.0, 0.5, {1.0, 2.0}) is 44 bytes.
class CORE_EXPORT ClotCurve
{
public:
    enum PointType {
        Intensity = 0,     // raw light intensities as measured
        OpticalDensity = 1 // absorbance: log10 of the intensity ratio
    };

    struct Segment
    {
        Segment() = default;
        Segment(double s, double i, const QVector<double>& v)
            : start(s)
            , interval(i)
            , values(v)
        {
        }

        double start = 0.0;    // x of the first point
        double interval = 0.0; // x distance between neighbouring points
        QVector<double> values;

        bool operator==(const Segment& o) const
        {
            return start == o.start && interval == o.interval && values == o.values;
        }
        bool operator!=(const Segment& o) const { return !(*this == o); }
    };

    ClotCurve() = default;

    PointType type() const { return m_type; }
    // Changes only the tag, not the values.
    void setType(PointType type) { m_type = type; }

    QVector<Segment> segments() const { return m_segments; }
    void setSegments(const QVector<Segment>& segments) { m_segments = segments; }

    // True when there is no segment (one segment without values is not empty).
    bool isEmpty() const { return m_segments.isEmpty(); }
    void append(const Segment& segment) { m_segments.append(segment); }
    void append(double start, double interval, const QVector<double>& values)
    {
        m_segments.append(Segment(start, interval, values));
    }

    // Total number of points over all segments.
    int size() const;
    // x and y of point i; 0.0 for an index outside the curve.
    double x(int i) const;
    double y(int i) const;

    // Removes count points from index from on; a segment left without values
    // is dropped, and the range goes on at index 0 of the next segment.
    void remove(int from, int count);

    ClotCurve simplified() const { return *this; }

    // Intensity -> OpticalDensity on the first segment: the baseline I0 is the
    // mean of the one time unit of points from x = 3 (or from the segment's
    // start when it starts later); points up to the middle of that window
    // become 0.0, later ones min(5.0, log10(I0 / y)). Any other conversion
    // returns an unchanged copy.
    ClotCurve toType(PointType type) const;

    // Encodes the curve in the buffer format.
    QByteArray toBuffer() const;
    // Decodes the buffer format. An empty buffer gives an empty Intensity
    // curve. A buffer that does not add up (truncated, counts larger than the
    // bytes that follow, an unknown point type) gives an empty Intensity curve
    // and a warning in the log; nothing larger than the buffer warrants is
    // ever allocated. Bytes after the last segment are ignored.
    static ClotCurve fromBuffer(const QByteArray& buffer);

    // Storage in table `curve` (patientId, item, curve) of the results
    // database (Profile::instance().dataDatabase()). Saving an empty curve
    // deletes the row; saving a non-empty one inserts a row (the caller
    // deletes an earlier one first). Database errors are logged, not returned.
    void save(int patientId, const QString& item) const;
    // Takes type and segments from the first stored row. Without a row, with
    // an empty blob or with a blob that does not add up, the segments become
    // empty and the point type stays.
    void load(int patientId, const QString& item);

    bool operator==(const ClotCurve& o) const { return m_type == o.m_type && m_segments == o.m_segments; }
    bool operator!=(const ClotCurve& o) const { return !(*this == o); }

private:
    PointType m_type = Intensity;
    QVector<Segment> m_segments;
};

// One test result of one sample: value, optical density, channel, flag bits
// (tq::ResultFlag), error code with optional text and the clot curve.
// Implicitly shared: copies share one record with an atomic count, so copies
// may live and die in different threads; a single object must not be written
// from two threads at once. The empty result shares a static record: neither
// it nor any copy allocates. A write copies the record only when it is shared.
class CORE_EXPORT AnalysisResult
{
public:
    // Codes outside this table (from the analyzer or a stored record) are
    // kept as they are: the fixed underlying type makes every int a value.
    enum ErrorCode : int {
        NoError = 0,
        InvalidValue = 1,
        UnknownError = 2, // also the code that goes with an explicit text
        NullResult = 3,
        NoStandardCurve = 4,
        InvalidStandardCurve = 5,
        StandardCurveSettingError = 6,
        InvalidCalculationMethod = 7,
        MissingParameter = 8,
        NotClotted = 9
    };

    // Argument of toString: Decorated adds the flag marks; any other value
    // gives the number only.
    enum Format { Decorated = 0, Plain = 1 };

    static const double nullValue;       // 0.0, value of an empty result
    static const double notClottedValue; // 999.9, a sample that did not clot
    static const double invalidOD;       // 0.0, no optical density

    AnalysisResult() noexcept;
    AnalysisResult(double value);
    AnalysisResult(ErrorCode error);
    AnalysisResult(const AnalysisResult& other) noexcept;
    AnalysisResult& operator=(const AnalysisResult& other) noexcept;
    // The moved-from result becomes the empty result.
    AnalysisResult(AnalysisResult&& other) noexcept;
    AnalysisResult& operator=(AnalysisResult&& other) noexcept;
    ~AnalysisResult();
    void swap(AnalysisResult& other) noexcept { qSwap(d, other.d); }

    operator double() const { return d->value; }
    bool isCopyOf(const AnalysisResult& other) const { return d == other.d; }

    double value() const { return d->value; }
    double od() const { return d->od; }
    int id() const { return d->id; }
    int flags() const { return d->flags; }
    ErrorCode error() const { return d->error; }
    int ch() const { return d->ch; }
    ClotCurve curve() const { return d->curve; }
    bool isManualTest() const { return (d->flags & tq::ManualTestResult) != 0; }
    bool testFlag(tq::ResultFlag flag) const { return (d->flags & flag) != 0; }
    bool isValid() const { return d->error == NoError; }
    bool isNull() const { return d->error == NullResult; }

    // value = v; error becomes NullResult for exactly 0.0, NotClotted for
    // exactly 999.9, NoError otherwise. The error text stays.
    void setValue(double value);
    void setOD(double od);
    void setId(int id);
    void setCh(int ch);
    void setCurve(const ClotCurve& curve);
    void setFlags(int flags);
    void setFlag(tq::ResultFlag flag, bool on = true);
    void setManualTest(bool on);
    // Sets the code and clears the text.
    void setError(ErrorCode error);
    // Sets the text and the code UnknownError.
    void setErrorText(const QString& text);
    void clearErrorText();
    // The explicit text if any, else the code's text (translation context
    // "QObject"); empty for NoError, NotClotted and unknown codes.
    QString errorText() const;

    // QVariant(value) for NoError and NotClotted, an invalid QVariant otherwise.
    QVariant toVariant() const;
    // Marks from the settings store (manual, diluted, report limit) ...
    QString prefix() const;
    // ... and the one mark of the reference range.
    QString suffix() const;
    // A valid result as [prefix ]number[ suffix]; otherwise the not-clotted
    // text, the cannot-be-calculated text, or empty for the null result.
    // A precision of 0 or less means 'g' with 6 digits.
    QString toString(Format format = Decorated, char fmt = 'g', int prec = 4) const;

private:
    struct Data
    {
        constexpr Data() noexcept = default;
        Data(const Data& o)
            : ref(1)
            , id(o.id)
            , value(o.value)
            , od(o.od)
            , flags(o.flags)
            , error(o.error)
            , errorText(o.errorText)
            , curve(o.curve)
            , ch(o.ch)
        {
        }
        Data& operator=(const Data&) = delete;

        QAtomicInt ref = 1;
        int id = 0;
        double value = 0.0;
        double od = 0.0;
        int flags = 0;
        ErrorCode error = NullResult;
        QString errorText;
        ClotCurve curve;
        int ch = 0;
    };

    void detach();

    static Data shared_null;
    Data* d;
};

Q_DECLARE_SHARED(AnalysisResult)
Q_DECLARE_METATYPE(AnalysisResult)
Q_DECLARE_METATYPE(ClotCurve)

// Registers AnalysisResult with the meta-type system under the name
// "AnalysisResult", so that results can be arguments of queued calls (for
// example setResult(int,AnalysisResult)). The host calls it once at start-up,
// before any such call; calling it again does no harm. Returns the type id.
CORE_EXPORT int registerAnalysisResultMetaType();
