#include "manualtest.h"

#include "instrvela.h"
#include "manualtestthread.h"

#include "core/profile.h"
#include "core/tqglobal.h"

#include <tqcore/analysisdoc.h>
#include <tqcore/assaytemplate.h>
#include <tqcore/counterdialog.h>
#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <limits>

// The form: a header row, one row per channel and a bottom row with the
// date, the test countdown and the buttons. Row widgets are named
// <column>_<channel number>, e.g. "assay_3".
namespace Ui {
class ManualTestClass
{
public:
    enum Column { ChannelCol, SampleNoCol, AssayCol, DilutionCol, MethodCol, TimerCol, StartCol,
                  TestCol, ResultCol, CalculationCol };

    QList<QSpinBox*> sampleNo;
    QList<QComboBox*> assay;
    QList<QComboBox*> dilution;
    QList<QLabel*> method;
    QList<QSpinBox*> timer;
    QList<QPushButton*> start;
    QList<QPushButton*> test;
    QList<QLabel*> result;
    QList<QLabel*> calculation;
    QLabel* methodTitle = nullptr;
    QDateEdit* date = nullptr;
    QSpinBox* countDown = nullptr;
    QDialogButtonBox* buttonBox = nullptr;

    void setupUi(QDialog* dialog, int rows)
    {
        dialog->setObjectName(QStringLiteral("ManualTestClass"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->resize(813, 376);
        auto* outer = new QVBoxLayout(dialog);
        auto* grid = new QGridLayout;
        outer->addLayout(grid);

        grid->addWidget(header("通道号"), 0, ChannelCol);
        grid->addWidget(header("样本号"), 0, SampleNoCol);
        grid->addWidget(header("测试项目"), 0, AssayCol);
        grid->addWidget(header("稀释比例"), 0, DilutionCol);
        methodTitle = header("测试方法");
        methodTitle->setObjectName(QStringLiteral("methodTitle"));
        grid->addWidget(methodTitle, 0, MethodCol);
        grid->addWidget(header("预温"), 0, TimerCol);
        grid->addWidget(header("测试"), 0, TestCol);
        grid->addWidget(header("结果"), 0, ResultCol);

        for (int i = 0; i < rows; ++i) {
            const int row = i + 1;
            auto named = [row](QWidget* w, const char* column) {
                w->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(column)).arg(row));
                return w;
            };
            grid->addWidget(new QLabel(QString::number(row)), row, ChannelCol);

            auto* number = new QSpinBox;
            number->setRange(1, std::numeric_limits<int>::max());
            sampleNo.append(number);
            grid->addWidget(named(number, "sampleNo"), row, SampleNoCol);

            assay.append(new QComboBox);
            grid->addWidget(named(assay.last(), "assay"), row, AssayCol);
            dilution.append(new QComboBox);
            grid->addWidget(named(dilution.last(), "dilution"), row, DilutionCol);

            auto* methodLabel = new QLabel(text("光学法"));
            methodLabel->setTextFormat(Qt::RichText);
            methodLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
            method.append(methodLabel);
            grid->addWidget(named(methodLabel, "method"), row, MethodCol);

            auto* seconds = new QSpinBox;
            seconds->setRange(0, 3600);
            seconds->setSingleStep(10);
            seconds->setValue(300);
            seconds->setSuffix(QStringLiteral("s"));
            timer.append(seconds);
            grid->addWidget(named(seconds, "timer"), row, TimerCol);

            start.append(new QPushButton(text("开始计时")));
            grid->addWidget(named(start.last(), "start"), row, StartCol);
            test.append(new QPushButton(text("开始")));
            grid->addWidget(named(test.last(), "test"), row, TestCol);

            result.append(new QLabel(text("---.-")));
            grid->addWidget(named(result.last(), "result"), row, ResultCol);
            calculation.append(new QLabel);
            grid->addWidget(named(calculation.last(), "calculation"), row, CalculationCol);
        }
        grid->setColumnStretch(CalculationCol, 1);

        auto* bottom = new QHBoxLayout;
        outer->addLayout(bottom);
        bottom->addWidget(new QLabel(text("日期")));
        date = new QDateEdit;
        date->setObjectName(QStringLiteral("date"));
        date->setCalendarPopup(true);
        bottom->addWidget(date);
        bottom->addWidget(new QLabel(text("测试倒计时")));
        countDown = new QSpinBox;
        countDown->setObjectName(QStringLiteral("countDown"));
        countDown->setRange(5, 60);
        countDown->setValue(10);
        countDown->setSuffix(text("秒"));
        bottom->addWidget(countDown);
        bottom->addStretch();
        buttonBox = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Close
                                         | QDialogButtonBox::Reset);
        buttonBox->setObjectName(QStringLiteral("buttonBox"));
        buttonBox->setCenterButtons(false);
        bottom->addWidget(buttonBox);

        dialog->setWindowTitle(text("手动测试"));
    }

private:
    static QString text(const char* source)
    {
        return QCoreApplication::translate("ManualTestClass", source);
    }
    static QLabel* header(const char* source)
    {
        return new QLabel(text(source));
    }
};
} // namespace Ui

ManualTest::ManualTest(Workbench* workbench, QWidget* parent)
    : QDialog(parent),
      ui(new Ui::ManualTestClass),
      m_workbench(workbench),
      m_instrument(qobject_cast<InstrVela*>(workbench->instrument())),
      m_doc(workbench->analysisDoc())
{
    ui->setupUi(this, ChannelCount);
    ui->date->setDate(QDate::currentDate());
    m_methods = workbench->instrInfo().value(QStringLiteral("method")).toStringList();

    QStringList assays;
    const Profile& profile = Profile::instance();
    if (AssayTemplateManager* manager = workbench->assayManager()) {
        for (const AssayTemplate* t : manager->assay()) {
            if (!profile.value(QStringLiteral("%1/disable").arg(t->name()), false).toBool())
                assays.append(t->name());
        }
    }
    const QStringList dilutions = dilutionList();

    for (int i = 0; i < ChannelCount; ++i) {
        ui->assay[i]->addItems(assays);
        ui->dilution[i]->addItems(dilutions);
        connect(ui->start[i], &QPushButton::clicked, this, [this, i] { onStartTimer(i); });
        connect(ui->test[i], &QPushButton::clicked, this, [this, i] { test(i); });
        connect(ui->assay[i], &QComboBox::currentIndexChanged, this, [this, i] { updateCalculation(i); });
        connect(ui->method[i], &QLabel::linkActivated, this, [this, i] { showMethodPopup(i); });
        // Without the driver there is nobody to run a test.
        ui->test[i]->setEnabled(!m_instrument.isNull());
    }
    connect(ui->buttonBox->button(QDialogButtonBox::Save), &QPushButton::clicked, this, &ManualTest::save);
    connect(ui->buttonBox->button(QDialogButtonBox::Reset), &QPushButton::clicked, this, &ManualTest::reset);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const bool withMethods = !m_methods.isEmpty();
    for (int i = 0; i < ChannelCount; ++i) {
        setMethod(i, m_methods.value(0));
        ui->method[i]->setVisible(withMethods);
    }
    ui->methodTitle->setVisible(withMethods);

    m_thread = new ManualTestThread(this);
    reset();
}

ManualTest::~ManualTest()
{
    WaitCursor busy;
    delete m_thread;
}

QString ManualTest::noResultText()
{
    return Profile::instance().result_can_not_be_calculated(tr("---.-"));
}

void ManualTest::onStartTimer(int i)
{
    Channel& c = m_channels[i];
    c.counting = !c.counting;
    if (c.counting) {
        c.elapsed.start();
        c.countdownStart = ui->timer[i]->value();
        ui->start[i]->setText(tr("停止计时"));
        if (m_tickTimer == 0)
            m_tickTimer = startTimer(1000, Qt::PreciseTimer);
    } else {
        ui->start[i]->setText(tr("开始计时"));
        if (!anyCountdownRunning())
            stopTickTimer();
    }
}

void ManualTest::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_tickTimer || m_tickTimer == 0) {
        QDialog::timerEvent(event);
        return;
    }
    for (int i = 0; i < ChannelCount; ++i) {
        Channel& c = m_channels[i];
        if (!c.counting)
            continue;
        const int remaining = qMax(0, c.countdownStart - int(c.elapsed.elapsed() / 1000));
        ui->timer[i]->setValue(remaining);
        if (remaining < 1) {
            ui->start[i]->setText(tr("开始计时"));
            c.counting = false;
            // Channels 1-5 beep low, 6-10 high; the count of beeps tells the channel in its group.
            TqApp::playSound(1000 * (i / 5), 80, 40, i % 5 + 1);
        }
    }
    if (!anyCountdownRunning())
        stopTickTimer();
}

bool ManualTest::anyCountdownRunning() const
{
    for (const Channel& c : m_channels) {
        if (c.counting)
            return true;
    }
    return false;
}

void ManualTest::stopTickTimer()
{
    if (m_tickTimer != 0)
        killTimer(m_tickTimer);
    m_tickTimer = 0;
}

void ManualTest::test(int i)
{
    Channel& c = m_channels[i];
    c.testing = !c.testing;
    if (c.testing) {
        if (!startTest(i)) {
            c.testing = false;
            return;
        }
    } else {
        cancelTest(i);
    }
    clearResult(i);
}

// 5E sets the test up on the channel: channel (1 hex digit, 10 is A), test
// id (8 hex), sample position "B1", item code (2), dilution factor (2 hex),
// method letter (C bead, L optical). 5F then starts it once the operator's
// countdown has run.
bool ManualTest::startTest(int i)
{
    Channel& c = m_channels[i];
    if (!m_instrument)
        return false;
    c.testId = m_instrument->nextTestId();

    const QString assayText = ui->assay[i]->currentText();
    const QByteArray code = assayText.size() < 2 ? QByteArray("PT") : assayText.left(2).toUpper().toLatin1();
    const int factor = InstrVela::dilutionFactor(eval(ui->dilution[i]->currentText()).toDouble());
    const char letter = c.method == QStringLiteral("磁珠法") ? 'C' : 'L'; // magnetic bead
    const unsigned channel = unsigned(i + 1);

    QByteArray reply = m_instrument->sendCommand("5E%X%08X%s%s%02hX%c", channel, c.testId, "B1",
                                                 code.constData(), ushort(factor & 0xFF), letter);
    if (isFailure(reply)) {
        m_workbench->information(tr("手动测试切换失败\n%1").arg(m_instrument->lastError()),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        return false;
    }

    CounterDialog counter(ui->countDown->value(), this);
    if (counter.exec() != QDialog::Accepted)
        return false;

    repaint();
    reply = m_instrument->sendCommand("5F%X", channel);
    if (isFailure(reply)) {
        m_workbench->information(tr("发送测试指令失败\n%1").arg(m_instrument->lastError()),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        return false;
    }

    ui->test[i]->setText(tr("取消"));
    ui->test[i]->setEnabled(false);
    m_thread->addTest(i);
    return true;
}

// An error reply, or none at all (the link is down): either way the
// analyzer has not taken the command.
bool ManualTest::isFailure(const QByteArray& reply)
{
    if (reply.isEmpty()) {
        m_instrument->setLastError(tr("没有回应"));
        return true;
    }
    return m_instrument->isErrorReply(reply);
}

void ManualTest::cancelTest(int i)
{
    Channel& c = m_channels[i];
    ui->test[i]->setText(tr("开始"));
    ui->test[i]->setEnabled(true);
    // The channel is no longer polled, so no result of the cancelled test
    // can arrive later as the channel's result.
    m_thread->removeTest(i);
    if (m_instrument)
        m_instrument->cancelTest(c.testId);
    if (c.countdownStart != 0)
        ui->timer[i]->setValue(c.countdownStart);
}

void ManualTest::clearResult(int i)
{
    Channel& c = m_channels[i];
    c.hasResult = false;
    c.result = AnalysisResult();
    ui->result[i]->setText(noResultText());
    ui->calculation[i]->clear();
}

void ManualTest::save()
{
    for (int i = 0; i < ChannelCount; ++i) {
        const Channel& c = m_channels[i];
        const QString assayText = ui->assay[i]->currentText();
        // A result without an assay name would be stored under no item.
        if (!c.hasResult || assayText.isEmpty())
            continue;
        Sample* sample = m_doc->addSample(QString::number(ui->sampleNo[i]->value()));
        Assay* task = sample->task(assayText);
        if (!task)
            task = sample->add(assayText, 1);

        const QString dilutionText = ui->dilution[i]->currentText();
        const double d = eval(dilutionText).toDouble();
        if (task->result().isCopyOf(c.result) && task->dilution() == d)
            continue; // saved before, unchanged
        task->setDilution(dilutionText);
        task->setStatus(tq::Waiting);
        task->setResult(c.result);
        task->setStatus(tq::Finished);
    }
}

void ManualTest::reset()
{
    const Profile& profile = Profile::instance();
    for (int i = 0; i < ChannelCount; ++i) {
        if (m_channels[i].testing)
            test(i);
        // No sample is made here: every channel is offered the same number.
        ui->sampleNo[i]->setValue(m_doc->nextSampleId(tq::RoutineSample));

        QComboBox* assay = ui->assay[i];
        if (assay->count() > 0)
            assay->setCurrentIndex(i % assay->count());
        QComboBox* dilution = ui->dilution[i];
        int index = 0;
        if (!assay->currentText().isEmpty()) {
            const QString preset = profile.value(QStringLiteral("%1/dilution").arg(assay->currentText())).toString();
            index = qMax(0, dilution->findText(preset, Qt::MatchExactly | Qt::MatchCaseSensitive));
        }
        dilution->setCurrentIndex(index);

        ui->result[i]->setText(noResultText());
        ui->calculation[i]->clear();
        if (m_channels[i].countdownStart != 0)
            ui->timer[i]->setValue(m_channels[i].countdownStart);
    }
}

void ManualTest::setResult(int i, AnalysisResult r)
{
    Channel& c = m_channels[i];
    if (!c.testing)
        return; // the test was cancelled while its result was on the way
    c.hasResult = true;
    c.result = r;
    ui->result[i]->setText(r.toString(AnalysisResult::Decorated, 'g', 4));
    ui->calculation[i]->clear();
    updateCalculation(i);
}

void ManualTest::updateCalculation(int i)
{
    const QString assayText = ui->assay[i]->currentText();
    if (assayText.isEmpty() || !m_channels[i].hasResult) {
        ui->calculation[i]->clear();
        return;
    }
    AnalysisTask task(m_workbench, nullptr);
    task.setAssay(assayText);
    task.setResult(m_channels[i].result);
    task.calcResults(true);

    QStringList pieces;
    AssayTemplateManager* manager = m_workbench->assayManager();
    const QMap<QString, AnalysisResult> results = task.results();
    for (auto it = results.cbegin(); it != results.cend(); ++it) {
        if (const AssayItem* item = manager ? manager->findAssayItem(it.key(), nullptr) : nullptr)
            pieces.append(QStringLiteral("%1: %2").arg(item->friendlyName(),
                                                       it.value().toString(AnalysisResult::Decorated, 'g', 4)));
    }
    ui->calculation[i]->setText(pieces.join(QStringLiteral(", ")));
}

void ManualTest::setMethod(int i, QString method)
{
    m_channels[i].method = method;
    ui->method[i]->setText(QStringLiteral("<a href=#>%1</a>").arg(method));
}

void ManualTest::showMethodPopup(int i)
{
    QLabel* label = ui->method[i];
    QMenu menu(this);
    for (const QString& m : std::as_const(m_methods))
        menu.addAction(m);
    if (const QAction* chosen = menu.exec(label->mapToGlobal(label->rect().topRight())))
        setMethod(i, chosen->text());
}
