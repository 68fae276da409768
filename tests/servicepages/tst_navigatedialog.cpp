#include "rig.h"

#include "navigatedialog.h"
#include "probepositionpage.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using Requests = QList<QByteArray>;

class TestNavigateDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { openSettingsInTemporaryFolder(); }

    void form();
    void moves_data();
    void moves();
    void failedMoveIsSilentWhileTeaching();
    void closeRejects();
};

void TestNavigateDialog::form()
{
    PageRig rig;
    ProbePositionPage page(rig.instrument.data(), nullptr);
    NavigateDialog dialog(&page);
    QCOMPARE(dialog.parentWidget(), &page);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("手动调整"));
    const QStringList names{"up", "left", "help", "right", "down"};
    for (const QString& name : names) {
        auto* button = dialog.findChild<QToolButton*>(name);
        QVERIFY2(button, qPrintable(name));
        QVERIFY(QFile::exists(QStringLiteral(":/Resources/%1.png").arg(name)));
        QVERIFY(!button->icon().isNull());
        QCOMPARE(button->iconSize(), QSize(48, 48));
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        QVERIFY(button->text().isEmpty());
    }
    QCOMPARE(QImage(QStringLiteral(":/Resources/up.png")).size(), QSize(48, 48));
    dialog.findChild<QToolButton*>(QStringLiteral("help"))->click();
    QVERIFY(rig.server.requests().isEmpty());
}

void TestNavigateDialog::moves_data()
{
    QTest::addColumn<int>("arm");
    QTest::addColumn<int>("probe");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("right") << 1 << 3 << "right" << int(Qt::Key_Right) << QByteArray("4F13X14Y00");
    QTest::newRow("left") << 1 << 3 << "left" << int(Qt::Key_Left) << QByteArray("4F13XECY00");
    QTest::newRow("down") << 1 << 3 << "down" << int(Qt::Key_Down) << QByteArray("4F13X00Y14");
    QTest::newRow("up") << 1 << 3 << "up" << int(Qt::Key_Up) << QByteArray("4F13X00YEC");
    QTest::newRow("arm 2, probe 4, up") << 2 << 4 << "up" << int(Qt::Key_Up) << QByteArray("4F24X00YEC");
    QTest::newRow("arm 1, probe 4, left") << 1 << 4 << "left" << int(Qt::Key_Left) << QByteArray("4F14XECY00");
}

// A click and the matching key each send one move, with no confirmation
// and no completion poll.
void TestNavigateDialog::moves()
{
    QFETCH(int, arm);
    QFETCH(int, probe);
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(QByteArray, sent);
    PageRig rig;
    ProbePositionPage page(rig.instrument.data(), nullptr);
    page.findChild<QAbstractButton*>(QStringLiteral("dispenseArm_%1").arg(arm))->click();
    page.findChild<QAbstractButton*>(QStringLiteral("probe_%1").arg(probe))->click();
    NavigateDialog dialog(&page);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    dialog.findChild<QToolButton*>(button)->click();
    QCOMPARE(rig.server.requests(), Requests{sent});
    // a shortcut clicks its button after a short animation
    QTest::keyClick(&dialog, Qt::Key(key));
    QTRY_COMPARE(rig.server.requests(), (Requests{sent, sent}));
    QVERIFY(rig.messages.messages().isEmpty());
}

void TestNavigateDialog::failedMoveIsSilentWhileTeaching()
{
    PageRig rig;
    rig.script->setCodeReply("4F", "Err:no analyzer");
    ProbePositionPage page(rig.instrument.data(), nullptr);
    NavigateDialog dialog(&page);
    dialog.findChild<QToolButton*>(QStringLiteral("right"))->click();
    // not silent: the page reports the refused move
    QCOMPARE(rig.messages.texts(), QStringList{"Err:no analyzer"});
    page.setSilent(true);
    dialog.findChild<QToolButton*>(QStringLiteral("down"))->click();
    QCOMPARE(rig.messages.texts().size(), 1);
    QCOMPARE(rig.server.requests(), (Requests{"4F13X14Y00", "4F13X00Y14"}));
}

void TestNavigateDialog::closeRejects()
{
    PageRig rig;
    ProbePositionPage page(rig.instrument.data(), nullptr);
    NavigateDialog dialog(&page);
    dialog.setResult(QDialog::Accepted);
    dialog.show();
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestNavigateDialog)
#include "tst_navigatedialog.moc"
