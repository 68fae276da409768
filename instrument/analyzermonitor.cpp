// Monitoring: the analyzer's error codes and sensor word (command 24), the
// nine zone temperatures (command 73) and their display in the status bar.

#include "analyzermonitor.h"

#include "instrvela.h"
#include "replyparser.h"
#include "temperaturestability.h"

#include <tqcore/blink.h>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMetaObject>
#include <QMutexLocker>
#include <QStatusBar>

#include <cmath>

namespace {

// Status sources: 17, 18, ... for the error codes in reply order, 256 + i
// for sensor bit i.
constexpr int firstErrorSource = 17;
constexpr int firstSensorSource = 256;
constexpr int sensorBits = 7;
constexpr int sensorCodeBase = 0x10000;

// Readings outside this window are kept but not announced.
constexpr float lowestShown = -30.0f;
constexpr float highestShown = 50.0f;

} // namespace

AnalyzerMonitor::AnalyzerMonitor(InstrVela* instrument)
    : QObject(instrument)
    , m_instrument(instrument)
    , m_blink(new Blink(instrument))
    , m_temperatures(ZoneCount)
{
    // Sensor bits 6 .. 0 of the status reply (the texts keep the
    // instrument's translation context).
    instrument->addMessage(0x10040, 1, InstrVela::tr("测试杯数量不足，需要添加。"));
    instrument->addMessage(0x10020, 1, InstrVela::tr("废液瓶满。"));
    instrument->addMessage(0x10010, 1, InstrVela::tr("清洗液空。"));
    instrument->addMessage(0x10008, 1, InstrVela::tr("机器门已打开。"));
    instrument->addMessage(0x10004, 1, InstrVela::tr("试剂抽屉已打开。"));
    instrument->addMessage(0x10002, 1, InstrVela::tr("试管架抽屉已打开。"));
    instrument->addMessage(0x10001, 1, InstrVela::tr("卷带抽屉已打开。"));
}

void AnalyzerMonitor::pollStatus()
{
    // A lost link has raised its own message; nothing is asked until it is back.
    if (m_instrument->isLinkLost())
        return;
    const QByteArray reply = m_instrument->protocol().readStatus();
    if (m_instrument->isErrorReply(reply))
        return;
    const ReplyParser::StatusReply status = ReplyParser::parseStatusReply(reply);
    for (int k = 0; k < status.errorCodes.size(); ++k)
        m_instrument->setStatusCode(status.errorCodes.at(k), firstErrorSource + k, QString());
    if (status.hasSensorWord) {
        // A set bit reports its sensor's message code, a clear one 0x10000.
        for (int i = 0; i < sensorBits; ++i)
            m_instrument->setStatusCode(sensorCodeBase | (status.sensorWord & (1 << i)), firstSensorSource + i,
                                        QString());
    }
}

void AnalyzerMonitor::pollTemperatures()
{
    if (m_instrument->isLinkLost())
        return;
    const QByteArray reply = m_instrument->protocol().readTemperatures();
    if (reply.isEmpty() || m_instrument->isErrorReply(reply))
        return;
    const QStringList texts = ReplyParser::parseTemperatureTexts(reply);
    QList<QPair<int, QString>> announced;
    float zone1 = 0.0f;
    {
        QMutexLocker lock(&m_mutex);
        for (int i = 0; i < ZoneCount; ++i) {
            const QString text = texts.value(i);
            bool ok = false;
            const float t = text.toFloat(&ok);
            if (!ok || !std::isfinite(t))
                continue;
            m_temperatures[i] = t;
            // The texts are compared, not the numbers: "37.00" after "37.0" is news.
            if (t > lowestShown && t < highestShown && text != m_lastTexts.value(i))
                announced.append({i + 1, text});
        }
        zone1 = m_temperatures.at(0);
        m_lastTexts = texts;
    }
    // Announced with no lock held: a receiver may ask for the texts.
    for (const auto& zone : announced)
        emit temperatureChanged(zone.first, zone.second);

    if (!m_stable && TemperatureStability::addReading(&m_history, zone1))
        setTemperatureStable(true);
}

void AnalyzerMonitor::setTemperatureStable(bool stable)
{
    m_stable = stable;
    // Queued when called from another thread: the blink lives in the GUI thread.
    QMetaObject::invokeMethod(m_blink, stable ? "stop" : "start");
}

void AnalyzerMonitor::forgetReadings(const QString& placeholder)
{
    {
        QMutexLocker lock(&m_mutex);
        m_lastTexts.clear();
    }
    for (int zone = 1; zone <= ZoneCount; ++zone)
        emit temperatureChanged(zone, placeholder);
}

QVector<float> AnalyzerMonitor::temperatures() const
{
    QMutexLocker lock(&m_mutex);
    return m_temperatures;
}

QStringList AnalyzerMonitor::lastTemperatureTexts() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastTexts;
}

void AnalyzerMonitor::setupStatusBar(QMainWindow* window)
{
    if (!window)
        return;
    auto* frame = new QFrame;
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);

    struct Zone
    {
        QString name;
        void (InstrVela::*signal)(QString);
    };
    // The zone names keep the instrument's translation context.
    const Zone zones[] = {
        {InstrVela::tr("预温区"), &InstrVela::temp1Changed},
        {InstrVela::tr("测试区"), &InstrVela::temp6Changed},
        {InstrVela::tr("制冷区"), &InstrVela::temp7Changed},
    };
    for (const Zone& zone : zones) {
        auto* name = new QLabel(zone.name, frame);
        // Six spaces as the first text; the width must also hold a reading
        // such as "-30.00", which six spaces of a proportional font do not.
        auto* value = new QLabel(QString(6, QLatin1Char(' ')), frame);
        value->setFixedWidth(
            qMax(value->sizeHint().width(), value->fontMetrics().horizontalAdvance(QStringLiteral("-00.00"))
                                                + value->contentsMargins().left() + value->contentsMargins().right()
                                                + 2 * value->margin()));
        layout->addWidget(name);
        layout->addWidget(value);
        connect(m_instrument, zone.signal, value, &QLabel::setText);
        if (zone.signal == &InstrVela::temp1Changed)
            m_blink->addWidget(value);
    }
    window->statusBar()->insertPermanentWidget(0, frame);

    const QStringList texts = lastTemperatureTexts();
    for (int i = 0; i < ZoneCount; ++i)
        emit temperatureChanged(i + 1, texts.value(i));
}
