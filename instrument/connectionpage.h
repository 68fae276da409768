#pragma once

#include <QString>
#include <QWidget>

class Instrument;

namespace Ui {
class ConnectionPageClass;
}

// Options page of the link to the analyzer: the serial port Linkhub opens
// and the three time-outs of that port, kept in the settings store
// ("instrument/port", "instrument/timeout/interval", ".../read",
// ".../write"), each stored as soon as its widget changes. Linkhub reads the
// time-outs from the store's database when it starts; the port is named to
// it at the next connection. Reconnecting is offered here.
class ConnectionPage : public QWidget
{
    Q_OBJECT

public:
    ConnectionPage(Instrument* instrument, QWidget* parent);
    ~ConnectionPage() override;

    // Time-outs used when none is stored (milliseconds).
    enum { DefaultReadInterval = 50, DefaultReadTimeout = 300, DefaultWriteTimeout = 100 };

private slots:
    void on_writeTimeout_valueChanged(int t);
    void on_readTimeout_valueChanged(int t);
    void on_readInterval_valueChanged(int t);
    void on_reset_clicked();
    void on_reconnect_clicked();

private:
    // Connected to the combo box's currentIndexChanged(int) by hand: Qt 6
    // has no currentIndexChanged(QString) for the name-based connection.
    void on_port_currentIndexChanged(const QString& port);

    Ui::ConnectionPageClass* ui;
    Instrument* m_instrument;
};
