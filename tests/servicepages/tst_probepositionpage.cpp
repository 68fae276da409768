#include "rig.h"

#include "navigatedialog.h"
#include "probepositionpage.h"

#include <tqcore/tqapp.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using Requests = QList<QByteArray>;
Q_DECLARE_METATYPE(QList<int>)

namespace {

const QString lostLink = QStringLiteral("发现未知错误，可能仪器已经断开。");

void click(QWidget& page, const QString& name)
{
    child<QAbstractButton>(page, name)->click();
}

int warnings(const Rig& rig)
{
    int n = 0;
    for (const auto& m : rig.messages.messages())
        n += m.icon == QMessageBox::Warning;
    return n;
}

// The information boxes shown (the confirmation warning left out).
QStringList boxes(const Rig& rig)
{
    QStringList texts;
    for (const auto& m : rig.messages.messages()) {
        if (m.icon != QMessageBox::Warning)
            texts << m.text;
    }
    return texts;
}

// Selects arm and probe on the page.
void select(QWidget& page, int arm, int probe)
{
    click(page, QStringLiteral("dispenseArm_%1").arg(arm));
    click(page, QStringLiteral("probe_%1").arg(probe));
}

} // namespace

class TestProbePositionPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        openSettingsInTemporaryFolder();
        QLoggingCategory::setFilterRules(QStringLiteral("tq.sound.debug=false"));
    }

    void warningRule_data();
    void warningRule();
    void declinedWarningSendsNothing();
    void probeCommands_data();
    void probeCommands();
    void partialProbing_data();
    void partialProbing();
    void failedCommand_data();
    void failedCommand();
    void cancelEndsRunAfterCurrentCode();
    void pollEnds_data();
    void pollEnds();
    void lostLinkEndsPoll();
    void setTemperatures_data();
    void setTemperatures();
    void readTemperatures_data();
    void readTemperatures();
    void liveTemperatures();
    void wellToggle_data();
    void wellToggle();
    void wellLabelsFollowMask();
    void saveParameters_data();
    void saveParameters();
    void firstPosition_data();
    void firstPosition();
};

void TestProbePositionPage::warningRule_data()
{
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<Requests>("sent");

    QTest::newRow("4F alone") << QList<int>{0x4F} << false << Requests{"4F13"};
    QTest::newRow("50 alone") << QList<int>{0x50} << false << Requests{"5013", "531"};
    QTest::newRow("4E alone") << QList<int>{0x4E} << true << Requests{"4E13", "531"};
    QTest::newRow("49 alone") << QList<int>{0x49} << true << Requests{"4913", "541"};
    QTest::newRow("51 alone") << QList<int>{0x51} << true << Requests{"5113", "551"};
    QTest::newRow("two 4F") << QList<int>{0x4F, 0x4F} << true << Requests{"4F13", "4F13"};
    QTest::newRow("two 50") << QList<int>{0x50, 0x50} << true << Requests{"5013", "531", "5013", "531"};
    QTest::newRow("40 and 41") << QList<int>{0x40, 0x41} << true << Requests{"4013", "551", "4113", "551"};
    QTest::newRow("none") << QList<int>{} << false << Requests{};
}

void TestProbePositionPage::warningRule()
{
    QFETCH(QList<int>, codes);
    QFETCH(bool, warned);
    QFETCH(Requests, sent);
    PageRig rig;
    ProbePositionPage page(rig.instrument.data(), nullptr);
    const int sounds = TqApp::soundCount();
    QVERIFY(page.runProbe(codes, "%s", ""));
    QCOMPARE(warnings(rig), warned ? 1 : 0);
    QCOMPARE(rig.server.requests(), sent);
    QCOMPARE(boxes(rig), QStringList());
    // one sound per step waited for
    int polls = 0;
    for (const QByteArray& r : sent)
        polls += r.size() == 3;
    QCOMPARE(TqApp::soundCount() - sounds, polls);
}

void TestProbePositionPage::declinedWarningSendsNothing()
{
    PageRig rig;
    ProbePositionPage page(rig.instrument.data(), nullptr);
    rig.messages.setAnswer(QMessageBox::Cancel);
    QVERIFY(page.runProbe(0x49));
    QVERIFY(page.runProbe({0x40, 0x41}, "%s", ""));
    QCOMPARE(warnings(rig), 2);
    QCOMPARE(rig.server.requests(), Requests());
}

void TestProbePositionPage::probeCommands_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("arm");
    QTest::addColumn<int>("probe");
    QTest::addColumn<int>("volume");
    QTest::addColumn<int>("busy");
    QTest::addColumn<Requests>("sent");

    QTest::newRow("volume 50, arm 1, probe 3") << "pushButton_8" << 1 << 3 << 50 << 0 << Requests{"4B1332", "551"};
    QTest::newRow("volume 5, arm 2, probe 4, busy twice")
        << "pushButton_8" << 2 << 4 << 5 << 2 << Requests{"4B2405", "552", "552", "552"};
    QTest::newRow("volume 150") << "pushButton_8" << 1 << 4 << 150 << 0 << Requests{"4B1496", "551"};
    QTest::newRow("all positions, arm 2") << "probeAll" << 2 << 3 << 50 << 1 << Requests{"4923", "542", "542"};
    QTest::newRow("wash probe") << "pushButton_12" << 1 << 4 << 50 << 0 << Requests{"5114", "551"};
}

void TestProbePositionPage::probeCommands()
{
    QFETCH(QString, button);
    QFETCH(int, arm);
    QFETCH(int, probe);
    QFETCH(int, volume);
    QFETCH(int, busy);
    QFETCH(Requests, sent);
    PageRig rig;
    rig.script->setBusyPolls(busy);
    ProbePositionPage page(rig.instrument.data(), nullptr);
    select(page, arm, probe);
    child<QSpinBox>(page, QStringLiteral("testVolume"))->setValue(volume);
    click(page, button);
    QCOMPARE(rig.server.requests(), sent);
    QCOMPARE(warnings(rig), 1);
    QCOMPARE(boxes(rig), QStringList());
}

void TestProbePositionPage::partialProbing_data()
{
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<Requests>("commands");

    QTest::newRow("all six, in code order")
        << QStringList{"checkBox_6", "checkBox_5", "checkBox_4", "checkBox_3", "checkBox_2", "checkBox_1"}
        << Requests{"4013", "4113", "4213", "4313", "4413", "4613"};
    QTest::newRow("waste bin and test wells") << QStringList{"checkBox_6", "checkBox_1"} << Requests{"4013", "4613"};
    QTest::newRow("reagents and tube rack") << QStringList{"checkBox_4", "checkBox_2"} << Requests{"4113", "4313"};
    QTest::newRow("tape position") << QStringList{"checkBox_5"} << Requests{"4413"};
    QTest::newRow("nothing checked") << QStringList{} << Requests{};
}

void TestProbePositionPage::partialProbing()
{
    QFETCH(QStringList, checked);
    QFETCH(Requests, commands);
    PageRig rig;
    ProbePositionPage page(rig.instrument.data(), nullptr);
    for (const QString& box : checked)
        child<QCheckBox>(page, box)->setChecked(true);
    click(page, QStringLiteral("probePart"));

    Requests expected;
    for (const QByteArray& c : commands)
        expected << c << "551";
    QCOMPARE(rig.server.requests(), expected);
    if (commands.isEmpty()) {
        QCOMPARE(warnings(rig), 0);
        QCOMPARE(boxes(rig), QStringList{QStringLiteral("清选择要探测的点位。")});
    } else {
        QCOMPARE(warnings(rig), 1);
        QCOMPARE(boxes(rig), QStringList());
    }
}

void TestProbePositionPage::failedCommand_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("empty reply") << QByteArray() << false << QStringList{lostLink};
    QTest::newRow("empty reply, silent") << QByteArray() << true << QStringList();
    QTest::newRow("analyzer error") << QByteArray("41XX") << false << QStringList{"41XX"};
    QTest::newRow("linkhub error") << QByteArray("Err:port closed") << false << QStringList{"Err:port closed"};
    QTest::newRow("linkhub error, silent") << QByteArray("Err:port closed") << true << QStringList();
}

// The second of three codes fails: the run stops there with false.
void TestProbePositionPage::failedCommand()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, silent);
    QFETCH(QStringList, shown);
    PageRig rig;
    rig.script->setReply("4113", reply);
    ProbePositionPage page(rig.instrument.data(), nullptr);
    QCOMPARE(page.setSilent(silent), false);
    QVERIFY(!page.runProbe({0x40, 0x41, 0x42}, "%s", ""));
    QCOMPARE(rig.server.requests(), (Requests{"4013", "551", "4113"}));
    QCOMPARE(boxes(rig), shown);
    QCOMPARE(page.setSilent(false), silent);
}

void TestProbePositionPage::cancelEndsRunAfterCurrentCode()
{
    PageRig rig;
    rig.script->setPollReply("5501");
    ProbePositionPage page(rig.instrument.data(), nullptr);
    QTimer::singleShot(100, &page, [&page] {
        auto* progress = page.findChild<QProgressDialog*>();
        QVERIFY(progress);
        QCOMPARE(progress->labelText(), QStringLiteral("正在执行, 请稍候..."));
        // shown over the page's window while the poll goes on
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        progress->cancel();
    });
    QVERIFY(page.runProbe({0x40, 0x41}, "%s", ""));
    const Requests sent = rig.server.requests();
    QVERIFY(sent.size() > 2);
    QCOMPARE(sent.first(), QByteArray("4013"));
    QCOMPARE(sent.count("551"), sent.size() - 1);
    QCOMPARE(boxes(rig), QStringList());
}

void TestProbePositionPage::pollEnds_data()
{
    QTest::addColumn<QByteArray>("pollReply"); // null: busy busyPolls times, then done
    QTest::addColumn<int>("busyPolls");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("polls");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("done after five busy polls") << QByteArray() << 5 << true << 6 << QStringList();
    // Once the link has gone every poll comes back empty at once.
    QTest::newRow("link lost") << QByteArray("") << 0 << false << ProbePositionPage::maxEmptyPolls
                               << QStringList{lostLink};
    QTest::newRow("analyzer error replies")
        << QByteArray("55XX") << 0 << false << ProbePositionPage::maxErrorPolls << QStringList{"55XX"};
    QTest::newRow("link error replies") << QByteArray("Err:port closed") << 0 << false
                                        << ProbePositionPage::maxErrorPolls << QStringList{"Err:port closed"};
}

// The poll pauses between its questions, keeps the event loop running
// meanwhile, and gives up on a run of empty or error replies instead of
// asking for ever.
void TestProbePositionPage::pollEnds()
{
    QFETCH(QByteArray, pollReply);
    QFETCH(int, busyPolls);
    QFETCH(bool, ok);
    QFETCH(int, polls);
    QFETCH(QStringList, shown);
    PageRig rig;
    if (pollReply.isNull())
        rig.script->setBusyPolls(busyPolls);
    else
        rig.script->setPollReply(pollReply);
    ProbePositionPage page(rig.instrument.data(), nullptr);
    bool eventsRan = false;
    QTimer::singleShot(0, &page, [&eventsRan] { eventsRan = true; });
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(page.runProbe(0x51), ok);
    QVERIFY(elapsed.elapsed() >= (polls - 1) * ProbePositionPage::pollPauseMs);
    QVERIFY(eventsRan || polls == 1);
    QCOMPARE(rig.server.requests(), Requests{"5113"} + Requests(polls, "551"));
    QCOMPARE(boxes(rig), shown);
}

void TestProbePositionPage::lostLinkEndsPoll()
{
    // a few busy replies in between start the count again
    PageRig rig;
    rig.script->setPollReply("5501");
    ProbePositionPage page(rig.instrument.data(), nullptr);
    QTimer::singleShot(50, &page, [&rig] { rig.script->setPollReply(QByteArray()); });
    QVERIFY(!page.runProbe(0x51));
    const Requests sent = rig.server.requests();
    QVERIFY(sent.size() > 1 + ProbePositionPage::maxEmptyPolls);

    rig.server.clearRequests();
    rig.instrument->talkThread()->close();
    page.setSilent(true);
    QVERIFY(!page.waitForDone(0x55));
    QVERIFY(rig.server.requests().isEmpty());
}

void TestProbePositionPage::setTemperatures_data()
{
    QTest::addColumn<QList<double>>("setValues");
    QTest::addColumn<QList<double>>("biases");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("shown");

    // The line's digits in every locale are the protocol test's.
    QTest::newRow("bias on the test area") << QList<double>{37, 37, 15} << QList<double>{0, 0.5, 0}
                                           << QByteArray("7500") << QByteArray("7537.00 37.50 15.00") << QStringList();
    QTest::newRow("below 10 gets a leading blank")
        << QList<double>{36, 38.25, 10} << QList<double>{-1.5, 0, -0.5} << QByteArray("7500")
        << QByteArray("7534.50 38.25  9.50") << QStringList();
    QTest::newRow("error reply") << QList<double>{37, 37, 15} << QList<double>{0, 0, 0} << QByteArray("75XX")
                                 << QByteArray("7537.00 37.00 15.00") << QStringList{"75XX"};
    QTest::newRow("no reply") << QList<double>{37, 37, 15} << QList<double>{0, 0, 0} << QByteArray()
                              << QByteArray("7537.00 37.00 15.00") << QStringList{lostLink};
}

void TestProbePositionPage::setTemperatures()
{
    QFETCH(QList<double>, setValues);
    QFETCH(QList<double>, biases);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, shown);
    PageRig rig;
    rig.script->setCodeReply("75", reply);
    ProbePositionPage page(rig.instrument.data(), nullptr);
    for (int i = 0; i < 3; ++i) {
        child<QDoubleSpinBox>(page, QStringLiteral("tempSet_%1").arg(i + 1))->setValue(setValues.at(i));
        child<QDoubleSpinBox>(page, QStringLiteral("tempBias_%1").arg(i + 1))->setValue(biases.at(i));
    }
    click(page, QStringLiteral("setTemp"));
    QCOMPARE(rig.server.requests(), Requests{sent});
    QCOMPARE(boxes(rig), shown);
}

void TestProbePositionPage::readTemperatures_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<double>>("values"); // empty: a box, the values stay
    QTest::addColumn<QString>("shown");

    QTest::newRow("three values") << QByteArray("74-36.5 37.25 12") << QList<double>{36.5, 37.25, 12} << QString();
    QTest::newRow("extra blanks") << QByteArray("74-  35  39.5   18.75 ") << QList<double>{35, 39.5, 18.75}
                                  << QString();
    QTest::newRow("third missing, raised to its minimum")
        << QByteArray("74-36.9 37.1") << QList<double>{36.9, 37.1, 10} << QString();
    QTest::newRow("out of range clamped") << QByteArray("74-50 20 5") << QList<double>{40, 34, 10} << QString();
    QTest::newRow("unreadable part") << QByteArray("74-abc 36 21") << QList<double>{34, 36, 20} << QString();
    QTest::newRow("no dash") << QByteArray("7436.9 37.1 15") << QList<double>{}
                             << QStringLiteral("读取失败, 指令返回'7436.9 37.1 15'");
    QTest::newRow("error reply") << QByteArray("74XX") << QList<double>{} << QStringLiteral("读取失败, 指令返回'74XX'");
    QTest::newRow("no reply") << QByteArray() << QList<double>{} << QStringLiteral("读取失败, 指令返回''");
}

void TestProbePositionPage::readTemperatures()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<double>, values);
    QFETCH(QString, shown);
    PageRig rig;
    rig.script->setCodeReply("74", reply);
    ProbePositionPage page(rig.instrument.data(), nullptr);
    const QList<double> before{38, 35, 16};
    for (int i = 0; i < 3; ++i) {
        child<QDoubleSpinBox>(page, QStringLiteral("tempSet_%1").arg(i + 1))->setValue(before.at(i));
        child<QDoubleSpinBox>(page, QStringLiteral("tempBias_%1").arg(i + 1))->setValue(1.25);
    }
    click(page, QStringLiteral("readTemp"));
    QCOMPARE(rig.server.requests(), Requests{"74"});
    const QList<double> expected = values.isEmpty() ? before : values;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(child<QDoubleSpinBox>(page, QStringLiteral("tempSet_%1").arg(i + 1))->value(), expected.at(i));
        QCOMPARE(child<QDoubleSpinBox>(page, QStringLiteral("tempBias_%1").arg(i + 1))->value(), 1.25);
    }
    QCOMPARE(boxes(rig), shown.isEmpty() ? QStringList() : QStringList{shown});
}

void TestProbePositionPage::liveTemperatures()
{
    PageRig rig;
    // a page opened after a poll shows its readings at once (a short reply
    // leaves the zones it lacks empty)
    rig.script->setCodeReply("73", "73 37.0 25.1 25.2 25.3 25.4 37.1 8.0");
    rig.instrument->pollTemperatures();
    const QStringList first{"37.0", "25.1", "25.2", "25.3", "25.4", "37.1", "8.0", "", ""};
    ProbePositionPage page(rig.instrument.data(), nullptr);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(child<QLineEdit>(page, QStringLiteral("temperature_%1").arg(i + 1))->text(), first.at(i));
    QVERIFY(child<QLineEdit>(page, QStringLiteral("temperature_1"))->isReadOnly());

    // the instrument's poll announces changed zones
    rig.script->setCodeReply("73", "73 37.5 25.1 25.2 25.3 25.4 37.1 8.0 22.5 30.0");
    rig.script->setCodeReply("24", "Sensor-0-");
    rig.instrument->pollTemperatures();
    const QStringList shown{"37.5", "25.1", "25.2", "25.3", "25.4", "37.1", "8.0", "22.5", "30.0"};
    for (int i = 0; i < 9; ++i)
        QCOMPARE(child<QLineEdit>(page, QStringLiteral("temperature_%1").arg(i + 1))->text(), shown.at(i));
}

void TestProbePositionPage::wellToggle_data()
{
    QTest::addColumn<bool>("validBlock");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<int>("well"); // 0..9
    QTest::addColumn<Requests>("sent");
    QTest::addColumn<QStringList>("labels");

    QTest::newRow("invalid block, well 3: disable, enable")
        << false << quint32(0xFFFF) << 2 << Requests{"5D3", "5C3"} << QStringList{"禁用", "启用"};
    QTest::newRow("well 10 disabled: enable, disable")
        << true << quint32(1u << 9) << 9 << Requests{"5CA", "5DA"} << QStringList{"启用", "禁用"};
    QTest::newRow("well 1 enabled") << true << quint32(0x2) << 0 << Requests{"5D1", "5C1"}
                                    << QStringList{"禁用", "启用"};
}

void TestProbePositionPage::wellToggle()
{
    QFETCH(bool, validBlock);
    QFETCH(quint32, mask);
    QFETCH(int, well);
    QFETCH(Requests, sent);
    QFETCH(QStringList, labels);
    PageRig rig;
    auto* block = static_cast<ParamBlock*>(rig.instrument->paramData());
    *block = ParamBlock{validBlock ? 8u : 0u, mask};
    ProbePositionPage page(rig.instrument.data(), nullptr);
    auto* button = child<QAbstractButton>(page, QStringLiteral("enableTestWell_%1").arg(well + 1));
    QVERIFY(!button->isCheckable());
    const bool enabledBefore = rig.instrument->isChannelEnabled(well);

    button->click();
    QCOMPARE(button->text(), labels.at(0));
    QCOMPARE(block->size, 8u);
    QCOMPARE(rig.instrument->isChannelEnabled(well), !enabledBefore);
    button->click();
    QCOMPARE(button->text(), labels.at(1));
    QCOMPARE(rig.instrument->isChannelEnabled(well), enabledBefore);

    QCOMPARE(rig.server.requests(), sent);
    QCOMPARE(boxes(rig), QStringList());
    // the other wells are left alone
    const quint32 others = ~(1u << well) & 0x3FF;
    QCOMPARE(block->disabledMask & others, (validBlock ? mask : 0xFFFFu) & others);

    // a refused switch is reported; the mask keeps the new state
    rig.script->setCodeReply("5D", "5DXX");
    const bool enabledNow = rig.instrument->isChannelEnabled(well);
    if (enabledNow) {
        button->click();
        QCOMPARE(boxes(rig), QStringList{"5DXX"});
        QCOMPARE(button->text(), QStringLiteral("禁用"));
    }
}

void TestProbePositionPage::wellLabelsFollowMask()
{
    PageRig rig;
    auto* block = static_cast<ParamBlock*>(rig.instrument->paramData());
    *block = ParamBlock{0, 0x3FF};
    {
        ProbePositionPage page(rig.instrument.data(), nullptr);
        for (int i = 1; i <= 10; ++i)
            QCOMPARE(child<QAbstractButton>(page, QStringLiteral("enableTestWell_%1").arg(i))->text(),
                     QStringLiteral("启用"));
    }
    *block = ParamBlock{8, 0x205};
    ProbePositionPage page(rig.instrument.data(), nullptr);
    QStringList labels;
    for (int i = 1; i <= 10; ++i)
        labels << child<QAbstractButton>(page, QStringLiteral("enableTestWell_%1").arg(i))->text();
    QCOMPARE(labels, (QStringList{"禁用", "启用", "禁用", "启用", "启用", "启用", "启用", "启用", "启用", "禁用"}));
    QVERIFY(rig.server.requests().isEmpty());
}

void TestProbePositionPage::saveParameters_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("saved") << QByteArray("4D00") << QStringList{QStringLiteral("保存参数成功.")};
    QTest::newRow("refused") << QByteArray("4DXX") << QStringList();
}

void TestProbePositionPage::saveParameters()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, shown);
    PageRig rig;
    rig.script->setCodeReply("4D", reply);
    *static_cast<ParamBlock*>(rig.instrument->paramData()) = ParamBlock{0, 0x204};
    ProbePositionPage page(rig.instrument.data(), nullptr);
    click(page, QStringLiteral("saveParam"));
    // 8 bytes at address 0: the size field 8, then the mask, little-endian
    QCOMPARE(rig.server.requests(), Requests{"4D0000080800000004020000"});
    QCOMPARE(boxes(rig), shown);
}

void TestProbePositionPage::firstPosition_data()
{
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<bool>("declined");
    QTest::addColumn<QByteArray>("reply4E");   // null: the usual 4E00
    QTest::addColumn<QByteArray>("pollReply"); // null: done at the first poll
    QTest::addColumn<Requests>("sent");
    QTest::addColumn<QStringList>("shown");

    const Requests taught{"4E24", "532", "4F24X14Y00", "4F24XECY00", "5024", "532"};
    QTest::newRow("closed with Close") << true << false << QByteArray() << QByteArray() << taught << QStringList();
    QTest::newRow("closed by the window") << false << false << QByteArray() << QByteArray() << taught << QStringList();
    // The teaching ends before the dialog: nothing tells the take-position
    // command where the probe is.
    QTest::newRow("warning declined") << true << true << QByteArray() << QByteArray() << Requests() << QStringList();
    QTest::newRow("4E refused") << true << false << QByteArray("4EXX") << QByteArray() << Requests{"4E24"}
                                << QStringList{"4EXX"};
    QTest::newRow("4E unanswered") << true << false << QByteArray("") << QByteArray() << Requests{"4E24"}
                                   << QStringList{lostLink};
    Requests errorPolls{"4E24"};
    for (int i = 0; i < ProbePositionPage::maxErrorPolls; ++i)
        errorPolls << "532";
    QTest::newRow("4E never completes") << true << false << QByteArray() << QByteArray("53XX") << errorPolls
                                        << QStringList{"53XX"};
}

// 4E (with the warning) and its completion, the moves made in the dialog
// (silent: the refused one shows nothing), then 50 and its completion.
void TestProbePositionPage::firstPosition()
{
    QFETCH(bool, closeButton);
    QFETCH(bool, declined);
    QFETCH(QByteArray, reply4E);
    QFETCH(QByteArray, pollReply);
    QFETCH(Requests, sent);
    QFETCH(QStringList, shown);
    PageRig rig;
    rig.script->setReply("4F24XECY00", "4FXX");
    if (!reply4E.isNull())
        rig.script->setReply("4E24", reply4E);
    if (!pollReply.isNull())
        rig.script->setPollReply(pollReply);
    if (declined)
        rig.messages.setAnswer(QMessageBox::Cancel);
    ProbePositionPage page(rig.instrument.data(), nullptr);
    select(page, 2, 4);
    bool reached = false;
    const bool taught = sent.contains("5024");
    // 4E completes at the first poll here, so the first event loop to run
    // is the dialog's.
    auto adjust = [&] {
        auto* dialog = page.findChild<NavigateDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isModal());
        reached = true;
        child<QAbstractButton>(*dialog, QStringLiteral("right"))->click();
        child<QAbstractButton>(*dialog, QStringLiteral("left"))->click();
        QVERIFY(dialog->isVisible());
        if (closeButton)
            child<QDialogButtonBox>(*dialog, QStringLiteral("buttonBox"))->button(QDialogButtonBox::Close)->click();
        else
            dialog->close();
    };
    if (taught)
        QTimer::singleShot(0, &page, adjust);
    click(page, QStringLiteral("probeFirstPos"));
    QCOMPARE(reached, taught);
    QVERIFY(!page.findChild<NavigateDialog*>());
    QCOMPARE(rig.server.requests(), sent);
    QCOMPARE(warnings(rig), 1);
    QCOMPARE(boxes(rig), shown);
    QCOMPARE(page.setSilent(false), false);
}

QTEST_MAIN(TestProbePositionPage)
#include "tst_probepositionpage.moc"
