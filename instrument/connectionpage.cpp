#include "connectionpage.h"
#include "ui_connectionpage.h"

#include "core/profile.h"
#include "core/serial.h"

#include <tqcore/instrument.h>
#include <tqcore/workbench.h>

#include <QSignalBlocker>

namespace {
const QString portKey = QStringLiteral("instrument/port");
const QString intervalKey = QStringLiteral("instrument/timeout/interval");
const QString readKey = QStringLiteral("instrument/timeout/read");
const QString writeKey = QStringLiteral("instrument/timeout/write");

void store(const QString& key, const QVariant& value)
{
    Profile::instance().setValue(key, value, true);
}
} // namespace

ConnectionPage::ConnectionPage(Instrument* instrument, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ConnectionPageClass)
    , m_instrument(instrument)
{
    ui->setupUi(this);

    // Filling the page writes nothing back to the store.
    {
        const QSignalBlocker blocker(ui->port);
        ui->port->addItems(Serial::EnumDevices());
        ui->port->setCurrentIndex(ui->port->findText(Profile::instance().value(portKey).toString(),
                                                     Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    const struct
    {
        QSpinBox* box;
        const QString& key;
        int defaultValue;
    } timeouts[] = {
        {ui->readInterval, intervalKey, DefaultReadInterval},
        {ui->readTimeout, readKey, DefaultReadTimeout},
        {ui->writeTimeout, writeKey, DefaultWriteTimeout},
    };
    for (const auto& t : timeouts) {
        const QSignalBlocker blocker(t.box);
        t.box->setValue(Profile::instance().value(t.key, t.defaultValue).toInt());
    }

    connect(ui->port, &QComboBox::currentIndexChanged, this,
            [this](int index) { on_port_currentIndexChanged(ui->port->itemText(index)); });
}

ConnectionPage::~ConnectionPage()
{
    delete ui;
}

void ConnectionPage::on_port_currentIndexChanged(const QString& port)
{
    store(portKey, port);
}

void ConnectionPage::on_readInterval_valueChanged(int t)
{
    store(intervalKey, t);
}

void ConnectionPage::on_readTimeout_valueChanged(int t)
{
    store(readKey, t);
}

void ConnectionPage::on_writeTimeout_valueChanged(int t)
{
    store(writeKey, t);
}

// Puts the three time-outs back to their defaults (each is stored through
// its box); the port stays as chosen.
void ConnectionPage::on_reset_clicked()
{
    ui->readInterval->setValue(DefaultReadInterval);
    ui->readTimeout->setValue(DefaultReadTimeout);
    ui->writeTimeout->setValue(DefaultWriteTimeout);
}

void ConnectionPage::on_reconnect_clicked()
{
    m_instrument->disconnectFromHost();
    m_instrument->connectToHost();
    if (m_instrument->isConnected() && m_instrument->workbench())
        m_instrument->workbench()->information(tr("连接成功"), QMessageBox::Ok);
}
