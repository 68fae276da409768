#include "rig.h"
#include "testthread.h"
#include "testtime.h"

#include "core/profile.h"

#include <tqcore/blink.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Replies to 73 and 24 are whatever the test sets last.
struct Replies
{
    QByteArray temperatures = "73 37.0 25.0 25.0 25.0 25.0 37.0 8.0 22.0 22.0";
    QByteArray status = "Sensor-0-";
};

void install(Rig& rig, std::shared_ptr<Replies> replies)
{
    rig.server.setHandler([replies](const QByteArray& request) -> QByteArray {
        if (request == "73")
            return replies->temperatures;
        if (request == "24")
            return replies->status;
        return request.left(2) + "XX";
    });
}

QByteArray zones(const QString& third)
{
    return "73 20.0 21.0 " + third.toLatin1() + " 23.0 24.0 25.0 26.0 27.0 28.0";
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void textChanges_data();
    void textChanges();
    void missingAndBadReplies();
    void settling_data();
    void settling();
    void sensorWord_data();
    void sensorWord();
    void errorCodes();
    void statusBar();
    void pollFromAnotherThread();
};

void TestMonitor::initTestCase()
{
    static QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    // the fresh settings file has no tables: its complaint is recorded, not shown
    static tq::MessageRecorder startup;
    Profile::instance();
}

void TestMonitor::textChanges_data()
{
    QTest::addColumn<QStringList>("texts");     // third zone, one per poll
    QTest::addColumn<QStringList>("announced"); // temp3Changed, in order
    QTest::addColumn<float>("stored");          // zone 3 at the end

    QTest::newRow("37.0 after 36.9, again, 37.00")
        << QStringList{"36.9", "37.0", "37.0", "37.00"} << QStringList{"36.9", "37.0", "37.00"} << 37.0f;
    QTest::newRow("50 and -30 stored, not announced")
        << QStringList{"49.9", "50", "-30", "-29.9"} << QStringList{"49.9", "-29.9"} << -29.9f;
    QTest::newRow("not a number keeps the value")
        << QStringList{"36.5", "abc", "36.5"} << QStringList{"36.5", "36.5"} << 36.5f;
    QTest::newRow("nan is no reading") << QStringList{"36.5", "nan"} << QStringList{"36.5"} << 36.5f;
}

void TestMonitor::textChanges()
{
    QFETCH(QStringList, texts);
    QFETCH(QStringList, announced);
    QFETCH(float, stored);

    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    QSignalSpy spy(rig.instrument.data(), &InstrVela::temp3Changed);
    QSignalSpy zone9(rig.instrument.data(), &InstrVela::temp9Changed);
    for (const QString& t : texts) {
        replies->temperatures = zones(t);
        rig.instrument->pollTemperatures();
    }
    QStringList got;
    for (const QList<QVariant>& args : spy)
        got << args.at(0).toString();
    QCOMPARE(got, announced);
    QCOMPARE(zone9.count(), 1); // "28.0" once
    QCOMPARE(rig.instrument->temperatures().at(2), stored);
}

void TestMonitor::missingAndBadReplies()
{
    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    replies->temperatures = zones("30.0");
    rig.instrument->pollTemperatures();
    const QVector<float> before = rig.instrument->temperatures();
    QSignalSpy spy(rig.instrument.data(), &InstrVela::temp1Changed);

    for (const QByteArray& bad : {QByteArray("73XX"), QByteArray("Err:timeout"), QByteArray()}) {
        replies->temperatures = bad;
        rig.instrument->pollTemperatures();
        QCOMPARE(rig.instrument->temperatures(), before);
    }
    QCOMPARE(spy.count(), 0);
    QCOMPARE(rig.instrument->lastTemperatureTexts().size(), 9);

    // a short reply: the zones it lacks keep their values
    replies->temperatures = "73 31.0 32.0";
    rig.instrument->pollTemperatures();
    QCOMPARE(rig.instrument->temperatures().at(0), 31.0f);
    QCOMPARE(rig.instrument->temperatures().at(8), before.at(8));
    QCOMPARE(rig.instrument->lastTemperatureTexts(), (QStringList{"31.0", "32.0"}));
}

void TestMonitor::settling_data()
{
    QTest::addColumn<double>("base");
    QTest::addColumn<int>("stopsAt"); // poll at which the blinking stops; 0: never

    QTest::newRow("around 37") << 37.0 << 41;
    QTest::newRow("around 30") << 30.0 << 0;
}

void TestMonitor::settling()
{
    QFETCH(double, base);
    QFETCH(int, stopsAt);

    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    rig.instrument->setTemperatureStable(false);
    QVERIFY(rig.instrument->temperatureBlink()->isBlinking());
    int stoppedAt = 0;
    for (int poll = 1; poll <= 100 && !stoppedAt; ++poll) {
        const double t = base + 0.1 * ((poll % 3) - 1); // base - 0.1, base, base + 0.1
        replies->temperatures = "73 " + QByteArray::number(t, 'f', 1) + " 25.0 25.0 25.0 25.0 37.0 8.0 22.0 22.0";
        rig.instrument->pollTemperatures();
        if (!rig.instrument->temperatureBlink()->isBlinking())
            stoppedAt = poll;
        QVERIFY(rig.instrument->temperatureHistorySize() <= 40);
    }
    QCOMPARE(stoppedAt, stopsAt);
    QCOMPARE(rig.instrument->isTemperatureStable(), stopsAt != 0);
    if (stopsAt) {
        // settled: no more history until the flag is cleared again
        rig.instrument->pollTemperatures();
        QCOMPARE(rig.instrument->temperatureHistorySize(), 0);
    }
}

void TestMonitor::sensorWord_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<int>>("codes"); // sources 256 .. 262

    QTest::newRow("0x48: door and cups") << QByteArray("Sensor-48-") << QList<int>{0, 0, 0, 0x10008, 0, 0, 0x10040};
    QTest::newRow("0x7F: all") << QByteArray("0101 Sensor-7F-")
                               << QList<int>{0x10001, 0x10002, 0x10004, 0x10008, 0x10010, 0x10020, 0x10040};
    QTest::newRow("bit 7 is no sensor") << QByteArray("Sensor-81-") << QList<int>{0x10001, 0, 0, 0, 0, 0, 0};
}

void TestMonitor::sensorWord()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<int>, codes);

    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    replies->status = "Sensor-7F-";
    rig.instrument->pollStatus(); // everything set first, so clear bits must clear
    replies->status = reply;
    rig.instrument->pollStatus();
    for (int i = 0; i < 7; ++i)
        QCOMPARE(rig.instrument->statusCode(256 + i), codes.at(i));
    QCOMPARE(rig.instrument->statusCode(256 + 7), 0);
}

void TestMonitor::errorCodes()
{
    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    rig.instrument->addMessage(0x0A0F, 2, QStringLiteral("E"));
    QSignalSpy changed(rig.instrument.data(), &Instrument::statusCodeChanged);

    replies->status = "0101 0A0F Sensor-08-";
    rig.instrument->pollStatus();
    QCOMPARE(rig.instrument->statusCode(17), 0); // 0x0101 has no message: the source stays clear
    QCOMPARE(rig.instrument->statusCode(18), 0x0A0F);
    QCOMPARE(rig.instrument->statusCode(256 + 3), 0x10008);

    // nothing in the reply, an error reply, a dead link: nothing changes
    const int emitted = changed.count();
    for (const QByteArray& r : {QByteArray("24"), QByteArray("24XX"), QByteArray("Err:timeout"), QByteArray()}) {
        replies->status = r;
        rig.instrument->pollStatus();
    }
    QCOMPARE(changed.count(), emitted);
    QCOMPARE(rig.instrument->statusCode(18), 0x0A0F);
    QCOMPARE(rig.instrument->statusCode(256 + 3), 0x10008);
}

void TestMonitor::statusBar()
{
    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    replies->temperatures = "73 36.5 1 2 3 4 37.2 8.5 5 6";
    rig.instrument->pollTemperatures();

    QMainWindow window;
    rig.instrument->setupStatusBar(&window);
    const QList<QLabel*> labels = window.statusBar()->findChildren<QLabel*>();
    QStringList texts;
    for (QLabel* l : labels)
        texts << l->text();
    QCOMPARE(texts, (QStringList{"预温区", "36.5", "测试区", "37.2", "制冷区", "8.5"}));
    QCOMPARE(rig.instrument->temperatureBlink()->widgets(), (QList<QWidget*>{labels.at(1)}));
    // the value labels have a fixed width that shows a whole reading
    for (int i : {1, 3, 5}) {
        QCOMPARE(labels.at(i)->minimumWidth(), labels.at(i)->maximumWidth());
        QVERIFY(labels.at(i)->width() >= labels.at(i)->fontMetrics().horizontalAdvance(QStringLiteral("-30.00")));
    }

    replies->temperatures = "73 36.6 1 2 3 4 37.3 8.4 5 6";
    rig.instrument->pollTemperatures();
    QCOMPARE(labels.at(1)->text(), QStringLiteral("36.6"));
    QCOMPARE(labels.at(3)->text(), QStringLiteral("37.3"));
    QCOMPARE(labels.at(5)->text(), QStringLiteral("8.4"));

    // before any reading the re-emitted texts are empty
    Rig fresh;
    QMainWindow other;
    fresh.instrument->setupStatusBar(&other);
    const QList<QLabel*> empty = other.statusBar()->findChildren<QLabel*>();
    QCOMPARE(empty.size(), 6);
    QCOMPARE(empty.at(1)->text(), QString());
}

// The host may poll from a thread of its own: the status-bar labels get the
// texts in the GUI thread, and a window reading the latest texts meanwhile
// gets a whole reply, never one half written.
void TestMonitor::pollFromAnotherThread()
{
    Rig rig;
    auto replies = std::make_shared<Replies>();
    install(rig, replies);
    QMainWindow window;
    rig.instrument->setupStatusBar(&window);
    const QList<QLabel*> labels = window.statusBar()->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 6);

    std::unique_ptr<QThread> poller(testsupport::createThread([&rig] {
        for (int i = 0; i < 20; ++i)
            rig.instrument->pollTemperatures();
    }));
    poller->start();
    const QDeadlineTimer deadline(testsupport::scaled(10000));
    while (!poller->isFinished() && !deadline.hasExpired()) {
        const QStringList texts = rig.instrument->lastTemperatureTexts();
        QVERIFY(texts.isEmpty() || texts.size() == 9);
        QCoreApplication::processEvents();
    }
    QVERIFY(testsupport::join(poller, testsupport::scaled(5000)));
    QTRY_COMPARE_WITH_TIMEOUT(labels.at(1)->text(), QStringLiteral("37.0"), testsupport::scaled(5000));
    QCOMPARE(labels.at(3)->text(), QStringLiteral("37.0"));
    QCOMPARE(labels.at(5)->text(), QStringLiteral("8.0"));
    QCOMPARE(rig.instrument->lastTemperatureTexts().value(8), QStringLiteral("22.0"));
}

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
