#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class InstrVela;
class ReconnectThread;
class TalkThread;

// The link to the analyzer: Linkhub started and waited for, the talk
// thread's connection to it, the serial port named, the analyzers listed and
// one chosen, its parameter block loaded and its work mode set. While the
// host wants the link (from a successful connect to its disconnect), a link
// that breaks is seen at once and brought back in the background, to the
// analyzer chosen first and without any dialog.
//
// The instrument object's connectToHost and disconnectFromHost go through
// open(), setWanted() and close(); what else they do (the placement journal,
// the reagent table, the host's state) is theirs.
class AnalyzerLink : public QObject
{
    Q_OBJECT

public:
    // Picks one of several analyzers; an empty answer cancels.
    using InstrumentChooser = std::function<QString(const QStringList& ids)>;

    // A child of the instrument. The talk thread it makes is a child of the
    // instrument too, which exchanges its commands there.
    explicit AnalyzerLink(InstrVela* instrument);
    ~AnalyzerLink() override;

    // GUI thread; blocks it. Connects as far as an analyzer selected, with
    // its parameter block and its work mode. On failure the operator is told
    // why (nothing when they cancelled the choice), the talk thread is closed
    // and false returned; the state stays disconnected throughout.
    bool open();
    // The host's connection stands: a loss from now on is reported and
    // retried.
    void setWanted();
    // The host disconnects (or the instrument goes): retries end, the talk
    // thread closes, the analyzer is forgotten.
    void close();
    // No more reconnection; the link stays as it is (the instrument's end:
    // its worker may still be exchanging).
    void stopRetrying();

    TalkThread* talkThread() const { return m_talk; }
    QByteArray selectedInstrument() const { return m_selected; }
    // True from the loss of a wanted link until it is back: nothing is asked
    // of the analyzer and no test record changes meanwhile. Any thread.
    bool isLost() const { return m_lost; }
    const std::atomic<bool>& lostFlag() const { return m_lost; }

    // The default chooser asks with a QInputDialog parented to the active
    // window; an empty function installs the default again.
    static void setInstrumentChooser(InstrumentChooser chooser);
    // Bound of the wait for Linkhub's start signal and of the retries of a
    // refused connection (VELA_LINKHUB_START_MS, default 15 000).
    static int linkhubStartTimeout();

signals:
    // GUI thread: the wanted link broke; the host's state is already
    // disconnected and the loss on its status source.
    void lost();

private:
    enum class Step { Ok, Lost, Failed, NoAnalyzer, Cancelled, NotListed };
    bool openLinkhub();
    Step selectAnalyzer(const QByteArray& wanted);
    void finishConnection();
    QString chooseInstrument(const QStringList& ids);
    void onLost();                     // talk thread
    void showLost();                   // GUI thread
    int reconnectAttempt(int attempt); // reconnect thread

    InstrVela* const m_instrument;
    TalkThread* m_talk = nullptr;
    ReconnectThread* m_reconnect = nullptr;
    QByteArray m_selected;             // analyzer chosen at connection; empty when closed
    std::atomic<bool> m_wanted{false}; // connected by the host and not disconnected
    std::atomic<bool> m_lost{false};   // lost while wanted, not yet back
    std::atomic<quint64> m_epoch{0};   // counts losses: a late "back" is void
};
