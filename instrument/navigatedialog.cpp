#include "navigatedialog.h"
#include "ui_navigatedialog.h"

#include "probepositionpage.h"
#include "velaprotocol.h"

// The icons live in the driver's resources; the call also keeps their
// object in when the driver is linked statically.
static void initResources()
{
    Q_INIT_RESOURCE(instrvela);
}

NavigateDialog::NavigateDialog(ProbePositionPage* page)
    : QDialog(page)
    , ui(new Ui::NavigateDialog)
    , m_page(page)
{
    initResources();
    ui->setupUi(this);
}

NavigateDialog::~NavigateDialog()
{
    delete ui;
}

void NavigateDialog::moveProbe(int dx, int dy)
{
    m_page->runProbe({0x4F}, VelaProtocol::probeOffset(dx, dy));
}

void NavigateDialog::on_down_clicked()
{
    moveProbe(0, Step);
}

void NavigateDialog::on_right_clicked()
{
    moveProbe(Step, 0);
}

void NavigateDialog::on_left_clicked()
{
    moveProbe(-Step, 0);
}

void NavigateDialog::on_up_clicked()
{
    moveProbe(0, -Step);
}
