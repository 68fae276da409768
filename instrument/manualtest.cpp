#include "manualtest.h"

#include "instrvela.h"
#include "manualtestthread.h"
#include "ui_manualtest.h"

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
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimerEvent>

#include <type_traits>

ManualTest::ManualTest(Workbench* workbench, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::ManualTestClass)
    , m_workbench(workbench)
    , m_instrument(qobject_cast<InstrVela*>(workbench->instrument()))
    , m_doc(workbench->analysisDoc())
{
    ui->setupUi(this);
    // The row widgets are named <column>_<channel number>, e.g. "assay_3".
    auto rowWidgets = [this](auto& list, const char* column) {
        using Widget = std::remove_pointer_t<typename std::decay_t<decltype(list)>::value_type>;
        for (int row = 1; row <= ChannelCount; ++row) {
            list.append(findChild<Widget*>(QStringLiteral("%1_%2").arg(QLatin1String(column)).arg(row)));
            Q_ASSERT(list.last());
        }
    };
    rowWidgets(m_rows.sampleNo, "sampleNo");
    rowWidgets(m_rows.assay, "assay");
    rowWidgets(m_rows.dilution, "dilution");
    rowWidgets(m_rows.method, "method");
    rowWidgets(m_rows.timer, "timer");
    rowWidgets(m_rows.start, "start");
    rowWidgets(m_rows.test, "test");
    rowWidgets(m_rows.result, "result");
    rowWidgets(m_rows.calculation, "calculation");
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
        m_rows.assay[i]->addItems(assays);
        m_rows.dilution[i]->addItems(dilutions);
        connect(m_rows.start[i], &QPushButton::clicked, this, [this, i] { onStartTimer(i); });
        connect(m_rows.test[i], &QPushButton::clicked, this, [this, i] { test(i); });
        connect(m_rows.assay[i], &QComboBox::currentIndexChanged, this, [this, i] { updateCalculation(i); });
        connect(m_rows.method[i], &QLabel::linkActivated, this, [this, i] { showMethodPopup(i); });
        // Without the driver there is nobody to run a test.
        m_rows.test[i]->setEnabled(!m_instrument.isNull());
    }
    connect(ui->buttonBox->button(QDialogButtonBox::Save), &QPushButton::clicked, this, &ManualTest::save);
    connect(ui->buttonBox->button(QDialogButtonBox::Reset), &QPushButton::clicked, this, &ManualTest::reset);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const bool withMethods = !m_methods.isEmpty();
    for (int i = 0; i < ChannelCount; ++i) {
        setMethod(i, m_methods.value(0));
        m_rows.method[i]->setVisible(withMethods);
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
        c.countdownStart = m_rows.timer[i]->value();
        m_rows.start[i]->setText(tr("停止计时"));
        if (m_tickTimer == 0)
            m_tickTimer = startTimer(1000, Qt::PreciseTimer);
    } else {
        m_rows.start[i]->setText(tr("开始计时"));
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
        m_rows.timer[i]->setValue(remaining);
        if (remaining < 1) {
            m_rows.start[i]->setText(tr("开始计时"));
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

    const QString assayText = m_rows.assay[i]->currentText();
    const QByteArray code = assayText.size() < 2 ? QByteArray("PT") : assayText.left(2).toUpper().toLatin1();
    const int factor = InstrVela::dilutionFactor(eval(m_rows.dilution[i]->currentText()).toDouble());
    const int channel = i + 1;

    QByteArray reply = m_instrument->protocol().setUpManualTest(channel, c.testId, code, factor, c.method);
    if (isFailure(reply)) {
        m_workbench->information(tr("手动测试切换失败\n%1").arg(m_instrument->lastError()), QMessageBox::Ok,
                                 QMessageBox::NoButton);
        return false;
    }

    CounterDialog counter(ui->countDown->value(), this);
    if (counter.exec() != QDialog::Accepted)
        return false;

    repaint();
    reply = m_instrument->protocol().startManualTest(channel);
    if (isFailure(reply)) {
        m_workbench->information(tr("发送测试指令失败\n%1").arg(m_instrument->lastError()), QMessageBox::Ok,
                                 QMessageBox::NoButton);
        return false;
    }

    m_rows.test[i]->setText(tr("取消"));
    m_rows.test[i]->setEnabled(false);
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
    m_rows.test[i]->setText(tr("开始"));
    m_rows.test[i]->setEnabled(true);
    // The channel is no longer polled, so no result of the cancelled test
    // can arrive later as the channel's result.
    m_thread->removeTest(i);
    if (m_instrument)
        m_instrument->cancelTest(c.testId);
    if (c.countdownStart != 0)
        m_rows.timer[i]->setValue(c.countdownStart);
}

void ManualTest::clearResult(int i)
{
    Channel& c = m_channels[i];
    c.hasResult = false;
    c.result = AnalysisResult();
    m_rows.result[i]->setText(noResultText());
    m_rows.calculation[i]->clear();
}

// Channels whose results would be saved into one sample and assay. Every
// channel opens with the same sample number and the assays repeat after the
// end of the list, so two channels easily meet; saving both would keep only
// the later result, and the next Save would swap them again.
QString ManualTest::saveClash() const
{
    QMap<QPair<int, QString>, QList<int>> targets;
    for (int i = 0; i < ChannelCount; ++i) {
        const QString assayText = m_rows.assay[i]->currentText();
        if (m_channels[i].hasResult && !assayText.isEmpty())
            targets[qMakePair(m_rows.sampleNo[i]->value(), assayText)].append(i + 1);
    }
    QStringList clashes;
    for (auto it = targets.cbegin(); it != targets.cend(); ++it) {
        if (it.value().size() < 2)
            continue;
        QStringList channels;
        for (int channel : it.value())
            channels.append(QString::number(channel));
        clashes.append(tr("通道 %1: 样本 %2, %3")
                           .arg(channels.join(QStringLiteral(", ")))
                           .arg(it.key().first)
                           .arg(it.key().second));
    }
    return clashes.join(QLatin1Char('\n'));
}

void ManualTest::save()
{
    const QString clash = saveClash();
    if (!clash.isEmpty()) {
        m_workbench->information(
            tr("以下通道的结果属于同一样本的同一项目, 未保存:\n%1\n请更改样本号后再保存。").arg(clash), QMessageBox::Ok,
            QMessageBox::NoButton);
        return;
    }
    for (int i = 0; i < ChannelCount; ++i) {
        const Channel& c = m_channels[i];
        const QString assayText = m_rows.assay[i]->currentText();
        // A result without an assay name would be stored under no item.
        if (!c.hasResult || assayText.isEmpty())
            continue;
        Sample* sample = m_doc->addSample(QString::number(m_rows.sampleNo[i]->value()));
        Assay* task = sample->task(assayText);
        if (!task)
            task = sample->add(assayText, 1);

        const QString dilutionText = m_rows.dilution[i]->currentText();
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
        m_rows.sampleNo[i]->setValue(m_doc->nextSampleId(tq::RoutineSample));

        QComboBox* assay = m_rows.assay[i];
        if (assay->count() > 0)
            assay->setCurrentIndex(i % assay->count());
        QComboBox* dilution = m_rows.dilution[i];
        int index = 0;
        if (!assay->currentText().isEmpty()) {
            const QString preset = profile.value(QStringLiteral("%1/dilution").arg(assay->currentText())).toString();
            index = qMax(0, dilution->findText(preset, Qt::MatchExactly | Qt::MatchCaseSensitive));
        }
        dilution->setCurrentIndex(index);

        m_rows.result[i]->setText(noResultText());
        m_rows.calculation[i]->clear();
        if (m_channels[i].countdownStart != 0)
            m_rows.timer[i]->setValue(m_channels[i].countdownStart);
    }
}

void ManualTest::setResult(int i, AnalysisResult r)
{
    Channel& c = m_channels[i];
    if (!c.testing)
        return; // the test was cancelled while its result was on the way
    c.hasResult = true;
    c.result = r;
    m_rows.result[i]->setText(r.toString(AnalysisResult::Decorated, 'g', 4));
    m_rows.calculation[i]->clear();
    updateCalculation(i);
}

void ManualTest::updateCalculation(int i)
{
    const QString assayText = m_rows.assay[i]->currentText();
    if (assayText.isEmpty() || !m_channels[i].hasResult) {
        m_rows.calculation[i]->clear();
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
    m_rows.calculation[i]->setText(pieces.join(QStringLiteral(", ")));
}

// Method names are the host's data ("磁珠法" selects the bead method letter);
// the label and the menu show them in the interface language.
QString ManualTest::methodText(const QString& method)
{
    static const char* const knownMethods[] = {QT_TR_NOOP("光学法"), QT_TR_NOOP("磁珠法")};
    Q_UNUSED(knownMethods);
    return tr(method.toUtf8().constData());
}

void ManualTest::setMethod(int i, QString method)
{
    m_channels[i].method = method;
    m_rows.method[i]->setText(QStringLiteral("<a href=#>%1</a>").arg(methodText(method).toHtmlEscaped()));
}

void ManualTest::showMethodPopup(int i)
{
    QLabel* label = m_rows.method[i];
    QMenu menu(this);
    for (const QString& m : std::as_const(m_methods))
        menu.addAction(methodText(m))->setData(m);
    if (const QAction* chosen = menu.exec(label->mapToGlobal(label->rect().topRight())))
        setMethod(i, chosen->data().toString());
}
