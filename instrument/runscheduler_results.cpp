// Result and curve retrieval: command 32 for a test's progress and final
// report, command 60 for its measured points.

#include "runscheduler.h"

#include "instrvela.h"

#include "replyparser.h"

#include "core/analysisresult.h"
#include "core/profile.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>

#include <QStringList>

namespace {

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
    const QStringList lines{
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

bool RunScheduler::isDemonstrationActive() const
{
    Workbench* wb = m_instrument.workbench();
    return wb && wb->value(QStringLiteral("debug/active")).toBool();
}

RunScheduler::AssayFacts RunScheduler::factsOf(const Assay* assay, bool demonstration)
{
    AssayFacts facts;
    if (!assay)
        return facts;
    facts.present = true;
    facts.item = assay->assay();
    facts.demonstration = demonstration;
    if (demonstration)
        facts.own = assay->result();
    return facts;
}

bool RunScheduler::fetchResult(quint32 id, AnalysisResult* out, Assay* assay)
{
    const ResultReport report = queryResult(id, factsOf(assay, isDemonstrationActive()));
    if (assay)
        applyReport(report, assay);
    if (report.outcome != ResultQuery::Final)
        return false;
    *out = report.result;
    return true;
}

RunScheduler::ResultReport RunScheduler::queryResult(quint32 id, const AssayFacts& facts)
{
    ResultReport report;
    QByteArray reply = m_instrument.protocol().queryTest(id);
    ReplyParser::TestReply r = ReplyParser::parseTestReply(reply);
    if (r.unknownTest) {
        // One "32XX" may be a fault of the line; a test the analyzer has
        // really lost is unknown when asked again, too.
        reply = m_instrument.protocol().queryTest(id);
        r = ReplyParser::parseTestReply(reply);
    }

    if (r.unknownTest) {
        // The analyzer does not know the test: it counts as final, empty.
        report.outcome = ResultQuery::Final;
        report.lost = true;
        report.result = facts.present && facts.demonstration ? facts.own : AnalysisResult(0.0);
        return report;
    }
    if (!r.parsed) {
        if (reply.isEmpty()) {
            // No reply: the link is down. The test runs on; it waits.
            report.reason = tr("没有回应");
            return report;
        }
        m_instrument.isErrorReply(reply);
        report.reason = r.text.left(64);
        // Linkhub's "Err:" says the analyzer did not answer on the line: a
        // fault of the line, not of the test.
        report.counts = !ReplyParser::isLinkFault(reply);
        return report;
    }

    const bool final = r.isFinal();
    if (final && !r.hasTestTime) {
        report.reason = r.text.left(64);
        report.counts = true;
        return report;
    }
    // The pre-warm time counts only while the test runs.
    if (!final && r.hasPrewarmTime) {
        report.hasPrewarmTime = true;
        report.prewarmTime = r.prewarmTime;
    }
    if (r.hasTestTime)
        report.testSeconds = r.testTime / 100;
    if (!final) {
        report.outcome = ResultQuery::Running;
        return report;
    }
    if (facts.present)
        report.testReport = testReport(r, m_instrument.findMessage(r.errorNumber()));

    AnalysisResult result(r.testTime / 100.0);
    if (!r.channel.isEmpty() && r.channelNumber() >= 0)
        result.setCh(r.channelNumber());
    if (facts.present && facts.demonstration)
        result = facts.own;

    const int maxClotTime = facts.present ? Profile::instance()
                                                .value2(facts.item + QStringLiteral("/max_clot_time"),
                                                        QStringLiteral("max_clot_time"), 120)
                                                .toInt()
                                          : Profile::instance().value(QStringLiteral("max_clot_time"), 120).toInt();
    if (maxClotTime < result.value())
        result.setValue(AnalysisResult::notClottedValue);

    bool linkLost = false;
    const bool curveRead = readCurve(id, &result, &linkLost);
    report.result = result;
    if (curveRead) {
        report.outcome = ResultQuery::Final;
        return report;
    }
    // The clot time stands; the curve is asked for again with the next
    // query. The result with the points read so far is kept for the case
    // that the curve never comes whole.
    report.reason = tr("曲线数据不完整");
    report.counts = !linkLost;
    report.curveIncomplete = true;
    return report;
}

void RunScheduler::applyReport(const ResultReport& report, Assay* assay)
{
    if (!report.testReport.isEmpty() && report.outcome == ResultQuery::Final)
        assay->setMessage(report.testReport);
    if (report.hasPrewarmTime)
        assay->setIncubationElapsed(report.prewarmTime);
    if (report.testSeconds != 0) {
        assay->setTestElapsed(report.testSeconds);
        if (assay->status() < tq::Measuring)
            assay->setStatus(tq::Measuring);
    }
}

bool RunScheduler::readCurve(quint32 id, AnalysisResult* result)
{
    bool linkLost = false;
    return readCurve(id, result, &linkLost);
}

bool RunScheduler::readCurve(quint32 id, AnalysisResult* result, bool* linkLost)
{
    // Equal points in a row are real (a flat or saturated stretch), so a
    // reply that repeats the one before is taken as it is; an analyzer that
    // never ends its curve is stopped by the four-digit first-point field.
    QVector<double> points;
    bool done = false;
    bool whole = true;
    while (!done) {
        const int start = points.size();
        if (start > lastAddressablePoint) {
            qWarning("InstrVela: curve of test %08X longer than %d points; the rest is not read", id,
                     lastAddressablePoint + 1);
            break;
        }
        const QByteArray reply = m_instrument.protocol().readCurve(id, start);
        // An error reply leaves the curve unfinished as surely as a reply
        // that does not parse: the points read so far are kept, and the read
        // is not passed off as whole. No reply, or Linkhub's "Err:" (the
        // analyzer did not answer on the line), is a fault of the link.
        const bool errorReply = m_instrument.isErrorReply(reply);
        const ReplyParser::CurveReply c = errorReply ? ReplyParser::CurveReply() : ReplyParser::parseCurveReply(reply);
        if (c.noCurve)
            return true;
        if (!c.parsed) {
            *linkLost = ReplyParser::isLinkFault(reply);
            whole = false;
            break;
        }
        if (c.field.size() / 4 == 0)
            break;
        points += c.points;
        done = c.ended;
    }

    // A curve whose read failed keeps the points read so far, so that a
    // result that must stand without its whole curve has them.
    ClotCurve curve;
    curve.append(0.0, curveInterval(result->value()), points);
    result->setCurve(curve);
    return whole;
}
