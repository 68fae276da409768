#include "tqcore/counterdialog.h"

#include "tqcore/tqapp.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

CounterDialog::CounterDialog(int seconds, QWidget* parent)
    : QDialog(parent)
    , m_remaining(qMax(0, seconds))
    , m_label(new QLabel(this))
    , m_timer(new QTimer(this))
{
    setWindowTitle(tr("倒计时"));
    auto* layout = new QVBoxLayout(this);
    QFont big = m_label->font();
    big.setPointSize(big.pointSize() * 3);
    m_label->setFont(big);
    m_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_label->setText(QString::number(m_remaining));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &CounterDialog::tick);
}

int CounterDialog::exec()
{
    if (TqApp::isHeadless() || m_remaining == 0) {
        setResult(QDialog::Accepted);
        return QDialog::Accepted;
    }
    m_timer->start();
    return QDialog::exec();
}

void CounterDialog::tick()
{
    m_label->setText(QString::number(--m_remaining));
    if (m_remaining <= 0) {
        m_timer->stop();
        accept();
    }
}
