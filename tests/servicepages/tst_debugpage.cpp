#include "rig.h"

#include "connectionpage.h"
#include "debugpage1.h"
#include "probepositionpage.h"

#include <tqcore/optionframe.h>
#include <tqcore/tqapp.h>

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

using Requests = QList<QByteArray>;

namespace {
const QString simKey = QStringLiteral("debug/sim");

QRadioButton* radio(QWidget& page, const char* name)
{
    return page.findChild<QRadioButton*>(QLatin1String(name));
}
} // namespace

class TestDebugPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { openSettingsInTemporaryFolder(); }
    void init() { TqApp::setTmpValue(simKey, QVariant()); }

    void modeOnOpening_data();
    void modeOnOpening();
    void choosingModes();
    void modeKeptWithoutLink();
    void adjustLed();
    void optionPages();
};

void TestDebugPage::modeOnOpening_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("simulation");

    QTest::newRow("no value") << QVariant() << false;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("true") << QVariant(true) << true;
    QTest::newRow("text true") << QVariant(QStringLiteral("true")) << true;
}

void TestDebugPage::modeOnOpening()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, simulation);
    TqApp::setTmpValue(simKey, stored);
    PageRig rig;
    DebugPage1 page(rig.instrument.data(), nullptr);
    QCOMPARE(page.windowTitle(), QStringLiteral("调试"));
    QCOMPARE(radio(page, "simMode")->isChecked(), simulation);
    QCOMPARE(radio(page, "normalMode")->isChecked(), !simulation);
    QVERIFY(rig.server.requests().isEmpty());
}

// Each click sends its command, even on the mode already checked, and the
// choice is what the page shows when opened again.
void TestDebugPage::choosingModes()
{
    PageRig rig;
    {
        DebugPage1 page(rig.instrument.data(), nullptr);
        radio(page, "simMode")->click();
        QCOMPARE(rig.workbench->tmpValue(simKey).toBool(), true);
        radio(page, "simMode")->click();
    }
    {
        DebugPage1 page(rig.instrument.data(), nullptr);
        QVERIFY(radio(page, "simMode")->isChecked());
        radio(page, "normalMode")->click();
        QCOMPARE(TqApp::tmpValue(simKey), QVariant(false));
    }
    DebugPage1 page(rig.instrument.data(), nullptr);
    QVERIFY(radio(page, "normalMode")->isChecked());
    QCOMPARE(rig.server.requests(), (Requests{"FB0", "FB0", "FB1"}));
}

void TestDebugPage::modeKeptWithoutLink()
{
    PageRig rig;
    rig.script->setCodeReply("FB", "FBXX");
    DebugPage1 page(rig.instrument.data(), nullptr);
    radio(page, "simMode")->click();
    QCOMPARE(TqApp::tmpValue(simKey), QVariant(true));
    rig.instrument->talkThread()->close();
    radio(page, "normalMode")->click();
    QCOMPARE(TqApp::tmpValue(simKey), QVariant(false));
    QCOMPARE(rig.server.requests(), Requests{"FB0"});
    QVERIFY(rig.messages.messages().isEmpty());
}

void TestDebugPage::adjustLed()
{
    PageRig rig;
    rig.script->setCodeReply("FD", "Err:busy");
    DebugPage1 page(rig.instrument.data(), nullptr);
    page.findChild<QPushButton*>(QStringLiteral("adjustLed"))->click();
    QCOMPARE(rig.server.requests(), Requests{"FD"});
    QVERIFY(rig.messages.messages().isEmpty());
    QVERIFY(!TqApp::tmpValue(simKey).isValid());
}

void TestDebugPage::optionPages()
{
    PageRig rig;
    OptionFrame frame;
    rig.instrument->addOptionPages(&frame);
    QTreeWidget* tree = frame.tree();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* item = tree->topLevelItem(0);
    QCOMPARE(item->text(0), QStringLiteral("仪器"));
    QStringList titles;
    for (int i = 0; i < item->childCount(); ++i)
        titles << item->child(i)->text(0);
    QCOMPARE(titles, (QStringList{"常规", "调试", "探测点位"}));

    const QList<QWidget*> pages = frame.pages();
    QCOMPARE(pages.size(), 3);
    QVERIFY(qobject_cast<ConnectionPage*>(pages.at(0)));
    QVERIFY(qobject_cast<DebugPage1*>(pages.at(1)));
    QVERIFY(qobject_cast<ProbePositionPage*>(pages.at(2)));
    for (QWidget* page : pages)
        QVERIFY(page->parent());
    QVERIFY(rig.server.requests().isEmpty());
}

QTEST_MAIN(TestDebugPage)
#include "tst_debugpage.moc"
