// Result and curve retrieval: command 32 for a test's progress and final
// report, command 60 for its measured points.

#include "instrvela.h"

#include "replyparser.h"

#include "core/analysisresult.h"
#include "core/profile.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>

#include <QStringList>

namespace {

// Points asked for per curve command.
constexpr int pointsPerCommand = 55;
// The first-point field of command 60 has four hex digits.
constexpr int lastAddressablePoint = 0xFFFF;

// Point spacing in seconds by the clot time: faster clots are sampled finer.
double curveInterval(double seconds)
{
    if (seconds < 10.0)
        return 0.05;
    if (seconds < 30.0)
        return 0.1;
    if (seconds < 60.0)
        return 0.2;
    return 0.4;
}

// The test report of a final reply, one labelled line per field.
QString testReport(const ReplyParser::TestReply& r, const QString& errorText)
{
    const QString method = r.field(19, 1) == QLatin1String("L") ? InstrVela::tr("光学法") : InstrVela::tr("磁珠法");
    const QStringList lines {
        InstrVela::tr("测试编号:") + r.field(5, 8),
        InstrVela::tr("样本位置:") + r.field(13, 2),
        InstrVela::tr("测试项目:") + r.field(15, 2),
        InstrVela::tr("稀释倍数:1/") + r.field(17, 2),
        InstrVela::tr("测试方法:") + method,
        InstrVela::tr("测试日期:") + r.field(20, 16),
        InstrVela::tr("测试通道:") + r.channel,
        InstrVela::tr("预温超时:") + QString::number(r.hasPrewarmTimeout ? r.prewarmTimeout : 0),
        InstrVela::tr("错误信息:") + errorText,
        InstrVela::tr("返回指令:") + r.text,
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool InstrVela::isDemonstrationActive() const
{
    Workbench* wb = workbench();
    return wb && wb->value(QStringLiteral("debug/active")).toBool();
}

bool InstrVela::fetchResult(quint32 id, AnalysisResult* out, Assay* assay)
{
    return queryResult(id, out, assay, nullptr) == ResultQuery::Final;
}

InstrVela::ResultQuery InstrVela::queryResult(quint32 id, AnalysisResult* out, Assay* assay,
                                              QString* reason)
{
    const QByteArray reply = sendCommand("32%08X", id);
    const ReplyParser::TestReply r = ReplyParser::parseTestReply(reply);

    if (r.unknownTest) {
        // The analyzer does not know the test: it counts as final, empty.
        *out = assay && isDemonstrationActive() ? assay->result() : AnalysisResult(0.0);
        return ResultQuery::Final;
    }
    auto failed = [&](const QString& why) {
        if (reason)
            *reason = why;
        return ResultQuery::Failed;
    };
    if (!r.parsed) {
        if (reply.isEmpty())
            return failed(tr("没有回应"));
        isErrorReply(reply);
        return failed(r.text.left(64));
    }

    const bool final = r.isFinal();
    if (final) {
        if (!r.hasTestTime)
            return failed(r.text.left(64));
        if (assay)
            assay->setMessage(testReport(r, findMessage(r.errorNumber())));
    }

    if (assay) {
        // The pre-warm time counts only while the test runs.
        if (!final && r.hasPrewarmTime)
            assay->setIncubationElapsed(r.prewarmTime);
        if (r.hasTestTime && r.testTime / 100 != 0) {
            assay->setTestElapsed(r.testTime / 100);
            if (assay->status() < tq::Measuring)
                assay->setStatus(tq::Measuring);
        }
    }
    if (!final)
        return ResultQuery::Running;

    AnalysisResult result(r.testTime / 100.0);
    if (!r.channel.isEmpty() && r.channelNumber() >= 0)
        result.setCh(r.channelNumber());
    if (assay && isDemonstrationActive())
        result = assay->result();

    const int maxClotTime = assay
        ? Profile::instance().value2(assay->assay() + QStringLiteral("/max_clot_time"),
                                     QStringLiteral("max_clot_time"), 120).toInt()
        : Profile::instance().value(QStringLiteral("max_clot_time"), 120).toInt();
    if (maxClotTime < result.value())
        result.setValue(AnalysisResult::notClottedValue);

    *out = result;
    if (!readCurve(id, out))
        return failed(tr("曲线数据不完整"));
    return ResultQuery::Final;
}

bool InstrVela::readCurve(quint32 id, AnalysisResult* result)
{
    QVector<double> points;
    QByteArray previousField;
    bool done = false;
    while (!done) {
        const int start = points.size();
        if (start > lastAddressablePoint) {
            qWarning("InstrVela: curve of test %08X longer than %d points; the rest is not read",
                     id, lastAddressablePoint + 1);
            break;
        }
        const QByteArray reply = sendCommand("60%08X%04X%02X", id, start, pointsPerCommand);
        if (isErrorReply(reply))
            break; // keep what was read
        const ReplyParser::CurveReply c = ReplyParser::parseCurveReply(reply);
        if (c.noCurve)
            return true;
        if (!c.parsed)
            return false;
        if (c.field.size() / 4 == 0)
            break;
        // An analyzer that ignores the first-point field sends the same
        // points again and again; the curve is complete as far as it goes.
        if (!c.ended && c.field == previousField) {
            qWarning("InstrVela: curve of test %08X: points from %d repeat the previous reply",
                     id, start);
            break;
        }
        points += c.points;
        done = c.ended;
        previousField = c.field;
    }

    ClotCurve curve;
    curve.append(0.0, curveInterval(result->value()), points);
    result->setCurve(curve);
    return true;
}
