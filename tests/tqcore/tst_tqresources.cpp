#include <tqcore/blink.h>
#include <tqcore/optionframe.h>
#include <tqcore/resource.h>
#include <tqcore/workbench.h>

#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTreeWidgetItem>

#include "testthread.h"

class TestTqResources : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void placeReagents_data();
    void placeReagents();
    void volumeClamped();
    void blinkStartStop();
    void blinkFromOtherThread();
    void optionFrameTakesPages();
};

void TestTqResources::layout()
{
    ResourceManager rm;
    const QList<ResourcePosition*> positions = rm.positions();
    QCOMPARE(positions.size(), 20 + 20 + 24 + 2);
    QCOMPARE(positions.first()->name(), QStringLiteral("A1"));
    QCOMPARE(positions.at(20)->name(), QStringLiteral("B1"));
    QCOMPARE(positions.at(40)->name(), QStringLiteral("R1"));
    QCOMPARE(positions.last()->name(), QStringLiteral("Z2"));
    QVERIFY(rm.position(QStringLiteral("R24")));
    QCOMPARE(rm.position(QStringLiteral("R25")), nullptr);
    QCOMPARE(rm.position(QStringLiteral("z1")), nullptr);
}

void TestTqResources::placeReagents_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("added");
    QTest::addColumn<bool>("moves");
    QTest::newRow("free position") << QStringLiteral("R2") << true << true;
    QTest::newRow("taken position") << QStringLiteral("R1") << true << false;
    QTest::newRow("unknown position") << QStringLiteral("Q9") << true << false;
    QTest::newRow("not added to the manager") << QStringLiteral("R2") << false << false;
}

void TestTqResources::placeReagents()
{
    QFETCH(QString, target);
    QFETCH(bool, added);
    QFETCH(bool, moves);
    Workbench wb;
    ResourceManager* rm = wb.resourceManager();
    Reagent* pt = wb.reagentManager()->createReagent(&wb, QStringLiteral("PT"), rm);
    rm->addResource(pt);
    QVERIFY(pt->moveTo(QStringLiteral("R1")));
    QVERIFY(pt->isIncluded());

    Reagent* other = wb.reagentManager()->createReagent(&wb, QStringLiteral("APTT"), nullptr);
    if (added)
        rm->addResource(other);
    QCOMPARE(other->moveTo(target), moves);
    QCOMPARE(other->isIncluded(), moves);
    if (moves) {
        QCOMPARE(other->position()->name(), target);
        QCOMPARE(rm->position(target)->resource(), other);
    } else {
        QCOMPARE(other->position(), nullptr);
    }
    QCOMPARE(rm->position(QStringLiteral("R1"))->resource(), pt);
    if (!added)
        delete other;

    // Moving on frees the old position; deleting frees the new one.
    QVERIFY(pt->moveTo(QStringLiteral("R5")));
    QCOMPARE(rm->position(QStringLiteral("R1"))->resource(), nullptr);
    rm->removeResource(pt);
    QCOMPARE(rm->position(QStringLiteral("R5"))->resource(), nullptr);
}

void TestTqResources::volumeClamped()
{
    Reagent r(QStringLiteral("TT"));
    QCOMPARE(r.volumePercent(), 1.0);
    r.setVolumePercent(0.5);
    QCOMPARE(r.volumePercent(), 0.5);
    r.setVolumePercent(1.7);
    QCOMPARE(r.volumePercent(), 1.0);
    r.setVolumePercent(-1);
    QCOMPARE(r.volumePercent(), 0.0);
    r.setType(Reagent::Rinse);
    QCOMPARE(r.type(), 3);
    r.setPermanent(true);
    QVERIFY(r.isPermanent());
}

void TestTqResources::blinkStartStop()
{
    QLabel label(QStringLiteral("37.0"));
    const QColor original = label.palette().color(QPalette::WindowText);
    Blink blink;
    blink.setInterval(20);
    blink.addWidget(&label);
    blink.addWidget(&label);
    QCOMPARE(blink.widgets().size(), 1);
    QVERIFY(!blink.isBlinking());
    blink.start();
    QVERIFY(blink.isBlinking());
    QTRY_VERIFY(blink.isHighlighted());
    QCOMPARE(label.palette().color(QPalette::WindowText), QColor(Qt::red));
    QMetaObject::invokeMethod(&blink, "stop");
    QVERIFY(!blink.isBlinking());
    QCOMPARE(label.palette().color(QPalette::WindowText), original);

    // A widget deleted while blinking drops out.
    auto* gone = new QLabel;
    blink.addWidget(gone);
    blink.start();
    delete gone;
    QTest::qWait(60);
    QCOMPARE(blink.widgets().size(), 1);
}

void TestTqResources::blinkFromOtherThread()
{
    Blink blink;
    QThread* caller = testsupport::createThread([&blink] { QMetaObject::invokeMethod(&blink, "start"); });
    caller->start();
    QVERIFY(testsupport::join(caller, 5000));
    delete caller;
    QTRY_VERIFY(blink.isBlinking());
    QVERIFY(blink.thread() == thread());
}

void TestTqResources::optionFrameTakesPages()
{
    QPointer<QWidget> page = new QWidget;
    page->setWindowTitle(QStringLiteral("连接"));
    {
        OptionFrame frame;
        QTreeWidgetItem* group = frame.addItem(QStringLiteral("仪器"));
        QVERIFY(group);
        QTreeWidgetItem* item = frame.addItem(group, page.data());
        QCOMPARE(item->text(0), QStringLiteral("连接"));
        QCOMPARE(item->parent(), group);
        QCOMPARE(frame.pages().size(), 1);
    }
    QVERIFY(page.isNull());
}

QTEST_MAIN(TestTqResources)
#include "tst_tqresources.moc"
