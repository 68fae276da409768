// The simulated analyzer's request handling, as Linkhub drives it: client
// bytes cut into lines, each line handed to the analyzer on a clock that
// the input steps. Input lines:
//   "!<faults>"  first line only: a fault list (VELA_SIM_FAULTS grammar)
//   "~<ms>"      advance the clock (at most ten minutes per line)
//   other        a request line
// What must hold for every request line: exactly one reply line, or the
// fault's silence or dropped link; no line break inside a reply; without
// faults, the reply begins with the command's code (or is "XX" for a code
// that is not two upper-case hex digits), and the driver's parsers read
// the replies of 24, 32, 4C, 60, 73, 74 and 78 as the analyzer means them.
#include "instrument/replyparser.h"
#include "platform/linewire/linesplitter.h"
#include "sim/simanalyzer.h"
#include "sim/simclock.h"
#include "sim/simconfig.h"
#include "sim/simhex.h"

#include "fuzzcheck.h"

#include <cmath>

using fuzz::isUpperHex;

using namespace ReplyParser;

namespace {

constexpr qint64 maxStepMs = 600000;
constexpr int maxOverlong = 4096; // keeps a run fast; the length is not what is tested

// The driver's reading of a normal reply agrees with what the analyzer holds.
void checkReadByDriver(SimAnalyzer& analyzer, const QByteArray& request, const QByteArray& reply)
{
    const QByteArray code = request.left(2);
    if (reply.size() >= 4 && reply.mid(2, 2) == "XX")
        return;
    if (code == "24") {
        FUZZ_CHECK(parseStatusReply(reply).hasSensorWord);
    } else if (code == "32") {
        const TestReply r = parseTestReply(reply);
        const SimAnalyzer::TestInfo info = analyzer.testInfo(quint32(request.mid(2, 8).toUInt(nullptr, 16)));
        FUZZ_CHECK(info.exists && r.parsed && r.status == info.status && r.hasTestTime);
        if (r.isFinal()) {
            FUZZ_CHECK(r.channelNumber() == info.channel);
            FUZZ_CHECK(r.testTime == info.clotHundredths);
        }
    } else if (code == "4C") {
        const int count = request.mid(6, 2).toInt(nullptr, 16);
        const int address = request.mid(2, 4).toInt(nullptr, 16);
        FUZZ_CHECK(parseMemoryReply(reply).size() == qMin(count, 0x10000 - address));
    } else if (code == "60" && reply.startsWith("6001")) {
        const CurveReply r = parseCurveReply(reply);
        FUZZ_CHECK(r.parsed);
        const SimAnalyzer::TestInfo info = analyzer.testInfo(quint32(request.mid(2, 8).toUInt(nullptr, 16)));
        const int first = request.mid(10, 4).toInt(nullptr, 16);
        for (int k = 0; k < r.points.size(); ++k)
            FUZZ_CHECK(first + k < info.points.size() && r.points.at(k) == info.points.at(first + k));
    } else if (code == "73") {
        const QStringList texts = parseTemperatureTexts(reply);
        FUZZ_CHECK(texts.size() == 9);
        for (const QString& t : texts) {
            bool ok = false;
            FUZZ_CHECK(std::isfinite(t.toDouble(&ok)) && ok);
        }
    } else if (code == "74") {
        const SetPointReply r = parseSetPointReply(reply);
        FUZZ_CHECK(r.valid && r.values.size() == 3);
    } else if (code == "78") {
        QList<QByteArray> bad;
        const QList<ReagentVolume> volumes = parseReagentVolumes(reply, &bad);
        FUZZ_CHECK(bad.isEmpty() && volumes.size() * 4 + 2 == reply.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    LineSplitter splitter;
    const QList<LineSplitter::Line> lines = splitter.feed(fuzz::bytes(data, size));

    SimConfig config;
    qsizetype first = 0;
    if (!lines.isEmpty() && lines.first().text.startsWith('!')) {
        first = 1;
        if (!SimConfig::parseFaults(QString::fromLatin1(lines.first().text.mid(1)), &config.faults, nullptr))
            return 0;
        for (SimFault& f : config.faults)
            f.length = qMin(f.length, maxOverlong);
    }
    const bool faults = !config.faults.isEmpty();
    ManualClock clock;
    SimAnalyzer analyzer("VELA01", config, &clock);

    for (qsizetype i = first; i < lines.size(); ++i) {
        const LineSplitter::Line& line = lines.at(i);
        if (line.overlong || line.text.isEmpty())
            continue; // Linkhub answers these itself
        if (line.text.startsWith('~')) {
            clock.advance(qBound<qint64>(0, line.text.mid(1, 7).toLongLong(), maxStepMs));
            continue;
        }
        const SimReply reply = analyzer.handle(line.text);
        if (faults && reply.action != SimReply::Reply)
            continue;
        FUZZ_CHECK(reply.action == SimReply::Reply);
        FUZZ_CHECK(!reply.line.isEmpty());
        FUZZ_CHECK(!reply.line.contains('\r') && !reply.line.contains('\n'));
        if (faults)
            continue;
        FUZZ_CHECK(reply.delayMs == 0);
        const QByteArray code = line.text.left(2);
        const bool hexCode = code.size() == 2 && isUpperHex(code.at(0)) && isUpperHex(code.at(1));
        FUZZ_CHECK(reply.line.startsWith(code) || (!hexCode && reply.line == "XX"));
        checkReadByDriver(analyzer, line.text, reply.line);
    }
    return 0;
}
