#pragma once

#include <QByteArray>
#include <QList>
#include <QWidget>

class Instrument;
class InstrVela;
class QProgressDialog;
class QToolButton;

namespace Ui {
class ProbePositionPage;
}

// Service page for the dispense probes: teaching and checking the probe
// positions, the dispensed-volume measurement, washing a probe, the target
// temperatures of the thermostatted zones with the nine live temperatures,
// the ten test wells and saving the instrument parameters.
//
// Everything runs in the GUI thread. A probe run waits for each command's
// reply and then polls the analyzer until the step is done, processing
// events between polls behind a progress dialog whose Cancel ends the wait.
class ProbePositionPage : public QWidget
{
    Q_OBJECT

public:
    // instrument must be the driver's InstrVela object.
    ProbePositionPage(Instrument* instrument, QWidget* parent);
    ~ProbePositionPage() override;

    // Sends one command per probe position code, each followed by the arm
    // and probe digits chosen on the page and the suffix printed from format
    // (at most 31 characters; none when format is null), and waits for each
    // step to finish. Everything but a single 4F or 50 asks for the
    // operator's confirmation first; declining sends nothing and returns
    // true. False when a command got no reply or an error reply (reported
    // in a box unless the page is silent) or when the completion poll gave
    // up (link lost, or error replies).
    bool runProbe(const QList<int>& codes, const char* format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(3, 4);
    // The same with the suffix built already (VelaProtocol::probeOffset, ...).
    bool runProbe(const QList<int>& codes, const QByteArray& suffix);
    bool runProbe(int code);

    // Polls "<code><arm>" until the reply starts "<code>00" (true, with a
    // sound), pausing pollPauseMs between polls with events processed.
    // Cancelling the progress dialog ends the wait with true; busy replies
    // ask again. The poll gives up with false after maxEmptyPolls empty
    // replies in a row (the talk thread answers at once, with nothing, once
    // the link has gone) or maxErrorPolls error replies in a row.
    bool waitForDone(int pollCode, QProgressDialog* progress = nullptr);

    // While silent, probe runs show no message boxes. Returns the previous
    // setting.
    bool setSilent(bool silent);

    static constexpr int maxEmptyPolls = 20;
    static constexpr int maxErrorPolls = 5;
    static constexpr int pollPauseMs = 40;

private slots:
    void on_probeFirstPos_clicked();
    void on_probeAll_clicked();
    void on_probePart_clicked();
    void on_pushButton_8_clicked();
    void on_pushButton_12_clicked();
    void on_setTemp_clicked();
    void on_readTemp_clicked();
    void on_saveParam_clicked();

private:
    // Reached from the well buttons through explicit connections (there is
    // no object "enableWell" for the name-based ones).
    void on_enableWell_clicked(int i);
    QToolButton* wellButton(int i) const;
    void updateWellButton(int i);
    enum class RunOutcome { Done, Declined, Cancelled, Failed };
    enum class PollOutcome { Done, Cancelled, LinkLost, ErrorReplies };
    RunOutcome runSteps(const QList<int>& codes, const QByteArray& suffix);
    PollOutcome pollUntilDone(int pollCode, QProgressDialog* progress);
    static void pauseBetweenPolls();
    char armDigit() const;
    char probeDigit() const;
    static QString lostLinkText();
    void reportLostLink();
    void reportLastError();

    Ui::ProbePositionPage* ui;
    InstrVela* m_instrument;
    bool m_silent = false;
};
