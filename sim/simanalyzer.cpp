#include "sim/simanalyzer.h"

#include "sim/simassay.h"
#include "sim/simfaultinjector.h"
#include "sim/simhex.h"
#include "sim/simmemory.h"
#include "sim/simthermal.h"
#include "sim/simtruth.h"

#include <QDateTime>
#include <QMap>
#include <QRandomGenerator>
#include <QTextCodec>
#include <QtDebug>

#include <algorithm>
#include <map>

namespace {

constexpr int channelCount = 10;
constexpr int prewarmPositions = 20;  // cups the pre-warm block holds
constexpr int pipetteMs = 8000;       // sample and reagent into one cup
constexpr int lowCupsThreshold = 50;  // sensor bit 6 below this
constexpr int reagentPerTest = 3;     // of 255 per bottle
constexpr int maxKeptTests = 1000;    // final tests kept unreleased
constexpr int ledCalibrationMs = 5000;

// Status byte of the 32 reply.
enum Status : int {
    StatusIntake = 0x01,    // waiting in the intake queue (manual: set up, not started)
    StatusPipetting = 0x02, // sample and reagent going into the cup
    StatusPrewarm = 0x03,   // in the pre-warm block
    StatusWaiting = 0x04,   // pre-warmed, waiting for a free measuring channel
    StatusMeasuring = 0x05, // on a measuring channel
    StatusFinal = 0x0F
};

// Error code of the final 32 reply: no clot within the measuring limit.
constexpr int errorNoClot = 0x01;

// The three labels the 32 reply carries, in the analyzer's GBK encoding.
struct Labels {
    QByteArray testTime, prewarmTime, prewarmTimeout;
    Labels()
    {
        QTextCodec* gbk = QTextCodec::codecForName("GBK");
        if (!gbk) {
            qWarning("velasim: no GBK codec; result labels fall back to fixed bytes");
            testTime = QByteArray("\xB2\xE2\xCA\xD4\xCA\xB1\xBC\xE4:");
            prewarmTime = QByteArray("\xD4\xA4\xCE\xC2\xCA\xB1\xBC\xE4:");
            prewarmTimeout = QByteArray("\xD4\xA4\xCE\xC2\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4:");
            return;
        }
        testTime = gbk->fromUnicode(QStringLiteral("测试时间:"));
        prewarmTime = gbk->fromUnicode(QStringLiteral("预温时间:"));
        prewarmTimeout = gbk->fromUnicode(QStringLiteral("预温超时时间:"));
    }
};

const Labels& labels()
{
    static const Labels l;
    return l;
}

quint32 fnv1a(const QByteArray& bytes)
{
    quint32 h = 2166136261u;
    for (char c : bytes) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    return h;
}

// Bytes echoed into fixed-position fields must stay single printable ASCII
// characters, so that positions read the same in bytes and in text.
QByteArray printable(QByteArray field, int width)
{
    field = field.left(width).rightJustified(width, '0');
    for (char& c : field)
        if (quint8(c) < 0x20 || quint8(c) > 0x7E)
            c = '?';
    return field;
}

QByteArray errorReply(const QByteArray& command)
{
    if (command.size() == 2 && simhex::isUpperHex(command.at(0)) && simhex::isUpperHex(command.at(1)))
        return command + "XX";
    return "XX";
}

struct Test {
    quint32 id = 0;
    QByteArray position, item;
    int dilution = 1;
    char method = 'L';
    bool manual = false;
    int status = StatusIntake;
    int channel = 0;
    qint64 placedAt = 0, pipetteEnd = 0, prewarmStart = -1, prewarmEnd = -1;
    qint64 measureStart = -1, measureEnd = -1;
    bool clotted = true;
    int errorCode = 0;
    simassay::Curve curve;
    qint64 order = 0; // placing order, ties in time go by it
};

struct Bottle {
    QByteArray position;
    int volume = 0; // 0..255
};

} // namespace

class SimAnalyzerPrivate
{
public:
    SimAnalyzerPrivate(const QByteArray& id, const SimConfig& config, SimClock* clock);

    qint64 now() const { return clock ? clock->nowMs() : 0; }
    void advanceTo(qint64 t);
    void startWorkAt(qint64 t);
    Test* find(quint32 id);
    const Test* find(quint32 id) const { return const_cast<SimAnalyzerPrivate*>(this)->find(id); }
    bool channelFree(int channel) const;
    void beginMeasuring(Test& t, int channel, qint64 at);
    void consumeFor(const Test& t);
    void dropOldFinals();

    QByteArray dispatch(const QByteArray& request);
    QByteArray status24() const;
    QByteArray place31(const QByteArray& r);
    static void recordTruth(const Test& t);
    QByteArray result32(const QByteArray& r);
    QByteArray release34(const QByteArray& r);
    QByteArray probe(const QByteArray& r);
    QByteArray poll(const QByteArray& r);
    QByteArray memoryRead(const QByteArray& r) const;
    QByteArray memoryWrite(const QByteArray& r);
    QByteArray channelSwitch(const QByteArray& r);
    QByteArray manualSetUp(const QByteArray& r);
    QByteArray manualStart(const QByteArray& r);
    QByteArray curve60(const QByteArray& r) const;
    QByteArray temperatures73();
    QByteArray setPoints74() const;
    QByteArray setSetPoints75(const QByteArray& r);
    QByteArray reagentTable77(const QByteArray& r);
    QByteArray reagentVolumes78(const QByteArray& r) const;
    QByteArray workMode(const QByteArray& r);
    QByteArray calibrateLight(const QByteArray& r);

    QByteArray id;
    SimConfig config;
    SimClock* clock;
    QRandomGenerator rng;
    QRandomGenerator noise;
    SimFaultInjector faults;
    SimMemory memory;
    SimThermal thermal;
    QDateTime powerOn;

    qint64 time = 0;          // simulation has run up to here
    qint64 nextOrder = 0;
    std::map<quint32, Test> tests;
    bool enabled[channelCount];
    qint64 pipettorFreeAt = 0;
    quint32 pipetting = 0;    // test in the pipettor, 0 none
    qint64 ledCalibratedAt = -1;
    qint64 armBusyUntil[2] = { 0, 0 };
    bool simulationMode = false; // FB0: no reagent or cup is used up
    int cups;
    QMap<QByteArray, QList<Bottle>> reagents; // by upper-case item code
};

SimAnalyzerPrivate::SimAnalyzerPrivate(const QByteArray& id_, const SimConfig& config_, SimClock* clock_)
    : id(id_)
    , config(config_)
    , clock(clock_)
    , rng(config_.seed ^ fnv1a(id_))
    , noise(config_.seed ^ fnv1a(id_) ^ 0x5bd1e995u)
    , faults(config_.faults)
    , memory(config_.memoryFile)
    , thermal(config_.roomTemperature)
    , powerOn(QDateTime::currentDateTime())
    , cups(config_.cups)
{
    time = now();
    thermal.setSetPoints(thermal.setPoint(0), thermal.setPoint(1), thermal.setPoint(2), time);
    // the channels come up as the parameter block in memory says
    const bool blockValid = memory.word(0) == 8;
    const quint32 mask = blockValid ? memory.word(4) : 0;
    for (int i = 0; i < channelCount; ++i)
        enabled[i] = !(mask & (1u << i));
    pipettorFreeAt = time;
}

Test* SimAnalyzerPrivate::find(quint32 testId)
{
    auto it = tests.find(testId);
    return it == tests.end() ? nullptr : &it->second;
}

bool SimAnalyzerPrivate::channelFree(int channel) const
{
    for (const auto& [key, t] : tests) {
        Q_UNUSED(key);
        if (t.channel == channel && (t.status == StatusMeasuring || (t.manual && t.status == StatusIntake)))
            return false;
    }
    return true;
}

void SimAnalyzerPrivate::beginMeasuring(Test& t, int channel, qint64 at)
{
    t.status = StatusMeasuring;
    t.channel = channel;
    t.measureStart = at;
    t.measureEnd = at + qint64(t.curve.points.size()) * t.curve.intervalMs;
}

void SimAnalyzerPrivate::consumeFor(const Test& t)
{
    if (simulationMode)
        return;
    if (cups > 0)
        --cups;
    auto it = reagents.find(t.item.toUpper());
    if (it == reagents.end())
        return;
    for (Bottle& b : *it) {
        if (b.volume > 0) {
            b.volume = std::max(0, b.volume - reagentPerTest);
            return;
        }
    }
}

// Things that happen at once at time t: the pipettor takes the next cup
// from the intake; pre-warmed cups go onto free channels.
void SimAnalyzerPrivate::startWorkAt(qint64 t)
{
    if (!pipetting && pipettorFreeAt <= t) {
        int inBlock = 0;
        Test* next = nullptr;
        for (auto& [key, test] : tests) {
            Q_UNUSED(key);
            if (test.manual)
                continue;
            if (test.status == StatusPrewarm || test.status == StatusWaiting)
                ++inBlock;
            if (test.status == StatusIntake && (!next || test.order < next->order))
                next = &test;
        }
        if (next && inBlock < prewarmPositions) {
            next->status = StatusPipetting;
            next->pipetteEnd = t + pipetteMs;
            pipetting = next->id;
            pipettorFreeAt = next->pipetteEnd;
            consumeFor(*next);
        }
    }
    const bool calibrating = ledCalibratedAt >= 0 && t < ledCalibratedAt + ledCalibrationMs;
    if (calibrating)
        return;
    for (;;) {
        Test* waiting = nullptr;
        for (auto& [key, test] : tests) {
            Q_UNUSED(key);
            if (test.status != StatusWaiting)
                continue;
            if (!waiting || test.prewarmEnd < waiting->prewarmEnd
                || (test.prewarmEnd == waiting->prewarmEnd && test.order < waiting->order))
                waiting = &test;
        }
        if (!waiting)
            return;
        int channel = 0;
        for (int c = 1; c <= channelCount && !channel; ++c)
            if (enabled[c - 1] && channelFree(c))
                channel = c;
        if (!channel)
            return;
        beginMeasuring(*waiting, channel, t);
    }
}

// Runs the simulation from its last time up to t, handling every event at
// its own time.
void SimAnalyzerPrivate::advanceTo(qint64 t)
{
    if (t < time)
        t = time; // a clock never runs back for the analyzer
    for (;;) {
        startWorkAt(time);
        qint64 next = -1;
        auto consider = [&next](qint64 at) {
            if (at >= 0 && (next < 0 || at < next))
                next = at;
        };
        if (pipettorFreeAt > time)
            consider(pipettorFreeAt);
        if (ledCalibratedAt >= 0 && time < ledCalibratedAt + ledCalibrationMs)
            consider(ledCalibratedAt + ledCalibrationMs);
        for (const auto& [key, test] : tests) {
            Q_UNUSED(key);
            if (test.status == StatusPrewarm)
                consider(test.prewarmEnd);
            else if (test.status == StatusMeasuring)
                consider(test.measureEnd);
        }
        if (next < 0 || next > t)
            break;
        time = std::max(time, next);
        if (pipetting && pipettorFreeAt <= time) {
            if (Test* p = find(pipetting)) {
                p->status = StatusPrewarm;
                p->prewarmStart = p->pipetteEnd;
                p->prewarmEnd = p->pipetteEnd + simassay::prewarmMs(p->item);
            }
            pipetting = 0;
        }
        for (auto& [key, test] : tests) {
            Q_UNUSED(key);
            if (test.status == StatusPrewarm && test.prewarmEnd <= time)
                test.status = StatusWaiting;
            else if (test.status == StatusMeasuring && test.measureEnd <= time)
                test.status = StatusFinal;
        }
    }
    time = t;
    startWorkAt(time);
}

void SimAnalyzerPrivate::dropOldFinals()
{
    while (int(tests.size()) > maxKeptTests) {
        auto oldest = tests.end();
        for (auto it = tests.begin(); it != tests.end(); ++it)
            if (it->second.status == StatusFinal && (oldest == tests.end() || it->second.order < oldest->second.order))
                oldest = it;
        if (oldest == tests.end())
            return;
        tests.erase(oldest);
    }
}

QByteArray SimAnalyzerPrivate::dispatch(const QByteArray& r)
{
    const QByteArray code = r.left(2);
    if (code == "24")
        return r.size() == 2 ? status24() : "24XX";
    if (code == "31")
        return place31(r);
    if (code == "32")
        return result32(r);
    if (code == "34")
        return release34(r);
    if (code == "4C")
        return memoryRead(r);
    if (code == "4D")
        return memoryWrite(r);
    static const QList<QByteArray> probeCodes { "40", "41", "42", "43", "44", "46", "49", "4B", "4E", "4F", "50", "51" };
    if (probeCodes.contains(code))
        return probe(r);
    if (code == "53" || code == "54" || code == "55")
        return poll(r);
    if (code == "5C" || code == "5D")
        return channelSwitch(r);
    if (code == "5E")
        return manualSetUp(r);
    if (code == "5F")
        return manualStart(r);
    if (code == "60")
        return curve60(r);
    if (code == "73")
        return r.size() == 2 ? temperatures73() : "73XX";
    if (code == "74")
        return r.size() == 2 ? setPoints74() : "74XX";
    if (code == "75")
        return setSetPoints75(r);
    if (code == "77")
        return reagentTable77(r);
    if (code == "78")
        return reagentVolumes78(r);
    if (code == "FB")
        return workMode(r);
    if (code == "FD")
        return calibrateLight(r);
    return errorReply(code);
}

// "24 " + each error code as four hex digits and a blank + "Sensor-" + the
// sensor word in hex without leading zeros (at most two digits, so it never
// reads as a code) + "-".
QByteArray SimAnalyzerPrivate::status24() const
{
    QByteArray reply = "24 ";
    for (quint16 code : config.statusCodes)
        reply += simhex::field(code, 4) + ' ';
    quint32 word = config.sensorWord & 0x7F;
    if (cups < lowCupsThreshold)
        word |= 0x40;
    reply += "Sensor-" + QByteArray::number(word, 16).toUpper() + '-';
    return reply;
}

// 31 id(8) position(2) item(2) dilution(decimal, 2 or more) method(1)
QByteArray SimAnalyzerPrivate::place31(const QByteArray& r)
{
    quint32 testId = 0;
    if (r.size() < 17 || r.size() > 20 || !simhex::read(r, 2, 8, &testId) || testId == 0)
        return "31XX";
    const QByteArray dil = r.mid(14, r.size() - 15);
    bool ok = false;
    const int dilution = dil.toInt(&ok, 10);
    if (!ok || dilution < 0 || !std::all_of(dil.begin(), dil.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "31XX";
    if (find(testId))
        return "31XX"; // the id is still in use on the analyzer
    int inIntake = 0;
    for (const auto& [key, t] : tests) {
        Q_UNUSED(key);
        if (!t.manual && t.status == StatusIntake)
            ++inIntake;
    }
    const int capacity = std::clamp(config.intakeSize, 1, 255);
    if (inIntake >= capacity)
        return "3100"; // intake full: not accepted, offered again later

    Test t;
    t.id = testId;
    t.position = r.mid(10, 2);
    t.item = r.mid(12, 2);
    t.dilution = dilution;
    t.method = r.at(r.size() - 1);
    t.placedAt = time;
    t.order = nextOrder++;
    const bool neverClots = config.notClottingPositions.contains(t.position)
        || (config.notClottingRate > 0.0 && rng.generateDouble() < config.notClottingRate);
    const int clot = simassay::clotTimeHundredths(t.item, t.dilution, t.method, &rng);
    t.clotted = !neverClots;
    t.errorCode = t.clotted ? 0 : errorNoClot;
    t.curve = simassay::makeCurve(clot, t.clotted, t.method == 'L', rng.generate());
    tests.emplace(testId, t);
    recordTruth(t);
    dropOldFinals();
    startWorkAt(time);
    int free = capacity;
    for (const auto& [key, test] : tests) {
        Q_UNUSED(key);
        if (!test.manual && test.status == StatusIntake)
            --free;
    }
    return "3111" + simhex::field(quint32(std::max(0, free)), 2);
}

// What an accepted test will report, for tools that check a run against it.
void SimAnalyzerPrivate::recordTruth(const Test& t)
{
    simtruth::Entry e;
    e.id = t.id;
    e.clotHundredths = t.curve.reportedHundredths;
    e.pointCount = t.curve.points.size();
    e.position = t.position;
    e.item = t.item;
    e.dilution = t.dilution;
    e.method = QByteArray(1, t.method);
    simtruth::record(e);
}

// 32 SS _ id(8) pos(2) item(2) dil(2) M date(16) _ CH _ EE ___ then the
// labelled fields; the test-time label comes first at character 45, so the
// channel sits at 37-38 (p-8) and the error code at 40-41 (p-5).
QByteArray SimAnalyzerPrivate::result32(const QByteArray& r)
{
    quint32 testId = 0;
    if (r.size() != 10 || !simhex::read(r, 2, 8, &testId))
        return "32XX";
    const Test* t = find(testId);
    if (!t)
        return "32XX";

    int testTime = 0;
    if (t->status == StatusFinal)
        testTime = t->curve.reportedHundredths;
    else if (t->status == StatusMeasuring)
        testTime = int(std::min<qint64>((time - t->measureStart) / 10, t->curve.reportedHundredths));
    qint64 prewarm = 0, overdue = 0;
    if (t->prewarmStart >= 0) {
        const qint64 until = t->measureStart >= 0 ? t->measureStart : time;
        prewarm = std::max<qint64>(0, until - t->prewarmStart) / 1000;
        overdue = std::max<qint64>(0, until - t->prewarmEnd) / 1000;
    }
    const QDateTime date = powerOn.addMSecs(t->placedAt);
    const Labels& l = labels();

    QByteArray reply = "32";
    reply += simhex::field(quint32(t->status), 2);
    reply += ' ';
    reply += simhex::field(t->id, 8);
    reply += printable(t->position, 2);
    reply += printable(t->item, 2);
    reply += QByteArray::number(std::clamp(t->dilution, 0, 99)).rightJustified(2, '0');
    reply += printable(QByteArray(1, t->method), 1);
    reply += date.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toLatin1();
    reply += ' ';
    reply += simhex::field(quint32(t->channel), 2);
    reply += ' ';
    reply += simhex::field(quint32(t->status == StatusFinal ? t->errorCode : 0), 2);
    reply += "   ";
    reply += l.testTime + simhex::field(quint32(std::clamp(testTime, 0, 0xFFFF)), 4);
    reply += ' ' + l.prewarmTime + simhex::field(quint32(std::min<qint64>(prewarm, 0xFFFF)), 4);
    reply += ' ' + l.prewarmTimeout + simhex::field(quint32(std::min<qint64>(overdue, 0xFFFF)), 4);
    return reply;
}

// 34 id(8): "3400" released or cancelled (also for an id the analyzer does
// not hold: there is nothing left to release), "3400C0" while measuring.
QByteArray SimAnalyzerPrivate::release34(const QByteArray& r)
{
    quint32 testId = 0;
    if (r.size() != 10 || !simhex::read(r, 2, 8, &testId))
        return "34XX";
    auto it = tests.find(testId);
    if (it == tests.end())
        return "3400";
    if (it->second.status == StatusMeasuring)
        return "3400C0";
    if (pipetting == testId)
        pipetting = 0; // the pipettor still finishes its move (pipettorFreeAt)
    if (!it->second.manual)
        simtruth::recordRelease(testId);
    tests.erase(it);
    startWorkAt(time);
    return "3400";
}

// code(2) arm(1: 1 or 2) probe(1: 3 or 4) [suffix]: "<code>00" when taken
// on; the arm is then busy for the action's time, reported by 53/54/55.
QByteArray SimAnalyzerPrivate::probe(const QByteArray& r)
{
    const QByteArray code = r.left(2);
    if (r.size() < 4 || (r.at(2) != '1' && r.at(2) != '2') || (r.at(3) != '3' && r.at(3) != '4'))
        return code + "XX";
    const QByteArray suffix = r.mid(4);
    quint32 a = 0, b = 0;
    if (code == "4B") {
        if (suffix.size() != 2 || !simhex::read(suffix, 0, 2, &a) || a == 0)
            return code + "XX";
    } else if (code == "4F") {
        if (suffix.size() != 6 || suffix.at(0) != 'X' || suffix.at(3) != 'Y'
            || !simhex::read(suffix, 1, 2, &a) || !simhex::read(suffix, 4, 2, &b))
            return code + "XX";
    } else if (!suffix.isEmpty()) {
        return code + "XX";
    }
    const int arm = r.at(2) - '1';
    if (armBusyUntil[arm] > time)
        return code + "XX"; // still busy with the previous action
    static const QMap<QByteArray, int> busyMs {
        { "40", 30000 }, { "41", 40000 }, { "42", 10000 }, { "43", 30000 }, { "44", 10000 },
        { "46", 10000 }, { "49", 150000 }, { "4B", 15000 }, { "4E", 5000 }, { "4F", 0 },
        { "50", 3000 }, { "51", 6000 },
    };
    armBusyUntil[arm] = time + busyMs.value(code);
    return code + "00";
}

// 53/54/55 + arm (module) 1 or 2: "<code>00" idle, "<code>01" + "0000"
// while busy (code 0 = no fault to report).
QByteArray SimAnalyzerPrivate::poll(const QByteArray& r)
{
    const QByteArray code = r.left(2);
    if (r.size() != 3 || (r.at(2) != '1' && r.at(2) != '2'))
        return code + "XX";
    const int arm = r.at(2) - '1';
    return armBusyUntil[arm] > time ? code + "010000" : code + "00";
}

// 4C addr(4) count(2, 1..64): "4C" + the bytes in upper-case hex, clipped
// at the end of memory.
QByteArray SimAnalyzerPrivate::memoryRead(const QByteArray& r) const
{
    quint32 address = 0, count = 0;
    if (r.size() != 8 || !simhex::read(r, 2, 4, &address) || !simhex::read(r, 6, 2, &count)
        || count < 1 || count > 64)
        return "4CXX";
    return "4C" + memory.read(int(address), int(count)).toHex().toUpper();
}

// 4D addr(4) count(2, 1..64) data(2 x count hex): "4D00".
QByteArray SimAnalyzerPrivate::memoryWrite(const QByteArray& r)
{
    quint32 address = 0, count = 0;
    if (r.size() < 8 || !simhex::read(r, 2, 4, &address) || !simhex::read(r, 6, 2, &count)
        || count < 1 || count > 64 || r.size() != 8 + 2 * int(count))
        return "4DXX";
    QByteArray data;
    for (int i = 0; i < int(count); ++i) {
        quint32 byte = 0;
        if (!simhex::read(r, 8 + 2 * i, 2, &byte))
            return "4DXX";
        data += char(byte);
    }
    if (!memory.write(int(address), data))
        return "4DXX";
    return "4D00";
}

// 5C/5D channel(1 hex digit, 1..A): "5C00"/"5D00". A test measuring on a
// channel being disabled still finishes there.
QByteArray SimAnalyzerPrivate::channelSwitch(const QByteArray& r)
{
    const QByteArray code = r.left(2);
    quint32 channel = 0;
    if (r.size() != 3 || !simhex::read(r, 2, 1, &channel) || channel < 1 || channel > channelCount)
        return code + "XX";
    enabled[channel - 1] = code == "5C";
    startWorkAt(time);
    return code + "00";
}

// 5E channel(1) id(8) position(2) item(2) dilution(2 hex) method(1): "5E00".
// The channel is held for the test until 5F starts it. A new set-up on a
// channel replaces a test set up there and never started.
QByteArray SimAnalyzerPrivate::manualSetUp(const QByteArray& r)
{
    quint32 channel = 0, testId = 0, dilution = 0;
    if (r.size() != 18 || !simhex::read(r, 2, 1, &channel) || channel < 1 || channel > channelCount
        || !simhex::read(r, 3, 8, &testId) || testId == 0 || !simhex::read(r, 15, 2, &dilution))
        return "5EXX";
    if (!enabled[channel - 1])
        return "5EXX";
    for (auto it = tests.begin(); it != tests.end();) {
        const Test& t = it->second;
        if (t.manual && t.status == StatusIntake && int(t.channel) == int(channel))
            it = tests.erase(it);
        else
            ++it;
    }
    if (find(testId) || !channelFree(int(channel)))
        return "5EXX";
    Test t;
    t.id = testId;
    t.manual = true;
    t.channel = int(channel);
    t.position = r.mid(11, 2);
    t.item = r.mid(13, 2);
    t.dilution = int(dilution);
    t.method = r.at(17);
    t.placedAt = time;
    t.order = nextOrder++;
    const bool neverClots = config.notClottingPositions.contains(t.position)
        || (config.notClottingRate > 0.0 && rng.generateDouble() < config.notClottingRate);
    const int clot = simassay::clotTimeHundredths(t.item, t.dilution, t.method, &rng);
    t.clotted = !neverClots;
    t.errorCode = t.clotted ? 0 : errorNoClot;
    t.curve = simassay::makeCurve(clot, t.clotted, t.method == 'L', rng.generate());
    tests.emplace(testId, t);
    dropOldFinals();
    return "5E00";
}

// 5F channel(1): "5F00", the set-up test measures from now on.
QByteArray SimAnalyzerPrivate::manualStart(const QByteArray& r)
{
    quint32 channel = 0;
    if (r.size() != 3 || !simhex::read(r, 2, 1, &channel) || channel < 1 || channel > channelCount)
        return "5FXX";
    for (auto& [key, t] : tests) {
        Q_UNUSED(key);
        if (t.manual && t.status == StatusIntake && t.channel == int(channel)) {
            consumeFor(t);
            beginMeasuring(t, int(channel), time);
            return "5F00";
        }
    }
    return "5FXX";
}

// 60 id(8) first(4) count(2): "6001" id(8) first(4) n(2) "-" n points of
// four hex digits, "0000" after the last point of the curve, "-".
// "6000" when the test is unknown or not final.
QByteArray SimAnalyzerPrivate::curve60(const QByteArray& r) const
{
    quint32 testId = 0, first = 0, count = 0;
    if (r.size() != 16 || !simhex::read(r, 2, 8, &testId) || !simhex::read(r, 10, 4, &first)
        || !simhex::read(r, 14, 2, &count))
        return "60XX";
    const Test* t = find(testId);
    if (!t || t->status != StatusFinal || t->curve.points.isEmpty())
        return "6000";
    const int size = t->curve.points.size();
    const int from = std::min(int(first), size);
    const int n = std::min(int(count), size - from);
    QByteArray field;
    field.reserve(4 * (n + 1));
    for (int i = from; i < from + n; ++i)
        field += simhex::field(t->curve.points.at(i), 4);
    if (from + n == size)
        field += "0000";
    return "6001" + simhex::field(testId, 8) + simhex::field(quint32(from), 4)
        + simhex::field(quint32(n), 2) + '-' + field + '-';
}

// "73 " + nine temperatures with one decimal, blank separated.
QByteArray SimAnalyzerPrivate::temperatures73()
{
    const QVector<double> v = thermal.read(time, &noise);
    QByteArray reply = "73 ";
    for (int i = 0; i < v.size(); ++i) {
        if (i)
            reply += ' ';
        reply += QByteArray::number(v.at(i), 'f', 1);
    }
    return reply;
}

// "74-" + the three set points (pre-warm, test area, cooling) with two
// decimals, blank separated.
QByteArray SimAnalyzerPrivate::setPoints74() const
{
    return "74-" + QByteArray::number(thermal.setPoint(0), 'f', 2) + ' '
        + QByteArray::number(thermal.setPoint(1), 'f', 2) + ' '
        + QByteArray::number(thermal.setPoint(2), 'f', 2);
}

// 75 three decimal numbers, blank separated (fields may be blank padded):
// "7500"; "75XX" when unreadable or outside what the heaters and the cooler
// reach (pre-warm and test 20..45, cooling 2..30).
QByteArray SimAnalyzerPrivate::setSetPoints75(const QByteArray& r)
{
    const QList<QByteArray> parts = r.mid(2).simplified().split(' ');
    if (parts.size() != 3)
        return "75XX";
    double v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        v[i] = parts.at(i).toDouble(&ok);
        if (!ok)
            return "75XX";
    }
    if (v[0] < 20 || v[0] > 45 || v[1] < 20 || v[1] > 45 || v[2] < 2 || v[2] > 30)
        return "75XX";
    thermal.setSetPoints(v[0], v[1], v[2], time);
    return "7500";
}

// 77 item(2) then pairs of position code(2) and volume(2 hex): "7700". The
// table replaces what was known for that item.
QByteArray SimAnalyzerPrivate::reagentTable77(const QByteArray& r)
{
    if (r.size() < 4 || (r.size() - 4) % 4 != 0)
        return "77XX";
    QList<Bottle> bottles;
    for (int i = 4; i < r.size(); i += 4) {
        quint32 volume = 0;
        if (!simhex::read(r, i + 2, 2, &volume))
            return "77XX";
        bottles << Bottle { r.mid(i, 2), int(volume) };
    }
    reagents[r.mid(2, 2).toUpper()] = bottles;
    return "7700";
}

// 78 item(2): "78" + pairs of position code(2) and volume(2 hex); "78XX"
// for an item the table does not hold.
QByteArray SimAnalyzerPrivate::reagentVolumes78(const QByteArray& r) const
{
    if (r.size() != 4)
        return "78XX";
    auto it = reagents.constFind(r.mid(2, 2).toUpper());
    if (it == reagents.constEnd())
        return "78XX";
    QByteArray reply = "78";
    for (const Bottle& b : *it)
        reply += printable(b.position, 2) + simhex::field(quint32(b.volume), 2);
    return reply;
}

// FB0 simulation mode (nothing is used up), FB1 normal work: "FB00"/"FB10".
QByteArray SimAnalyzerPrivate::workMode(const QByteArray& r)
{
    if (r == "FB0" || r == "FB1") {
        simulationMode = r == "FB0";
        return r + '0';
    }
    return "FBXX";
}

// FD: "FD00"; no cup goes onto a channel while the light is calibrated.
QByteArray SimAnalyzerPrivate::calibrateLight(const QByteArray& r)
{
    if (r != "FD")
        return "FDXX";
    ledCalibratedAt = time;
    return "FD00";
}

SimAnalyzer::SimAnalyzer(const QByteArray& id, const SimConfig& config, SimClock* clock)
    : d(new SimAnalyzerPrivate(id, config, clock))
{
}

SimAnalyzer::~SimAnalyzer() = default;

QByteArray SimAnalyzer::id() const
{
    return d->id;
}

SimReply SimAnalyzer::handle(const QByteArray& request)
{
    d->advanceTo(d->now());
    SimReply reply;
    const QByteArray code = request.left(2);
    const SimFault* fault = d->faults.next(code);
    if (fault) {
        simtruth::recordStrike(SimFault::kindName(fault->kind).toLatin1(), request, fault->delayMs);
        switch (fault->kind) {
        case SimFault::ErrorReply:
            reply.line = errorReply(code);
            return reply;
        case SimFault::Silence:
            reply.action = SimReply::Silent;
            return reply;
        case SimFault::DropLink:
            reply.action = SimReply::DropLink;
            return reply;
        default:
            break;
        }
    }
    reply.line = d->dispatch(request);
    if (fault) {
        switch (fault->kind) {
        case SimFault::Malformed:
            // the echo survives; the rest is cut short and garbled so that
            // no field reads
            reply.line = reply.line.left(2) + "?#" + reply.line.mid(2, (reply.line.size() - 2) / 2);
            break;
        case SimFault::Overlong:
            if (reply.line.size() < fault->length)
                reply.line += ' ' + QByteArray(fault->length - reply.line.size() - 1, 'Z');
            break;
        case SimFault::Delay:
            reply.delayMs = fault->delayMs;
            break;
        case SimFault::Stray:
            reply.stray = reply.line;
            reply.strayDelayMs = fault->delayMs;
            break;
        default:
            break;
        }
    }
    return reply;
}

SimAnalyzer::TestInfo SimAnalyzer::testInfo(quint32 testId) const
{
    d->advanceTo(d->now());
    TestInfo info;
    const Test* t = d->find(testId);
    if (!t)
        return info;
    info.exists = true;
    info.status = t->status;
    info.channel = t->status >= StatusMeasuring || t->manual ? t->channel : 0;
    info.manual = t->manual;
    info.clotted = t->clotted;
    info.clotHundredths = t->curve.reportedHundredths;
    info.intervalMs = t->curve.intervalMs;
    info.pointCount = t->curve.points.size();
    info.points = t->curve.points;
    return info;
}

bool SimAnalyzer::channelEnabled(int channel) const
{
    return channel >= 1 && channel <= channelCount && d->enabled[channel - 1];
}

int SimAnalyzer::freeIntakePlaces() const
{
    d->advanceTo(d->now());
    int free = std::clamp(d->config.intakeSize, 1, 255);
    for (const auto& [key, t] : d->tests) {
        Q_UNUSED(key);
        if (!t.manual && t.status == StatusIntake)
            --free;
    }
    return std::max(0, free);
}

int SimAnalyzer::reagentVolume(const QByteArray& itemCode, const QByteArray& position) const
{
    d->advanceTo(d->now());
    for (const Bottle& b : d->reagents.value(itemCode.toUpper()))
        if (b.position == position)
            return b.volume;
    return -1;
}

int SimAnalyzer::cupsLeft() const
{
    d->advanceTo(d->now());
    return d->cups;
}

void SimAnalyzer::flushMemory()
{
    d->memory.flush();
}
