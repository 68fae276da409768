#include "sim/simdevice.h"

#include "sim/simtruth.h"

#include <algorithm>

namespace {

constexpr int prewarmPositions = 20; // cups the pre-warm block holds
constexpr int pipetteMs = 8000;      // sample and reagent into one cup
constexpr int lowCupsThreshold = 50; // sensor bit 6 below this
constexpr int reagentPerTest = 3;    // of 255 per bottle
constexpr int maxKeptTests = 1000;   // final tests kept unreleased
constexpr int ledCalibrationMs = 5000;

// Error code of the final 32 reply: no clot within the measuring limit.
constexpr int errorNoClot = 0x01;

quint32 fnv1a(const QByteArray& bytes)
{
    quint32 h = 2166136261u;
    for (char c : bytes) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    return h;
}

// What an accepted test will report, for tools that check a run against it.
void recordTruth(const SimTest& t)
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

} // namespace

SimDevice::SimDevice(const QByteArray& id, const SimConfig& config, SimClock* clock)
    : m_config(config)
    , m_clock(clock)
    , m_rng(config.seed ^ fnv1a(id))
    , m_noise(config.seed ^ fnv1a(id) ^ 0x5bd1e995u)
    , m_memory(config.memoryFile)
    , m_thermal(config.roomTemperature)
    , m_powerOn(QDateTime::currentDateTime())
    , m_cups(config.cups)
{
    m_time = clockNow();
    m_thermal.setSetPoints(m_thermal.setPoint(0), m_thermal.setPoint(1), m_thermal.setPoint(2), m_time);
    // the channels come up as the parameter block in memory says
    const bool blockValid = m_memory.word(0) == 8;
    const quint32 mask = blockValid ? m_memory.word(4) : 0;
    for (int i = 0; i < channelCount; ++i)
        m_enabled[i] = !(mask & (1u << i));
    m_pipettorFreeAt = m_time;
}

void SimDevice::catchUp()
{
    advanceTo(clockNow());
}

SimTest* SimDevice::find(quint32 testId)
{
    auto it = m_tests.find(testId);
    return it == m_tests.end() ? nullptr : &it->second;
}

const SimTest* SimDevice::test(quint32 testId) const
{
    return const_cast<SimDevice*>(this)->find(testId);
}

bool SimDevice::channelFree(int channel) const
{
    for (const auto& [key, t] : m_tests) {
        Q_UNUSED(key);
        if (t.channel == channel && (t.status == SimTest::Measuring || (t.manual && t.status == SimTest::Intake)))
            return false;
    }
    return true;
}

void SimDevice::beginMeasuring(SimTest& t, int channel, qint64 at)
{
    t.status = SimTest::Measuring;
    t.channel = channel;
    t.measureStart = at;
    t.measureEnd = at + qint64(t.curve.points.size()) * t.curve.intervalMs;
}

void SimDevice::consumeFor(const SimTest& t)
{
    if (m_simulationMode)
        return;
    if (m_cups > 0)
        --m_cups;
    auto it = m_reagents.find(t.item.toUpper());
    if (it == m_reagents.end())
        return;
    for (SimBottle& b : *it) {
        if (b.volume > 0) {
            b.volume = std::max(0, b.volume - reagentPerTest);
            return;
        }
    }
}

// Things that happen at once at time t: the pipettor takes the next cup
// from the intake; pre-warmed cups go onto free channels.
void SimDevice::startWorkAt(qint64 t)
{
    if (!m_pipetting && m_pipettorFreeAt <= t) {
        int inBlock = 0;
        SimTest* next = nullptr;
        for (auto& [key, test] : m_tests) {
            Q_UNUSED(key);
            if (test.manual)
                continue;
            if (test.status == SimTest::Prewarm || test.status == SimTest::Waiting)
                ++inBlock;
            if (test.status == SimTest::Intake && (!next || test.order < next->order))
                next = &test;
        }
        if (next && inBlock < prewarmPositions) {
            next->status = SimTest::Pipetting;
            next->pipetteEnd = t + pipetteMs;
            m_pipetting = next->id;
            m_pipettorFreeAt = next->pipetteEnd;
            consumeFor(*next);
        }
    }
    const bool calibrating = m_ledCalibratedAt >= 0 && t < m_ledCalibratedAt + ledCalibrationMs;
    if (calibrating)
        return;
    for (;;) {
        SimTest* waiting = nullptr;
        for (auto& [key, test] : m_tests) {
            Q_UNUSED(key);
            if (test.status != SimTest::Waiting)
                continue;
            if (!waiting || test.prewarmEnd < waiting->prewarmEnd
                || (test.prewarmEnd == waiting->prewarmEnd && test.order < waiting->order))
                waiting = &test;
        }
        if (!waiting)
            return;
        int channel = 0;
        for (int c = 1; c <= channelCount && !channel; ++c)
            if (m_enabled[c - 1] && channelFree(c))
                channel = c;
        if (!channel)
            return;
        beginMeasuring(*waiting, channel, t);
    }
}

// Runs the simulation from its last time up to t, handling every event at
// its own time.
void SimDevice::advanceTo(qint64 t)
{
    if (t < m_time)
        t = m_time; // a clock never runs back for the analyzer
    for (;;) {
        startWorkAt(m_time);
        qint64 next = -1;
        auto consider = [&next](qint64 at) {
            if (at >= 0 && (next < 0 || at < next))
                next = at;
        };
        if (m_pipettorFreeAt > m_time)
            consider(m_pipettorFreeAt);
        if (m_ledCalibratedAt >= 0 && m_time < m_ledCalibratedAt + ledCalibrationMs)
            consider(m_ledCalibratedAt + ledCalibrationMs);
        for (const auto& [key, test] : m_tests) {
            Q_UNUSED(key);
            if (test.status == SimTest::Prewarm)
                consider(test.prewarmEnd);
            else if (test.status == SimTest::Measuring)
                consider(test.measureEnd);
        }
        if (next < 0 || next > t)
            break;
        m_time = std::max(m_time, next);
        if (m_pipetting && m_pipettorFreeAt <= m_time) {
            if (SimTest* p = find(m_pipetting)) {
                p->status = SimTest::Prewarm;
                p->prewarmStart = p->pipetteEnd;
                p->prewarmEnd = p->pipetteEnd + simassay::prewarmMs(p->item);
            }
            m_pipetting = 0;
        }
        for (auto& [key, test] : m_tests) {
            Q_UNUSED(key);
            if (test.status == SimTest::Prewarm && test.prewarmEnd <= m_time)
                test.status = SimTest::Waiting;
            else if (test.status == SimTest::Measuring && test.measureEnd <= m_time)
                test.status = SimTest::Final;
        }
    }
    m_time = t;
    startWorkAt(m_time);
}

void SimDevice::dropOldFinals()
{
    while (int(m_tests.size()) > maxKeptTests) {
        auto oldest = m_tests.end();
        for (auto it = m_tests.begin(); it != m_tests.end(); ++it)
            if (it->second.status == SimTest::Final
                && (oldest == m_tests.end() || it->second.order < oldest->second.order))
                oldest = it;
        if (oldest == m_tests.end())
            return;
        m_tests.erase(oldest);
    }
}

// A new test at the present time, with whether its sample clots, its clot
// time and its curve drawn in this order from the analyzer's random source.
SimTest SimDevice::newTest(quint32 id, const QByteArray& position, const QByteArray& item, int dilution, char method)
{
    SimTest t;
    t.id = id;
    t.position = position;
    t.item = item;
    t.dilution = dilution;
    t.method = method;
    t.placedAt = m_time;
    t.order = m_nextOrder++;
    const bool neverClots = m_config.notClottingPositions.contains(t.position)
                            || (m_config.notClottingRate > 0.0 && m_rng.generateDouble() < m_config.notClottingRate);
    const int clot = simassay::clotTimeHundredths(t.item, t.dilution, t.method, &m_rng);
    t.clotted = !neverClots;
    t.errorCode = t.clotted ? 0 : errorNoClot;
    t.curve = simassay::makeCurve(clot, t.clotted, t.method == 'L', m_rng.generate());
    return t;
}

int SimDevice::freeIntakePlaces() const
{
    int free = std::clamp(m_config.intakeSize, 1, 255);
    for (const auto& [key, t] : m_tests) {
        Q_UNUSED(key);
        if (!t.manual && t.status == SimTest::Intake)
            --free;
    }
    return std::max(0, free);
}

void SimDevice::place(quint32 id, const QByteArray& position, const QByteArray& item, int dilution, char method)
{
    const SimTest t = newTest(id, position, item, dilution, method);
    m_tests.emplace(id, t);
    recordTruth(t);
    dropOldFinals();
    startWorkAt(m_time);
}

// A new set-up on a channel replaces a test set up there and never started.
bool SimDevice::setUpManual(int channel, quint32 id, const QByteArray& position, const QByteArray& item, int dilution,
                            char method)
{
    if (!m_enabled[channel - 1])
        return false;
    for (auto it = m_tests.begin(); it != m_tests.end();) {
        const SimTest& t = it->second;
        if (t.manual && t.status == SimTest::Intake && t.channel == channel)
            it = m_tests.erase(it);
        else
            ++it;
    }
    if (find(id) || !channelFree(channel))
        return false;
    SimTest t = newTest(id, position, item, dilution, method);
    t.manual = true;
    t.channel = channel;
    m_tests.emplace(id, t);
    dropOldFinals();
    return true;
}

bool SimDevice::startManual(int channel)
{
    for (auto& [key, t] : m_tests) {
        Q_UNUSED(key);
        if (t.manual && t.status == SimTest::Intake && t.channel == channel) {
            consumeFor(t);
            beginMeasuring(t, channel, m_time);
            return true;
        }
    }
    return false;
}

bool SimDevice::release(quint32 id)
{
    auto it = m_tests.find(id);
    if (it == m_tests.end())
        return true;
    if (it->second.status == SimTest::Measuring)
        return false;
    if (m_pipetting == id)
        m_pipetting = 0; // the pipettor still finishes its move (m_pipettorFreeAt)
    if (!it->second.manual)
        simtruth::recordRelease(id);
    m_tests.erase(it);
    startWorkAt(m_time);
    return true;
}

bool SimDevice::channelEnabled(int channel) const
{
    return channel >= 1 && channel <= channelCount && m_enabled[channel - 1];
}

void SimDevice::setChannelEnabled(int channel, bool enabled)
{
    m_enabled[channel - 1] = enabled;
    startWorkAt(m_time);
}

QVector<double> SimDevice::temperatures()
{
    return m_thermal.read(m_time, &m_noise);
}

void SimDevice::setSetPoints(double prewarm, double test, double cooling)
{
    m_thermal.setSetPoints(prewarm, test, cooling, m_time);
}

const QList<SimBottle>* SimDevice::bottles(const QByteArray& item) const
{
    auto it = m_reagents.constFind(item.toUpper());
    return it == m_reagents.constEnd() ? nullptr : &*it;
}

void SimDevice::setBottles(const QByteArray& item, const QList<SimBottle>& bottles)
{
    m_reagents[item.toUpper()] = bottles;
}

quint32 SimDevice::sensorWord() const
{
    quint32 word = m_config.sensorWord & 0x7F;
    if (m_cups < lowCupsThreshold)
        word |= 0x40;
    return word;
}
