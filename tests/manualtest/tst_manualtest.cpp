#include "rig.h"

#include "manualtest.h"

#include "core/profile.h"

#include <tqcore/analysisdoc.h>
#include <tqcore/assaytemplate.h>
#include <tqcore/counterdialog.h>
#include <tqcore/tqapp.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Replies of the scripted analyzer to the manual test commands; 32 answers
// "running" until final is set. Everything else goes to the FakeAnalyzer.
struct Script
{
    QMutex mutex;
    QByteArray setup = "5E00", start = "5F00";
    bool final = true;
    int clotHundredths = 3000;
};

QStringList sounds;
QtMessageHandler previousHandler = nullptr;

void recordSounds(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (qstrcmp(context.category, "tq.sound") == 0)
        sounds.append(text);
    else
        previousHandler(type, context, text);
}

// Calls f with the first visible top-level widget of type T once it shows.
template <typename T>
void whenShown(std::function<void(T*)> f)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, f] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) {
                poll->deleteLater();
                poll->stop();
                f(t);
                return;
            }
        }
    });
    poll->start(10);
}

struct Bench
{
    Bench()
    {
        rig.workbench->setInstrument(rig.instrument.data());
        rig.instrument->seedTestIds(1233);
        rig.server.setHandler([s = script, a = &rig.analyzer](const QByteArray& request) -> QByteArray {
            QMutexLocker lock(&s->mutex);
            const quint32 id = request.mid(2, 8).toUInt(nullptr, 16);
            if (request.startsWith("5E"))
                return s->setup;
            if (request.startsWith("5F"))
                return s->start;
            if (request.startsWith("32"))
                return s->final ? FakeAnalyzer::finalReply(id, "B1", "PT", "01", 'L', 1, 0, s->clotHundredths, -1)
                                : FakeAnalyzer::runningReply(id, 0x10, -1);
            return a->handle(request);
        });
    }
    ManualTest* open()
    {
        dialog.reset(new ManualTest(rig.workbench.data(), nullptr));
        return dialog.data();
    }
    template <typename T>
    T* w(const char* column, int channel) const
    {
        T* found = dialog->findChild<T*>(QStringLiteral("%1_%2").arg(QLatin1String(column)).arg(channel));
        if (!found)
            qFatal("no widget %s_%d", column, channel);
        return found;
    }
    QString text(const char* column, int channel) const
    {
        if (auto* b = dialog->findChild<QPushButton*>(QStringLiteral("%1_%2").arg(QLatin1String(column)).arg(channel)))
            return b->text();
        return w<QLabel>(column, channel)->text();
    }
    void select(const char* column, int channel, const QString& entry) const
    {
        QComboBox* box = w<QComboBox>(column, channel);
        box->setCurrentIndex(box->findText(entry));
    }
    void start(int channel) const { w<QPushButton>("test", channel)->click(); }

    std::shared_ptr<Script> script = std::make_shared<Script>();
    Rig rig;
    QScopedPointer<ManualTest> dialog; // goes before the rig
};

const QStringList allAssays{"PT", "APTT", "TT", "FIB"};

} // namespace

class TestManualTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void opening_data();
    void opening();
    void dilutionPreset_data();
    void dilutionPreset();
    void startCommands_data();
    void startCommands();
    void failedStart_data();
    void failedStart();
    void resultAndSave_data();
    void resultAndSave();
    void clashingChannelsNotSaved();
    void cancelAndReset();
    void countdown_data();
    void countdown();
    void methodPopup_data();
    void methodPopup();
    void showManualTest();

private:
    tq::MessageRecorder m_boxes; // the empty profile's boxes
    QTemporaryDir m_dir;
};

void TestManualTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    // Sample numbers are looked up in the results database.
    QSqlQuery(Profile::instance().dataDatabase()).exec("create table patient (sampleNo text, date date)");
    TqApp::setHeadless(true);
    QLoggingCategory::setFilterRules(QStringLiteral("tq.sound.debug=true"));
    previousHandler = qInstallMessageHandler(recordSounds);
}

void TestManualTest::init()
{
    for (const QString& a : allAssays + QStringList{"X", "fb"}) {
        Profile::instance().setValue(a + "/disable", QVariant(), false);
        Profile::instance().setValue(a + "/dilution", QVariant(), false);
    }
}

void TestManualTest::opening_data()
{
    QTest::addColumn<QStringList>("disabled");
    QTest::addColumn<QStringList>("offered");
    QTest::newRow("four assays, wrapping") << QStringList() << allAssays;
    QTest::newRow("APTT disabled") << QStringList{"APTT"} << QStringList{"PT", "TT", "FIB"};
    QTest::newRow("one left") << QStringList{"PT", "APTT", "TT"} << QStringList{"FIB"};
    QTest::newRow("none left") << allAssays << QStringList();
}

void TestManualTest::opening()
{
    QFETCH(QStringList, disabled);
    QFETCH(QStringList, offered);
    for (const QString& a : disabled)
        Profile::instance().setValue(a + "/disable", true, false);
    Bench b;
    b.open();
    const int number = b.w<QSpinBox>("sampleNo", 1)->value();
    QVERIFY(number >= 1);
    for (int n = 1; n <= 10; ++n) {
        QComboBox* assay = b.w<QComboBox>("assay", n);
        QStringList items;
        for (int k = 0; k < assay->count(); ++k)
            items << assay->itemText(k);
        QCOMPARE(items, offered);
        QCOMPARE(assay->currentText(), offered.isEmpty() ? QString() : offered.at((n - 1) % offered.size()));
        QCOMPARE(b.w<QComboBox>("dilution", n)->currentText(), QStringLiteral("1/1"));
        QCOMPARE(b.w<QSpinBox>("sampleNo", n)->value(), number);
        QCOMPARE(b.text("result", n), QStringLiteral("---.-"));
    }
}

void TestManualTest::dilutionPreset_data()
{
    QTest::addColumn<QString>("assay");
    QTest::addColumn<QVariant>("preset");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("selected");
    QTest::newRow("PT 1/10") << "PT" << QVariant("1/10") << 1 << "1/10";
    QTest::newRow("APTT 2/5 on channel 6") << "APTT" << QVariant("2/5") << 6 << "2/5";
    QTest::newRow("none: first entry") << "PT" << QVariant() << 1 << "1/1";
    QTest::newRow("not offered: first entry") << "PT" << QVariant("1/3") << 5 << "1/1";
    QTest::newRow("exact text only") << "PT" << QVariant(" 1/10") << 1 << "1/1";
}

void TestManualTest::dilutionPreset()
{
    QFETCH(QString, assay);
    QFETCH(QVariant, preset);
    QFETCH(int, channel);
    QFETCH(QString, selected);
    Profile::instance().setValue(assay + "/dilution", preset, false);
    Bench b;
    b.open();
    QCOMPARE(b.w<QComboBox>("assay", channel)->currentText(), assay);
    QCOMPARE(b.w<QComboBox>("dilution", channel)->currentText(), selected);
}

void TestManualTest::startCommands_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("assay");
    QTest::addColumn<QString>("dilution");
    QTest::addColumn<QVariant>("methods"); // instrument information "method"
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("start");

    const QVariant standard;
    QTest::newRow("channel 1 PT 1/1 optical")
        << 1 << "PT"
        << "1/1" << standard << QByteArray("5E1000004D2B1PT01L") << QByteArray("5F1");
    QTest::newRow("channel 10 -> A") << 10 << "PT"
                                     << "1/1" << standard << QByteArray("5EA000004D2B1PT01L") << QByteArray("5FA");
    QTest::newRow("APTT -> AP") << 2 << "APTT"
                                << "1/1" << standard << QByteArray("5E2000004D2B1AP01L") << QByteArray("5F2");
    QTest::newRow("upper-cased") << 3 << "fb"
                                 << "1/1" << standard << QByteArray("5E3000004D2B1FB01L") << QByteArray("5F3");
    QTest::newRow("one character -> PT") << 4 << "X"
                                         << "1/1" << standard << QByteArray("5E4000004D2B1PT01L") << QByteArray("5F4");
    QTest::newRow("1/10 -> 0A") << 1 << "PT"
                                << "1/10" << standard << QByteArray("5E1000004D2B1PT0AL") << QByteArray("5F1");
    QTest::newRow("2/5 -> 03") << 1 << "PT"
                               << "2/5" << standard << QByteArray("5E1000004D2B1PT03L") << QByteArray("5F1");
    QTest::newRow("4/5 -> 01") << 1 << "PT"
                               << "4/5" << standard << QByteArray("5E1000004D2B1PT01L") << QByteArray("5F1");
    QTest::newRow("1/320 -> low 8 bits") << 1 << "PT"
                                         << "1/320" << standard << QByteArray("5E1000004D2B1PT40L")
                                         << QByteArray("5F1");
    QTest::newRow("bead first -> C") << 1 << "PT"
                                     << "1/1" << QVariant(QStringList{"磁珠法", "光学法"})
                                     << QByteArray("5E1000004D2B1PT01C") << QByteArray("5F1");
    QTest::newRow("no methods -> L, hidden")
        << 1 << "PT"
        << "1/1" << QVariant(QStringList()) << QByteArray("5E1000004D2B1PT01L") << QByteArray("5F1");
}

void TestManualTest::startCommands()
{
    QFETCH(int, channel);
    QFETCH(QString, assay);
    QFETCH(QString, dilution);
    QFETCH(QVariant, methods);
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, start);
    Bench b;
    b.script->final = false;
    b.rig.workbench->assayManager()->addAssay("X");
    b.rig.workbench->assayManager()->addAssay("fb");
    if (methods.isValid())
        b.rig.workbench->setInstrInfo("method", methods);
    ManualTest* dialog = b.open();
    const bool withMethods = !methods.isValid() || !methods.toStringList().isEmpty();
    QCOMPARE(dialog->findChild<QLabel*>("methodTitle")->isHidden(), !withMethods);
    QCOMPARE(b.w<QLabel>("method", channel)->isHidden(), !withMethods);

    b.select("assay", channel, assay);
    b.select("dilution", channel, dilution);
    b.start(channel);
    QCOMPARE(b.rig.server.requests("5E"), QList<QByteArray>{setup});
    QCOMPARE(b.rig.server.requests("5F"), QList<QByteArray>{start});
    QCOMPARE(b.text("test", channel), QStringLiteral("取消"));
    QVERIFY(!b.w<QPushButton>("test", channel)->isEnabled());
    QVERIFY(b.rig.messages.texts().isEmpty());
}

void TestManualTest::failedStart_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("cancelCounter");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("startsSent");
    QTest::newRow("5E refused") << QByteArray("5EXX") << QByteArray("5F00") << false << "手动测试切换失败\n5EXX" << 0;
    QTest::newRow("5E link error") << QByteArray("Err: busy") << QByteArray("5F00") << false
                                   << "手动测试切换失败\nErr: busy" << 0;
    QTest::newRow("5E no reply") << QByteArray() << QByteArray("5F00") << false << "手动测试切换失败\n没有回应" << 0;
    QTest::newRow("5F refused") << QByteArray("5E00") << QByteArray("5FXX") << false << "发送测试指令失败\n5FXX" << 1;
    QTest::newRow("countdown cancelled") << QByteArray("5E00") << QByteArray("5F00") << true << QString() << 0;
}

void TestManualTest::failedStart()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, start);
    QFETCH(bool, cancelCounter);
    QFETCH(QString, message);
    QFETCH(int, startsSent);
    Bench b;
    b.script->setup = setup;
    b.script->start = start;
    b.open();
    if (cancelCounter) {
        TqApp::setHeadless(false);
        whenShown<CounterDialog>([](CounterDialog* d) { d->reject(); });
    }
    b.start(1);
    TqApp::setHeadless(true);
    QCOMPARE(b.rig.messages.texts(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(b.rig.server.requests("5F").size(), startsSent);
    QCOMPARE(b.text("test", 1), QStringLiteral("开始"));
    QVERIFY(b.w<QPushButton>("test", 1)->isEnabled());
    QCOMPARE(b.text("result", 1), QStringLiteral("---.-"));
}

void TestManualTest::resultAndSave_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("derived");
    QTest::newRow("PT 30 s") << 1 << 3000 << "30"
                             << "INR: 2.5, PT: 30, PT%: 40";
    QTest::newRow("PT 12.34 s, 4 digits") << 5 << 1234 << "12.34"
                                          << "INR: 1.028, PT: 12.34, PT%: 97.24";
    QTest::newRow("APTT 35.25 s") << 2 << 3525 << "35.25"
                                  << "APTT: 35.25";
    QTest::newRow("PT not clotted") << 1 << 13000 << "不凝"
                                    << "PT: 不凝";
}

void TestManualTest::resultAndSave()
{
    QFETCH(int, channel);
    QFETCH(int, hundredths);
    QFETCH(QString, shown);
    QFETCH(QString, derived);
    Bench b;
    b.script->clotHundredths = hundredths;
    b.open();
    b.start(channel);
    QTRY_COMPARE(b.text("result", channel), shown);
    QCOMPARE(b.text("calculation", channel), derived);
    QVERIFY(!b.w<QPushButton>("test", channel)->isEnabled());

    b.w<QSpinBox>("sampleNo", channel)->setValue(77);
    QPushButton* save = b.dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Save);
    save->click();
    const QString assay = b.w<QComboBox>("assay", channel)->currentText();
    Sample* sample = b.rig.workbench->analysisDoc()->sample("77");
    QVERIFY(sample);
    QCOMPARE(sample->tasks().size(), 1);
    Assay* task = sample->task(assay);
    QVERIFY(task);
    QCOMPARE(task->status(), tq::Finished);
    QCOMPARE(task->result().toString(AnalysisResult::Decorated, 'g', 4), shown);
    QVERIFY(task->result().isManualTest());

    QSignalSpy changes(task, &Assay::changed);
    save->click();
    QCOMPARE(changes.count(), 0); // saved before, unchanged
    b.select("dilution", channel, "1/2");
    save->click();
    QVERIFY(changes.count() > 0);
    QCOMPARE(task->dilution(), 0.5);
    QCOMPARE(task->status(), tq::Finished);
}

// Channels 1 and 5 open on the same sample with the same assay (the list
// wraps): Save refuses to put both results into one place, naming them.
void TestManualTest::clashingChannelsNotSaved()
{
    Bench b;
    b.open();
    QCOMPARE(b.w<QComboBox>("assay", 5)->currentText(), QStringLiteral("PT"));
    const int sampleNo = b.w<QSpinBox>("sampleNo", 1)->value();
    b.start(1);
    b.start(5);
    b.start(2);
    QTRY_COMPARE(b.text("result", 5), QStringLiteral("30"));
    QTRY_COMPARE(b.text("result", 1), QStringLiteral("30"));
    QTRY_COMPARE(b.text("result", 2), QStringLiteral("30"));

    QPushButton* save = b.dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Save);
    save->click();
    const QString clash = QStringLiteral("通道 1, 5: 样本 %1, PT").arg(sampleNo);
    QCOMPARE(b.rig.messages.texts().size(), 1);
    QVERIFY2(b.rig.messages.texts().first().contains(clash), qPrintable(b.rig.messages.texts().first()));
    QVERIFY(!b.rig.workbench->analysisDoc()->sample(QString::number(sampleNo)));

    // On different samples both are kept.
    b.rig.messages.clear();
    b.w<QSpinBox>("sampleNo", 5)->setValue(sampleNo + 1);
    save->click();
    QCOMPARE(b.rig.messages.texts(), QStringList());
    AnalysisDoc* doc = b.rig.workbench->analysisDoc();
    QVERIFY(doc->sample(QString::number(sampleNo)) && doc->sample(QString::number(sampleNo + 1)));
    QCOMPARE(doc->sample(QString::number(sampleNo))->tasks().size(), 2);
    QVERIFY(doc->sample(QString::number(sampleNo + 1))->task("PT"));
}

void TestManualTest::cancelAndReset()
{
    Bench b;
    b.script->final = false;
    ManualTest* dialog = b.open();
    b.start(1);
    b.start(2);

    // The cancel path releases the test and leaves the channel idle.
    QVERIFY(QMetaObject::invokeMethod(dialog, "test", Q_ARG(int, 0)));
    QCOMPARE(b.rig.server.requests("34"), QList<QByteArray>{"34000004D2"});
    QCOMPARE(b.text("test", 1), QStringLiteral("开始"));
    QVERIFY(b.w<QPushButton>("test", 1)->isEnabled());

    // A result of the cancelled test is not taken, and it is not asked for again.
    QVERIFY(QMetaObject::invokeMethod(dialog, "setResult", Q_ARG(int, 0), Q_ARG(AnalysisResult, AnalysisResult(30.0))));
    QCOMPARE(b.text("result", 1), QStringLiteral("---.-"));
    b.rig.server.clearRequests();
    {
        QMutexLocker lock(&b.script->mutex);
        b.script->final = true;
    }
    QTRY_COMPARE(b.text("result", 2), QStringLiteral("30"));
    // Polls of the running test may come before its final reply, one or more
    // depending on the machine's pace; the cancelled one is never among them.
    for (const QByteArray& poll : b.rig.server.requests("32"))
        QCOMPARE(poll, QByteArray("32000004D3"));

    // Reset releases every channel under test, also one holding its result.
    b.rig.server.clearRequests();
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Reset)->click();
    QCOMPARE(b.rig.server.requests("34"), QList<QByteArray>{"34000004D3"});
    QCOMPARE(b.text("result", 2), QStringLiteral("---.-"));
    QVERIFY(b.w<QPushButton>("test", 2)->isEnabled());
}

void TestManualTest::countdown_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("sound");
    QTest::newRow("channel 1") << 1 << "sound 0 Hz, 80 ms, pause 40 ms, 1 times";
    QTest::newRow("channel 5") << 5 << "sound 0 Hz, 80 ms, pause 40 ms, 5 times";
    QTest::newRow("channel 6") << 6 << "sound 1000 Hz, 80 ms, pause 40 ms, 1 times";
    QTest::newRow("channel 10") << 10 << "sound 1000 Hz, 80 ms, pause 40 ms, 5 times";
}

void TestManualTest::countdown()
{
    QFETCH(int, channel);
    QFETCH(QString, sound);
    Bench b;
    b.open();
    QSpinBox* timer = b.w<QSpinBox>("timer", channel);
    QPushButton* start = b.w<QPushButton>("start", channel);

    // From 0 the countdown ends at the first tick; then again, as it shows 0.
    timer->setValue(0);
    for (int round = 1; round <= 2; ++round) {
        sounds.clear();
        start->click();
        QCOMPARE(start->text(), QStringLiteral("停止计时"));
        QTRY_COMPARE_WITH_TIMEOUT(start->text(), QStringLiteral("开始计时"), 2500);
        QCOMPARE(sounds, QStringList{sound});
        QCOMPARE(timer->value(), 0);
    }

    // Stopped by hand, the remaining seconds stay.
    timer->setValue(300);
    start->click();
    QTRY_COMPARE_WITH_TIMEOUT(timer->value(), 299, 2500);
    start->click();
    QCOMPARE(start->text(), QStringLiteral("开始计时"));
    QCOMPARE(timer->value(), 299);
}

void TestManualTest::methodPopup_data()
{
    QTest::addColumn<bool>("choose");
    QTest::addColumn<QString>("method");
    QTest::newRow("second entry chosen") << true << "磁珠法";
    QTest::newRow("dismissed") << false << "光学法";
}

void TestManualTest::methodPopup()
{
    QFETCH(bool, choose);
    QFETCH(QString, method);
    Bench b;
    b.open();
    whenShown<QMenu>([choose](QMenu* menu) {
        if (choose)
            menu->setActiveAction(menu->actions().value(1));
        QTest::keyClick(menu, choose ? Qt::Key_Return : Qt::Key_Escape);
    });
    QVERIFY(QMetaObject::invokeMethod(b.w<QLabel>("method", 3), "linkActivated", Q_ARG(QString, "#")));
    QCOMPARE(b.text("method", 3), QStringLiteral("<a href=#>%1</a>").arg(method));
}

void TestManualTest::showManualTest()
{
    Bench b;
    QPointer<ManualTest> shown;
    QString title;
    whenShown<ManualTest>([&](ManualTest* d) {
        shown = d;
        title = d->windowTitle();
        d->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Close)->click();
    });
    b.rig.instrument->showManualTest();
    QCOMPARE(title, QStringLiteral("手动测试"));
    QVERIFY(shown.isNull());
}

QTEST_MAIN(TestManualTest)
#include "tst_manualtest.moc"
