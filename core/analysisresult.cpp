#include "core/analysisresult.h"

#include "core/profile.h"

#include <QCoreApplication>

const double AnalysisResult::nullValue = 0.0;
const double AnalysisResult::notClottedValue = 999.9;
const double AnalysisResult::invalidOD = 0.0;

// Constant-initialised (constexpr constructor), so it is ready before any
// other static object; its base count of 1 keeps it from ever being freed.
AnalysisResult::Data AnalysisResult::shared_null;

AnalysisResult::AnalysisResult() noexcept
    : d(&shared_null)
{
    d->ref.ref();
}

AnalysisResult::AnalysisResult(double value)
    : d(new Data(shared_null))
{
    setValue(value);
}

AnalysisResult::AnalysisResult(ErrorCode error)
    : d(new Data(shared_null))
{
    d->value = 0.0;
    d->error = error;
}

AnalysisResult::AnalysisResult(const AnalysisResult& other) noexcept
    : d(other.d)
{
    d->ref.ref();
}

AnalysisResult& AnalysisResult::operator=(const AnalysisResult& other) noexcept
{
    Data* old = d;
    other.d->ref.ref();
    d = other.d;
    if (!old->ref.deref())
        delete old;
    return *this;
}

AnalysisResult::AnalysisResult(AnalysisResult&& other) noexcept
    : d(other.d)
{
    other.d = &shared_null;
    shared_null.ref.ref();
}

AnalysisResult& AnalysisResult::operator=(AnalysisResult&& other) noexcept
{
    swap(other);
    return *this;
}

AnalysisResult::~AnalysisResult()
{
    if (!d->ref.deref())
        delete d;
}

void AnalysisResult::detach()
{
    if (d != &shared_null && d->ref.loadRelaxed() == 1)
        return;
    Data* x = new Data(*d);
    if (!d->ref.deref())
        delete d;
    d = x;
}

void AnalysisResult::setValue(double value)
{
    detach();
    d->value = value;
    if (value == nullValue)
        d->error = NullResult;
    else if (value == notClottedValue)
        d->error = NotClotted;
    else
        d->error = NoError;
}

void AnalysisResult::setOD(double od)
{
    detach();
    d->od = od;
}

void AnalysisResult::setId(int id)
{
    detach();
    d->id = id;
}

void AnalysisResult::setCh(int ch)
{
    detach();
    d->ch = ch;
}

void AnalysisResult::setCurve(const ClotCurve& curve)
{
    detach();
    d->curve = curve;
}

void AnalysisResult::setFlags(int flags)
{
    detach();
    d->flags = flags;
}

void AnalysisResult::setFlag(tq::ResultFlag flag, bool on)
{
    detach();
    if (on)
        d->flags |= flag;
    else
        d->flags &= ~int(flag);
}

void AnalysisResult::setManualTest(bool on)
{
    setFlag(tq::ManualTestResult, on);
}

void AnalysisResult::setError(ErrorCode error)
{
    detach();
    d->error = error;
    d->errorText.clear();
}

void AnalysisResult::setErrorText(const QString& text)
{
    detach();
    d->errorText = text;
    d->error = UnknownError;
}

void AnalysisResult::clearErrorText()
{
    detach();
    d->errorText.clear();
}

QString AnalysisResult::errorText() const
{
    if (!d->errorText.isEmpty())
        return d->errorText;
    switch (d->error) {
    case InvalidValue: return QObject::tr("无效的值");
    case UnknownError: return QObject::tr("未知错误");
    case NullResult: return QObject::tr("结果为空");
    case NoStandardCurve: return QObject::tr("无标准曲线");
    case InvalidStandardCurve: return QObject::tr("标准曲线无效");
    case StandardCurveSettingError: return QObject::tr("标准曲线设置错误");
    case InvalidCalculationMethod: return QObject::tr("无效的计算方法");
    case MissingParameter: return QObject::tr("计算所需的参数不存在");
    case NoError:
    case NotClotted: break;
    }
    return QString();
}

QVariant AnalysisResult::toVariant() const
{
    if (d->error == NoError || d->error == NotClotted)
        return QVariant(d->value);
    return QVariant();
}

QString AnalysisResult::prefix() const
{
    Profile& profile = Profile::instance();
    QString text;
    if (d->flags & tq::ManualInput)
        text += profile.manual_input_flag(Profile::tr("M"));
    if (d->flags & tq::Diluted)
        text += profile.dilution_result_flag(Profile::tr("!"));
    if (d->flags & tq::BelowReportLimit)
        text += profile.lower_report_limit_flag(Profile::tr("<"));
    else if (d->flags & tq::AboveReportLimit)
        text += profile.upper_report_limit_flag(Profile::tr(">"));
    return text;
}

QString AnalysisResult::suffix() const
{
    if (d->flags & tq::BelowMarkLimit)
        return Profile::instance().lower_mark_limit_flag(Profile::trUtf8("↓"));
    if (d->flags & tq::AboveMarkLimit)
        return Profile::instance().upper_mark_limit_flag(Profile::trUtf8("↑"));
    return QString();
}

QString AnalysisResult::toString(Format format, char fmt, int prec) const
{
    if (prec <= 0) {
        fmt = 'g';
        prec = 6;
    }
    if (d->error == NoError) {
        QString text;
        if (format == Decorated) {
            text = prefix();
            if (!text.isEmpty())
                text += QLatin1Char(' ');
        }
        text += QString::number(d->value, fmt, prec);
        if (format == Decorated) {
            const QString marks = suffix();
            if (!marks.isEmpty())
                text += QLatin1Char(' ') + marks;
        }
        return text;
    }
    if (d->error == NotClotted || d->value == notClottedValue)
        return Profile::instance().result_not_clotted(Profile::trUtf8("不凝"));
    if (d->error != NullResult)
        return Profile::instance().result_can_not_be_calculated(Profile::tr("---.-"));
    return QString();
}

int registerAnalysisResultMetaType()
{
    return qRegisterMetaType<AnalysisResult>("AnalysisResult");
}
