// Monitoring: the analyzer's error codes and sensor word (command 24), the
// nine zone temperatures (command 73) and their display in the status bar.

#include "instrvela.h"

#include "replyparser.h"
#include "temperaturestability.h"

#include <tqcore/blink.h>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
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

constexpr int zoneCount = 9;

} // namespace

void InstrVela::pollStatus()
{
    // A lost link has raised its own message; nothing is asked until it is back.
    if (m_linkLost)
        return;
    const QByteArray reply = m_protocol.readStatus();
    if (isErrorReply(reply))
        return;
    const ReplyParser::StatusReply status = ReplyParser::parseStatusReply(reply);
    for (int k = 0; k < status.errorCodes.size(); ++k)
        setStatusCode(status.errorCodes.at(k), firstErrorSource + k, QString());
    if (status.hasSensorWord) {
        // A set bit reports its sensor's message code, a clear one 0x10000.
        for (int i = 0; i < sensorBits; ++i)
            setStatusCode(sensorCodeBase | (status.sensorWord & (1 << i)), firstSensorSource + i, QString());
    }
}

void InstrVela::emitTemperatureText(int zone, const QString& text)
{
    switch (zone) {
    case 1: emit temp1Changed(text); break;
    case 2: emit temp2Changed(text); break;
    case 3: emit temp3Changed(text); break;
    case 4: emit temp4Changed(text); break;
    case 5: emit temp5Changed(text); break;
    case 6: emit temp6Changed(text); break;
    case 7: emit temp7Changed(text); break;
    case 8: emit temp8Changed(text); break;
    case 9: emit temp9Changed(text); break;
    default: break;
    }
}

void InstrVela::pollTemperatures()
{
    if (m_linkLost)
        return;
    const QByteArray reply = m_protocol.readTemperatures();
    if (reply.isEmpty() || isErrorReply(reply))
        return;
    const QStringList texts = ReplyParser::parseTemperatureTexts(reply);
    QList<QPair<int, QString>> announced;
    float zone1 = 0.0f;
    {
        QMutexLocker lock(&m_temperatureMutex);
        if (m_temperatures.size() < zoneCount)
            m_temperatures.resize(zoneCount);
        for (int i = 0; i < zoneCount; ++i) {
            const QString text = texts.value(i);
            bool ok = false;
            const float t = text.toFloat(&ok);
            if (!ok || !std::isfinite(t))
                continue;
            m_temperatures[i] = t;
            // The texts are compared, not the numbers: "37.00" after "37.0" is news.
            if (t > lowestShown && t < highestShown && text != m_lastTempTexts.value(i))
                announced.append({ i + 1, text });
        }
        zone1 = m_temperatures.at(0);
        m_lastTempTexts = texts;
    }
    // Announced with no lock held: a receiver may ask for the texts.
    for (const auto& zone : announced)
        emitTemperatureText(zone.first, zone.second);

    if (!m_stable && TemperatureStability::addReading(&m_tempHistory, zone1))
        setTemperatureStable(true);
}

QVector<float> InstrVela::temperatures() const
{
    QMutexLocker lock(&m_temperatureMutex);
    return m_temperatures;
}

QStringList InstrVela::lastTemperatureTexts() const
{
    QMutexLocker lock(&m_temperatureMutex);
    return m_lastTempTexts;
}

int InstrVela::temperatureHistorySize() const
{
    return int(m_tempHistory.size());
}

void InstrVela::setupStatusBar(QMainWindow* window)
{
    if (!window)
        return;
    auto* frame = new QFrame;
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);

    struct Zone {
        QString name;
        void (InstrVela::*signal)(QString);
    };
    const Zone zones[] = {
        { tr("预温区"), &InstrVela::temp1Changed },
        { tr("测试区"), &InstrVela::temp6Changed },
        { tr("制冷区"), &InstrVela::temp7Changed },
    };
    for (const Zone& zone : zones) {
        auto* name = new QLabel(zone.name, frame);
        // Six spaces as the first text; the width must also hold a reading
        // such as "-30.00", which six spaces of a proportional font do not.
        auto* value = new QLabel(QString(6, QLatin1Char(' ')), frame);
        value->setFixedWidth(qMax(value->sizeHint().width(),
                                  value->fontMetrics().horizontalAdvance(QStringLiteral("-00.00"))
                                      + value->contentsMargins().left() + value->contentsMargins().right()
                                      + 2 * value->margin()));
        layout->addWidget(name);
        layout->addWidget(value);
        connect(this, zone.signal, value, &QLabel::setText);
        if (zone.signal == &InstrVela::temp1Changed)
            m_blink->addWidget(value);
    }
    window->statusBar()->insertPermanentWidget(0, frame);

    const QStringList texts = lastTemperatureTexts();
    for (int i = 0; i < zoneCount; ++i)
        emitTemperatureText(i + 1, texts.value(i));
}
