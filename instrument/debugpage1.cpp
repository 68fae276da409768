#include "debugpage1.h"
#include "ui_debugpage1.h"

#include "instrvela.h"

#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>

namespace {
const QString simKey = QStringLiteral("debug/sim");
}

DebugPage1::DebugPage1(Instrument* instrument, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::DebugPage1)
    , m_instrument(qobject_cast<InstrVela*>(instrument))
{
    Q_ASSERT(m_instrument);
    ui->setupUi(this);
    if (TqApp::tmpValue(simKey).toBool())
        ui->simMode->setChecked(true);
    else
        ui->normalMode->setChecked(true);
}

DebugPage1::~DebugPage1()
{
    delete ui;
}

void DebugPage1::on_adjustLed_clicked()
{
    m_instrument->protocol().calibrateLight();
}

void DebugPage1::on_normalMode_clicked()
{
    setSimulation(false);
}

void DebugPage1::on_simMode_clicked()
{
    setSimulation(true);
}

// FB0 switches the analyzer to simulation, FB1 back to normal work.
void DebugPage1::setSimulation(bool on)
{
    m_instrument->protocol().setWorkMode(on);
    if (Workbench* workbench = m_instrument->workbench())
        workbench->setTmpValue(simKey, on);
    else
        TqApp::setTmpValue(simKey, on);
}
