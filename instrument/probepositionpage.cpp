#include "probepositionpage.h"
#include "ui_probepositionpage.h"

#include "instrvela.h"
#include "navigatedialog.h"
#include "replyparser.h"

#include "core/tqglobal.h"

#include <tqcore/tqapp.h>

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <cstdarg>

namespace {

// Probe position codes (the first two hexadecimal digits of a probe command).
enum ProbeCode {
    TestWells = 0x40,
    TubeRack = 0x41,
    WashPosition = 0x42,
    ReagentPositions = 0x43,
    TapePosition = 0x44,
    WasteBin = 0x46,
    AllPositions = 0x49,
    DispenseVolume = 0x4B,
    FirstPosition = 0x4E,
    MoveBy = 0x4F,
    TakeFirstPosition = 0x50,
    WashProbe = 0x51,
};

// Completion poll of a probe step; 0: the step is not waited for.
int pollCodeOf(int code)
{
    if (code == AllPositions)
        return 0x54;
    if (code == FirstPosition || code == TakeFirstPosition)
        return 0x53;
    if (code == MoveBy)
        return 0;
    return 0x55;
}

} // namespace

ProbePositionPage::ProbePositionPage(Instrument* instrument, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::ProbePositionPage)
    , m_instrument(qobject_cast<InstrVela*>(instrument))
{
    Q_ASSERT(m_instrument);
    ui->setupUi(this);

    QLineEdit* const displays[] = {ui->temperature_1, ui->temperature_2, ui->temperature_3,
                                   ui->temperature_4, ui->temperature_5, ui->temperature_6,
                                   ui->temperature_7, ui->temperature_8, ui->temperature_9};
    void (InstrVela::*const changed[])(QString) = {
        &InstrVela::temp1Changed, &InstrVela::temp2Changed, &InstrVela::temp3Changed,
        &InstrVela::temp4Changed, &InstrVela::temp5Changed, &InstrVela::temp6Changed,
        &InstrVela::temp7Changed, &InstrVela::temp8Changed, &InstrVela::temp9Changed,
    };
    const QStringList texts = m_instrument->lastTemperatureTexts();
    for (int i = 0; i < 9; ++i) {
        connect(m_instrument, changed[i], displays[i], &QLineEdit::setText);
        displays[i]->setText(texts.value(i));
    }

    for (int i = 0; i < InstrVela::ChannelCount; ++i) {
        connect(wellButton(i), &QToolButton::clicked, this, [this, i] { on_enableWell_clicked(i); });
        updateWellButton(i);
    }
}

ProbePositionPage::~ProbePositionPage()
{
    delete ui;
}

bool ProbePositionPage::setSilent(bool silent)
{
    const bool previous = m_silent;
    m_silent = silent;
    return previous;
}

char ProbePositionPage::armDigit() const
{
    return ui->dispenseArm_1->isChecked() ? '1' : '2';
}

char ProbePositionPage::probeDigit() const
{
    return ui->probe_3->isChecked() ? '3' : '4';
}

bool ProbePositionPage::runProbe(int code)
{
    return runProbe(QList<int>{code}, QByteArray());
}

bool ProbePositionPage::runProbe(const QList<int>& codes, const char* format, ...)
{
    QByteArray suffix;
    if (format) {
        va_list args;
        va_start(args, format);
        suffix = VelaProtocol::probeSuffix(format, args);
        va_end(args);
    }
    return runProbe(codes, suffix);
}

bool ProbePositionPage::runProbe(const QList<int>& codes, const QByteArray& suffix)
{
    return runSteps(codes, suffix) != RunOutcome::Failed;
}

ProbePositionPage::RunOutcome ProbePositionPage::runSteps(const QList<int>& codes, const QByteArray& suffix)
{
    if (codes.isEmpty())
        return RunOutcome::Done;
    // Moving by an offset and taking the adjusted first position happen
    // while the operator guides the probe: no confirmation then.
    const bool guided = codes.size() == 1 && (codes.first() == MoveBy || codes.first() == TakeFirstPosition);
    if (!guided) {
        const QMessageBox::StandardButton answer = warning(
            tr("<font size=24 mm "
               "color=red><p>警告</p><p>请确认已经移除所有的</p><p>试剂瓶、试管、测试杯</p><p>然后继续</p></font>"),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton);
        if (answer == QMessageBox::Cancel)
            return RunOutcome::Declined;
    }

    QProgressDialog progress(window());
    progress.setLabelText(tr("正在执行, 请稍候..."));
    progress.setRange(0, 100);
    progress.setAutoReset(false);
    // Shown, window-modal, from the first busy poll on: events are processed
    // while the run waits, and neither a second run started from the page
    // (their polls would mix) nor closing the window under the waiting page
    // may come in between.
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);

    const char arm = armDigit();
    const char probe = probeDigit();
    for (int code : codes) {
        const QByteArray reply = m_instrument->protocol().probeStep(code, arm, probe, suffix);
        if (reply.isEmpty()) {
            reportLostLink();
            return RunOutcome::Failed;
        }
        if (m_instrument->isErrorReply(reply)) {
            reportLastError();
            return RunOutcome::Failed;
        }
        const int poll = pollCodeOf(code);
        if (poll) {
            switch (pollUntilDone(poll, &progress)) {
            case PollOutcome::Done: break;
            case PollOutcome::Cancelled: return RunOutcome::Cancelled;
            case PollOutcome::ErrorReplies: reportLastError(); return RunOutcome::Failed;
            case PollOutcome::LinkLost: reportLostLink(); return RunOutcome::Failed;
            }
        }
        if (progress.wasCanceled())
            return RunOutcome::Cancelled;
    }
    return RunOutcome::Done;
}

QString ProbePositionPage::lostLinkText()
{
    return tr("发现未知错误，可能仪器已经断开。");
}

void ProbePositionPage::reportLostLink()
{
    if (!m_silent)
        information(lostLinkText(), QMessageBox::Ok);
}

void ProbePositionPage::reportLastError()
{
    if (!m_silent)
        information(m_instrument->lastError(), QMessageBox::Ok);
}

bool ProbePositionPage::waitForDone(int pollCode, QProgressDialog* progress)
{
    const PollOutcome outcome = pollUntilDone(pollCode, progress);
    return outcome == PollOutcome::Done || outcome == PollOutcome::Cancelled;
}

ProbePositionPage::PollOutcome ProbePositionPage::pollUntilDone(int pollCode, QProgressDialog* progress)
{
    const char arm = armDigit();
    int emptyReplies = 0;
    int errorReplies = 0;
    for (;;) {
        const QByteArray reply = m_instrument->protocol().pollProbe(pollCode, arm);
        if (VelaProtocol::isProbeDone(reply, pollCode)) {
            TqApp::playSound(800, 200);
            return PollOutcome::Done;
        }
        emptyReplies = reply.isEmpty() ? emptyReplies + 1 : 0;
        if (emptyReplies >= maxEmptyPolls)
            return PollOutcome::LinkLost;
        errorReplies = m_instrument->isErrorReply(reply) ? errorReplies + 1 : 0;
        if (errorReplies >= maxErrorPolls)
            return PollOutcome::ErrorReplies;
        if (progress)
            progress->setValue((progress->value() + 1) % 100);
        pauseBetweenPolls();
        if (progress && progress->wasCanceled())
            return PollOutcome::Cancelled;
    }
}

// Waits pollPauseMs with events processed, so that the window repaints and
// the progress dialog's Cancel is seen while the analyzer works.
void ProbePositionPage::pauseBetweenPolls()
{
    QEventLoop pause;
    QTimer::singleShot(pollPauseMs, &pause, &QEventLoop::quit);
    pause.exec();
}

// The adjustment dialog and the take-position command only follow a probe
// that did reach the first position: a declined warning, a failed or
// unanswered 4E, or a cancelled wait for it ends the teaching there.
void ProbePositionPage::on_probeFirstPos_clicked()
{
    if (runSteps({FirstPosition}, QByteArray()) != RunOutcome::Done)
        return;
    {
        const bool wasSilent = setSilent(true);
        NavigateDialog dialog(this);
        dialog.exec();
        setSilent(wasSilent);
    }
    runProbe(TakeFirstPosition);
}

void ProbePositionPage::on_probeAll_clicked()
{
    runProbe(AllPositions);
}

void ProbePositionPage::on_probePart_clicked()
{
    const QPair<QCheckBox*, int> boxes[] = {
        {ui->checkBox_1, TestWells},        {ui->checkBox_2, TubeRack},     {ui->checkBox_3, WashPosition},
        {ui->checkBox_4, ReagentPositions}, {ui->checkBox_5, TapePosition}, {ui->checkBox_6, WasteBin},
    };
    QList<int> codes;
    for (const auto& box : boxes) {
        if (box.first->isChecked())
            codes.append(box.second);
    }
    if (codes.isEmpty()) {
        information(tr("清选择要探测的点位。"), QMessageBox::Ok);
        return;
    }
    runProbe(codes, QByteArray());
}

void ProbePositionPage::on_pushButton_8_clicked()
{
    runProbe({DispenseVolume}, VelaProtocol::probeVolume(ui->testVolume->value()));
}

void ProbePositionPage::on_pushButton_12_clicked()
{
    runProbe(WashProbe);
}

void ProbePositionPage::on_setTemp_clicked()
{
    const QByteArray reply = m_instrument->protocol().writeSetPoints(ui->tempSet_1->value() + ui->tempBias_1->value(),
                                                                     ui->tempSet_2->value() + ui->tempBias_2->value(),
                                                                     ui->tempSet_3->value() + ui->tempBias_3->value());
    if (reply.isEmpty())
        information(lostLinkText(), QMessageBox::Ok);
    else if (m_instrument->isErrorReply(reply))
        information(m_instrument->lastError(), QMessageBox::Ok);
}

// Reply: "74-" and the three set values (pre-warm, test area, cooling)
// separated by blanks.
void ProbePositionPage::on_readTemp_clicked()
{
    const QByteArray reply = m_instrument->protocol().readSetPoints();
    const ReplyParser::SetPointReply setPoints = ReplyParser::parseSetPointReply(reply);
    if (!setPoints.valid) {
        information(tr("读取失败, 指令返回'%1'").arg(QString::fromLatin1(reply)), QMessageBox::Ok);
        return;
    }
    ui->tempSet_1->setValue(setPoints.values.value(0));
    ui->tempSet_2->setValue(setPoints.values.value(1));
    ui->tempSet_3->setValue(setPoints.values.value(2));
}

// The button's label tells the state the operator sees; a click switches
// the well to the other one.
void ProbePositionPage::on_enableWell_clicked(int i)
{
    const bool enable = wellButton(i)->text() == tr("禁用");
    static_cast<ParamBlock*>(m_instrument->paramData())->size = sizeof(ParamBlock);
    if (!m_instrument->setChannelEnabled(i, enable))
        information(m_instrument->lastError(), QMessageBox::Ok);
    updateWellButton(i);
}

QToolButton* ProbePositionPage::wellButton(int i) const
{
    return findChild<QToolButton*>(QStringLiteral("enableTestWell_%1").arg(i + 1));
}

void ProbePositionPage::updateWellButton(int i)
{
    wellButton(i)->setText(m_instrument->isChannelEnabled(i) ? tr("启用") : tr("禁用"));
}

void ProbePositionPage::on_saveParam_clicked()
{
    bool saved;
    {
        WaitCursor wait;
        static_cast<ParamBlock*>(m_instrument->paramData())->size = sizeof(ParamBlock);
        saved = m_instrument->saveParam();
    }
    if (saved)
        information(tr("保存参数成功."), QMessageBox::Ok);
}
