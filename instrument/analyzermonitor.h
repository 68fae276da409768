#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

class Blink;
class InstrVela;
class QMainWindow;

// Monitoring of the analyzer: its error codes and sensor word (command 24)
// go to the host's status table; the nine zone temperatures (command 73) are
// kept and each changed text is announced; the pre-warm zone (zone 1) is
// watched until it has settled, its status-bar label blinking until then.
//
// The instrument object forwards its polls and setupStatusBar here. A changed
// zone text leaves as temperatureChanged, which the instrument passes on as
// its own temp1Changed ... temp9Changed, the signals the host and the windows
// connect to.
class AnalyzerMonitor : public QObject
{
    Q_OBJECT

public:
    enum { ZoneCount = 9 };

    // A child of the instrument, in its thread; so is the blink it makes.
    explicit AnalyzerMonitor(InstrVela* instrument);

    // The polls run in the thread the host calls them from.
    void pollStatus();
    void pollTemperatures();
    // The pre-warm, test and cooling zones (1, 6, 7) in the window's status
    // bar; the latest texts are announced again so that the labels show them.
    void setupStatusBar(QMainWindow* window);

    // Zone 1 has settled: its label stops blinking. Any thread.
    void setTemperatureStable(bool stable);
    bool isTemperatureStable() const { return m_stable; }
    // The link is down: the readings are not current any more and every zone
    // shows placeholder instead.
    void forgetReadings(const QString& placeholder);

    // The last readings (zone i+1 at index i) and the texts of the last
    // reply. Any thread.
    QVector<float> temperatures() const;
    QStringList lastTemperatureTexts() const;
    // Readings of zone 1 gathered while it has not settled (at most 40).
    // The polling thread.
    int historySize() const { return int(m_history.size()); }
    const Blink* blink() const { return m_blink; }

signals:
    // zone 1 .. 9, with the text as the analyzer sent it.
    void temperatureChanged(int zone, const QString& text);

private:
    InstrVela* const m_instrument;
    Blink* const m_blink;
    std::atomic<bool> m_stable{false};
    mutable QMutex m_mutex; // the readings and texts: windows read them
    QVector<float> m_temperatures;
    QStringList m_lastTexts;
    QList<float> m_history; // the polling thread only
};
