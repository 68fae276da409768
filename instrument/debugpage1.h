#pragma once

#include <QWidget>

class Instrument;
class InstrVela;

namespace Ui {
class DebugPage1;
}

// Options page for the analyzer's work mode (normal work or simulation) and
// the calibration of the test area's background light. The mode is kept in
// the host's temporary value "debug/sim", which the driver reads again when
// it connects; the analyzer's replies are not examined.
class DebugPage1 : public QWidget
{
    Q_OBJECT

public:
    // instrument must be the driver's InstrVela object.
    DebugPage1(Instrument* instrument, QWidget* parent);
    ~DebugPage1() override;

private slots:
    void on_adjustLed_clicked();
    void on_normalMode_clicked();
    void on_simMode_clicked();

private:
    void setSimulation(bool on);

    Ui::DebugPage1* ui;
    InstrVela* m_instrument;
};
