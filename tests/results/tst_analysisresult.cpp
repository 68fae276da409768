#include "core/analysisresult.h"
#include "core/messagepresenter.h"
#include "core/profile.h"

#include "resultsdatabases.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <climits>

// Receives results through a queued call by name, as the host does.
class ResultSink : public QObject
{
    Q_OBJECT
public:
    int lastIndex = -1;
    AnalysisResult last;

public slots:
    void setResult(int index, AnalysisResult result)
    {
        lastIndex = index;
        last = result;
    }
};

// Posts a result by the type's name from its own thread, as the driver's
// manual-test thread does.
class ResultPoster : public QObject
{
    Q_OBJECT
public:
    ResultSink* sink = nullptr;
    AnalysisResult result;

public slots:
    void post()
    {
        QMetaObject::invokeMethod(sink, "setResult", Qt::QueuedConnection, Q_ARG(int, 6),
                                  Q_ARG(AnalysisResult, result));
    }
};

class tst_AnalysisResult : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void setValue_data();
    void setValue();
    void toString_data();
    void toString();
    void customMarks();
    void errorText_data();
    void errorText();
    void detachOnWrite_data();
    void detachOnWrite();
    void defaultResultsShareOneRecord();
    void queuedCallByTypeName();

private:
    QTemporaryDir m_dir;
    tq::MessageRecorder m_boxes;
};

void tst_AnalysisResult::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString error = prepareResultsDatabases(m_dir.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    Profile::instance();
    QVERIFY2(m_boxes.texts().isEmpty(), qPrintable(m_boxes.texts().join('\n')));
}

void tst_AnalysisResult::setValue_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("null");
    QTest::addColumn<bool>("variantValid");
    QTest::addColumn<QString>("text");

    QTest::newRow("0.0 -> null") << 0.0 << int(AnalysisResult::NullResult) << false << true << false << QString();
    QTest::newRow("999.9 -> not clotted")
        << 999.9 << int(AnalysisResult::NotClotted) << false << false << true << QStringLiteral("不凝");
    QTest::newRow("999.90000001 -> valid")
        << 999.90000001 << int(AnalysisResult::NoError) << true << false << true << QStringLiteral("999.9");
    QTest::newRow("12.5 -> valid") << 12.5 << int(AnalysisResult::NoError) << true << false << true
                                   << QStringLiteral("12.5");
    QTest::newRow("negative -> valid") << -1.25 << int(AnalysisResult::NoError) << true << false << true
                                       << QStringLiteral("-1.25");
}

void tst_AnalysisResult::setValue()
{
    QFETCH(double, value);
    QFETCH(int, error);
    QFETCH(bool, valid);
    QFETCH(bool, null);
    QFETCH(bool, variantValid);
    QFETCH(QString, text);

    // Both the constructor and setValue on a result that had another code.
    AnalysisResult built(value);
    AnalysisResult set(AnalysisResult::InvalidValue);
    set.setValue(value);
    for (const AnalysisResult& r : {built, set}) {
        QCOMPARE(int(r.error()), error);
        QCOMPARE(r.isValid(), valid);
        QCOMPARE(r.isNull(), null);
        QCOMPARE(r.value(), value);
        QCOMPARE(double(r), value);
        const QVariant v = r.toVariant();
        QCOMPARE(v.isValid(), variantValid);
        if (variantValid)
            QCOMPARE(v.toDouble(), value);
        QCOMPARE(r.toString(AnalysisResult::Decorated, 'g', 4), text);
    }
}

enum Construction { FromValue, FromError, FromValueThenError, DefaultConstructed };

void tst_AnalysisResult::toString_data()
{
    QTest::addColumn<int>("construction");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("format");
    QTest::addColumn<char>("fmt");
    QTest::addColumn<int>("prec");
    QTest::addColumn<QString>("expected");

    const int dec = AnalysisResult::Decorated;
    const int plain = AnalysisResult::Plain;
    const int none = AnalysisResult::NoError;

    QTest::newRow("diluted, above mark, decorated")
        << int(FromValue) << 12.5 << none << int(tq::Diluted | tq::AboveMarkLimit) << dec << 'g' << 4
        << QStringLiteral("! 12.5 ↑");
    QTest::newRow("diluted, above mark, plain")
        << int(FromValue) << 12.5 << none << int(tq::Diluted | tq::AboveMarkLimit) << plain << 'g' << 4
        << QStringLiteral("12.5");
    QTest::newRow("format 7 counts as plain")
        << int(FromValue) << 12.5 << none << int(tq::Diluted) << 7 << 'g' << 4 << QStringLiteral("12.5");
    QTest::newRow("no marks, no blanks") << int(FromValue) << 12.5 << none << 0 << dec << 'g' << 4
                                         << QStringLiteral("12.5");
    QTest::newRow("suffix only") << int(FromValue) << 12.5 << none << int(tq::BelowMarkLimit) << dec << 'g' << 4
                                 << QStringLiteral("12.5 ↓");
    QTest::newRow("below mark wins over above")
        << int(FromValue) << 12.5 << none << int(tq::BelowMarkLimit | tq::AboveMarkLimit) << dec << 'g' << 4
        << QStringLiteral("12.5 ↓");
    QTest::newRow("below report wins over above")
        << int(FromValue) << 12.5 << none << int(tq::BelowReportLimit | tq::AboveReportLimit) << dec << 'g' << 4
        << QStringLiteral("< 12.5");
    QTest::newRow("above report") << int(FromValue) << 12.5 << none << int(tq::AboveReportLimit) << dec << 'g' << 4
                                  << QStringLiteral("> 12.5");
    QTest::newRow("all prefix marks in order")
        << int(FromValue) << 12.5 << none
        << int(tq::ManualInput | tq::Diluted | tq::BelowReportLimit | tq::AboveMarkLimit) << dec << 'g' << 4
        << QStringLiteral("M!< 12.5 ↑");
    QTest::newRow("manual test bit has no mark") << int(FromValue) << 12.5 << none << int(tq::ManualTestResult | 0x40)
                                                 << dec << 'g' << 4 << QStringLiteral("12.5");
    QTest::newRow("precision 4") << int(FromValue) << 3.14159265 << none << 0 << dec << 'g' << 4
                                 << QStringLiteral("3.142");
    QTest::newRow("'f' 2") << int(FromValue) << 3.14159265 << none << 0 << dec << 'f' << 2 << QStringLiteral("3.14");
    QTest::newRow("precision 0 -> 'g' 6")
        << int(FromValue) << 3.14159265 << none << 0 << dec << 'f' << 0 << QStringLiteral("3.14159");
    QTest::newRow("precision -1 -> 'g' 6")
        << int(FromValue) << 1234567.0 << none << 0 << dec << 'f' << -1 << QStringLiteral("1.23457e+06");
    QTest::newRow("not clotted") << int(FromValue) << 999.9 << none << int(tq::Diluted) << dec << 'g' << 4
                                 << QStringLiteral("不凝");
    QTest::newRow("invalid value at 999.9 still not clotted")
        << int(FromValueThenError) << 999.9 << int(AnalysisResult::InvalidValue) << 0 << dec << 'g' << 4
        << QStringLiteral("不凝");
    QTest::newRow("invalid value") << int(FromError) << 0.0 << int(AnalysisResult::InvalidValue) << int(tq::Diluted)
                                   << dec << 'g' << 4 << QStringLiteral("---.-");
    QTest::newRow("no standard curve") << int(FromError) << 0.0 << int(AnalysisResult::NoStandardCurve) << 0 << plain
                                       << 'g' << 4 << QStringLiteral("---.-");
    QTest::newRow("unknown code 42") << int(FromError) << 0.0 << 42 << 0 << dec << 'g' << 4 << QStringLiteral("---.-");
    QTest::newRow("null result from code")
        << int(FromError) << 0.0 << int(AnalysisResult::NullResult) << int(tq::Diluted) << dec << 'g' << 4 << QString();
    QTest::newRow("default constructed") << int(DefaultConstructed) << 0.0 << 0 << 0 << dec << 'g' << 4 << QString();
}

void tst_AnalysisResult::toString()
{
    QFETCH(int, construction);
    QFETCH(double, value);
    QFETCH(int, error);
    QFETCH(int, flags);
    QFETCH(int, format);
    QFETCH(char, fmt);
    QFETCH(int, prec);
    QFETCH(QString, expected);

    AnalysisResult r;
    switch (construction) {
    case FromValue: r = AnalysisResult(value); break;
    case FromError: r = AnalysisResult(AnalysisResult::ErrorCode(error)); break;
    case FromValueThenError:
        r = AnalysisResult(value);
        r.setError(AnalysisResult::ErrorCode(error));
        break;
    case DefaultConstructed: break;
    }
    if (flags)
        r.setFlags(flags);
    QCOMPARE(r.toString(AnalysisResult::Format(format), fmt, prec), expected);
}

// Marks and texts come from the settings store; the default only fills in
// when the store has none. Runs after the default cases: a typed accessor
// keeps the first value it sees.
void tst_AnalysisResult::customMarks()
{
    Profile& p = Profile::instance();
    const QString dilution = p.dilution_result_flag(QStringLiteral("!"));
    const QString upper = p.upper_mark_limit_flag(QStringLiteral("↑"));
    const QString notClotted = p.result_not_clotted(QStringLiteral("不凝"));
    p.set_dilution_result_flag(QStringLiteral("D"), false);
    p.set_upper_mark_limit_flag(QStringLiteral("H"), false);
    p.set_result_not_clotted(QStringLiteral("NC"), false);

    AnalysisResult r(7.0);
    r.setFlags(tq::Diluted | tq::AboveMarkLimit);
    const QString decorated = r.toString(AnalysisResult::Decorated, 'g', 4);
    const QString plain = r.toString(AnalysisResult::Plain, 'g', 4);
    const QString nc = AnalysisResult(999.9).toString();

    p.set_dilution_result_flag(dilution, false);
    p.set_upper_mark_limit_flag(upper, false);
    p.set_result_not_clotted(notClotted, false);

    QCOMPARE(decorated, QStringLiteral("D 7 H"));
    QCOMPARE(plain, QStringLiteral("7"));
    QCOMPARE(nc, QStringLiteral("NC"));
}

enum ErrorStep { NoStep, SetErrorText, SetErrorTextThenError, SetErrorTextThenClear, SetErrorOnly };

// Codes outside the table (42, -1, INT_MAX below) must be values of the
// enumeration, not undefined behaviour: brace-initialising it from an int
// compiles only when its underlying type is fixed.
static_assert(int(AnalysisResult::ErrorCode{INT_MAX}) == INT_MAX, "ErrorCode holds every int");

void tst_AnalysisResult::errorText_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<int>("expectedCode");

    QTest::newRow("explicit text") << int(SetErrorText) << QStringLiteral("x") << 0 << QStringLiteral("x")
                                   << int(AnalysisResult::UnknownError);
    QTest::newRow("text then NoStandardCurve")
        << int(SetErrorTextThenError) << QStringLiteral("x") << int(AnalysisResult::NoStandardCurve)
        << QStringLiteral("无标准曲线") << int(AnalysisResult::NoStandardCurve);
    QTest::newRow("text cleared keeps code") << int(SetErrorTextThenClear) << QStringLiteral("x") << 0
                                             << QStringLiteral("未知错误") << int(AnalysisResult::UnknownError);
    QTest::newRow("empty text") << int(SetErrorText) << QString() << 0 << QStringLiteral("未知错误")
                                << int(AnalysisResult::UnknownError);

    const struct
    {
        int code;
        const char* text;
    } table[] = {
        {AnalysisResult::NoError, ""},
        {AnalysisResult::InvalidValue, "无效的值"},
        {AnalysisResult::UnknownError, "未知错误"},
        {AnalysisResult::NullResult, "结果为空"},
        {AnalysisResult::NoStandardCurve, "无标准曲线"},
        {AnalysisResult::InvalidStandardCurve, "标准曲线无效"},
        {AnalysisResult::StandardCurveSettingError, "标准曲线设置错误"},
        {AnalysisResult::InvalidCalculationMethod, "无效的计算方法"},
        {AnalysisResult::MissingParameter, "计算所需的参数不存在"},
        {AnalysisResult::NotClotted, ""},
        {42, ""},
        {-1, ""},
        {INT_MAX, ""},
    };
    for (const auto& row : table)
        QTest::addRow("code %d", row.code)
            << int(SetErrorOnly) << QString() << row.code << QString::fromUtf8(row.text) << row.code;
    QTest::newRow("default result") << int(NoStep) << QString() << 0 << QStringLiteral("结果为空")
                                    << int(AnalysisResult::NullResult);
}

void tst_AnalysisResult::errorText()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(int, code);
    QFETCH(QString, expectedText);
    QFETCH(int, expectedCode);

    AnalysisResult r;
    switch (step) {
    case SetErrorText: r.setErrorText(text); break;
    case SetErrorTextThenError:
        r.setErrorText(text);
        r.setError(AnalysisResult::ErrorCode(code));
        break;
    case SetErrorTextThenClear:
        r.setErrorText(text);
        r.clearErrorText();
        break;
    case SetErrorOnly: r.setError(AnalysisResult::ErrorCode(code)); break;
    }
    QCOMPARE(r.errorText(), expectedText);
    QCOMPARE(int(r.error()), expectedCode);
}

enum Writer {
    WriteValue,
    WriteOD,
    WriteId,
    WriteCh,
    WriteCurve,
    WriteFlags,
    WriteFlag,
    WriteManualTest,
    WriteError,
    WriteErrorText,
    ClearErrorText
};

void tst_AnalysisResult::detachOnWrite_data()
{
    QTest::addColumn<int>("writer");
    QTest::newRow("setValue") << int(WriteValue);
    QTest::newRow("setOD") << int(WriteOD);
    QTest::newRow("setId") << int(WriteId);
    QTest::newRow("setCh") << int(WriteCh);
    QTest::newRow("setCurve") << int(WriteCurve);
    QTest::newRow("setFlags") << int(WriteFlags);
    QTest::newRow("setFlag") << int(WriteFlag);
    QTest::newRow("setManualTest") << int(WriteManualTest);
    QTest::newRow("setError") << int(WriteError);
    QTest::newRow("setErrorText") << int(WriteErrorText);
    QTest::newRow("clearErrorText") << int(ClearErrorText);
}

static void applyWriter(AnalysisResult& r, int writer)
{
    ClotCurve curve;
    curve.append(0.0, 1.0, {9.0});
    switch (writer) {
    case WriteValue: r.setValue(55.5); break;
    case WriteOD: r.setOD(0.9); break;
    case WriteId: r.setId(99); break;
    case WriteCh: r.setCh(7); break;
    case WriteCurve: r.setCurve(curve); break;
    case WriteFlags: r.setFlags(tq::AboveMarkLimit); break;
    case WriteFlag: r.setFlag(tq::Diluted, false); break;
    case WriteManualTest: r.setManualTest(false); break;
    case WriteError: r.setError(AnalysisResult::MissingParameter); break;
    case WriteErrorText: r.setErrorText(QStringLiteral("other")); break;
    case ClearErrorText: r.clearErrorText(); break;
    }
}

static AnalysisResult sampleResult()
{
    AnalysisResult r(12.5);
    r.setOD(0.25);
    r.setId(4);
    r.setCh(3);
    r.setFlags(tq::Diluted | tq::ManualTestResult);
    ClotCurve curve;
    curve.append(0.0, 0.5, {1.0, 2.0});
    r.setCurve(curve);
    r.setErrorText(QStringLiteral("note"));
    r.setValue(12.5);
    return r;
}

static void verifySample(const AnalysisResult& r)
{
    QCOMPARE(r.value(), 12.5);
    QCOMPARE(r.od(), 0.25);
    QCOMPARE(r.id(), 4);
    QCOMPARE(r.ch(), 3);
    QCOMPARE(r.flags(), int(tq::Diluted | tq::ManualTestResult));
    QVERIFY(r.isManualTest());
    QVERIFY(r.testFlag(tq::Diluted));
    QVERIFY(!r.testFlag(tq::AboveMarkLimit));
    QCOMPARE(int(r.error()), int(AnalysisResult::NoError));
    QCOMPARE(r.errorText(), QStringLiteral("note"));
    QCOMPARE(r.curve().size(), 2);
}

void tst_AnalysisResult::detachOnWrite()
{
    QFETCH(int, writer);

    const AnalysisResult original = sampleResult();
    verifySample(original);
    AnalysisResult copy = original;
    QVERIFY(copy.isCopyOf(original));

    applyWriter(copy, writer);
    QVERIFY(!copy.isCopyOf(original));
    verifySample(original);
}

void tst_AnalysisResult::defaultResultsShareOneRecord()
{
    AnalysisResult a;
    AnalysisResult b;
    QVERIFY(a.isCopyOf(b));
    a.setCh(5);
    QVERIFY(!a.isCopyOf(b));

    // Writing to a default result must not change the shared empty record.
    const AnalysisResult c;
    QCOMPARE(c.ch(), 0);
    QVERIFY(c.isNull());
    QCOMPARE(c.value(), AnalysisResult::nullValue);
    QCOMPARE(c.od(), AnalysisResult::invalidOD);
    QVERIFY(c.curve().isEmpty());
    QVERIFY(c.errorText() == QStringLiteral("结果为空"));

    // Built from an error code: a record of its own, value 0.0.
    const AnalysisResult e(AnalysisResult::InvalidValue);
    QVERIFY(!e.isCopyOf(c));
    QCOMPARE(e.value(), 0.0);
    QCOMPARE(int(e.error()), int(AnalysisResult::InvalidValue));

    // Moving hands the record over and leaves the empty result behind.
    AnalysisResult from = sampleResult();
    const AnalysisResult witness = from;
    AnalysisResult to(std::move(from));
    QVERIFY(to.isCopyOf(witness));
    QVERIFY(from.isCopyOf(c));
    from = std::move(to);
    QVERIFY(from.isCopyOf(witness));
    verifySample(from);
}

void tst_AnalysisResult::queuedCallByTypeName()
{
    const int id = registerAnalysisResultMetaType();
    QVERIFY(id > 0);
    QCOMPARE(registerAnalysisResultMetaType(), id);
    QCOMPARE(QMetaType::fromName("AnalysisResult").id(), id);

    ResultSink sink;
    const AnalysisResult result = sampleResult();
    ResultPoster poster;
    poster.sink = &sink;
    poster.result = result;
    QThread thread;
    poster.moveToThread(&thread);
    thread.start();
    QVERIFY(QMetaObject::invokeMethod(&poster, "post", Qt::QueuedConnection));
    QTRY_COMPARE(sink.lastIndex, 6);
    thread.quit();
    thread.wait();
    verifySample(sink.last);
    QVERIFY(sink.last.isCopyOf(result));

    const QVariant v = QVariant::fromValue(result);
    QCOMPARE(v.typeName(), "AnalysisResult");
    QVERIFY(v.value<AnalysisResult>().isCopyOf(result));
}

QTEST_MAIN(tst_AnalysisResult)
#include "tst_analysisresult.moc"
