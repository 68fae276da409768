#include <tqcore/assay.h>
#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include "core/messagepresenter.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPointer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "testthread.h"
#include "testtime.h"

#include <atomic>
#include <cstdlib>
#include <optional>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Whether the thread `tid` of this process sleeps in the kernel's lock call
// (futex), as a thread waiting for a contended mutex does; nothing when the
// system does not tell.
std::optional<bool> sleepsOnLock(pid_t tid)
{
    const QByteArray path = "/proc/self/task/" + QByteArray::number(tid) + "/syscall";
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return std::nullopt;
    // "running", or the number of the call the thread sleeps in and its arguments.
    return std::strtol(text, nullptr, 10) == SYS_futex && text[0] != 'r';
}

} // namespace

class TestTqWorkbench : public QObject
{
    Q_OBJECT

private slots:
    void instrInfoMethods();
    void tmpValuesShared();
    void tmpValuesFromThreads();
    void criticalFromWorkerThread();
    void informationAnswer();
    void assayDilution_data();
    void assayDilution();
    void assayFromThreads();
    void worklistWalkUnderMutex();
};

void TestTqWorkbench::instrInfoMethods()
{
    Workbench wb;
    QCOMPARE(Workbench::current(), &wb);
    QCOMPARE(wb.instrInfo().value(QStringLiteral("method")).toStringList(),
             (QStringList{QStringLiteral("光学法"), QStringLiteral("磁珠法")}));
    wb.setInstrInfo(QStringLiteral("method"), QStringList());
    QVERIFY(wb.instrInfo().value(QStringLiteral("method")).toStringList().isEmpty());
    QVERIFY(wb.worklist());
    QVERIFY(wb.resourceManager());
    QVERIFY(wb.reagentManager());
    QVERIFY(wb.assayManager());
    QVERIFY(wb.analysisDoc());
    QCOMPARE(wb.instrument(), nullptr);
}

void TestTqWorkbench::tmpValuesShared()
{
    Workbench wb;
    wb.setTmpValue(QStringLiteral("debug/sim"), true);
    QCOMPARE(TqApp::tmpValue(QStringLiteral("debug/sim")).toBool(), true);
    TqApp::setTmpValue(QStringLiteral("vela/added"), 3);
    QCOMPARE(wb.tmpValue(QStringLiteral("vela/added")).toInt(), 3);
    QCOMPARE(wb.tmpValue(QStringLiteral("none"), 7).toInt(), 7);
    wb.setTmpValue(QStringLiteral("debug/sim"), QVariant());
    QVERIFY(!TqApp::tmpValue(QStringLiteral("debug/sim")).isValid());
}

void TestTqWorkbench::tmpValuesFromThreads()
{
    Workbench wb;
    QAtomicInt torn;
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t) {
        threads.append(testsupport::createThread([&wb, &torn, t] {
            const QString key = QStringLiteral("thread/%1").arg(t);
            for (int n = 0; n < 20000; ++n) {
                wb.setTmpValue(key, n);
                if (wb.tmpValue(key).toInt() != n)
                    torn.ref();
                // Keys of the other threads are read while being written.
                wb.tmpValue(QStringLiteral("thread/%1").arg((t + 1) % 4));
                wb.setTmpValue(QStringLiteral("shared"), QString::number(n));
            }
        }));
        threads.last()->start();
    }
    for (QThread* t : threads) {
        QVERIFY(testsupport::join(t, 30000));
        delete t;
    }
    QCOMPARE(torn.loadRelaxed(), 0);
    QCOMPARE(wb.tmpValue(QStringLiteral("thread/2")).toInt(), 19999);
    QCOMPARE(wb.tmpValue(QStringLiteral("shared")).toString(), QStringLiteral("19999"));
}

void TestTqWorkbench::criticalFromWorkerThread()
{
    Workbench wb;
    tq::MessageRecorder recorder;
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    QElapsedTimer clock;
    clock.start();
    // The GUI thread waits on the worker without running its event loop: a
    // box marshalled into the GUI thread would never come back.
    QThread* worker = testsupport::createThread(
        [&] { answer = wb.critical(QStringLiteral("没有给%1指定位置").arg(QStringLiteral("12"))); });
    worker->start();
    QVERIFY(testsupport::join(worker, 5000));
    delete worker;
    QVERIFY(clock.elapsed() < testsupport::scaled(5000));
    QCOMPARE(answer, QMessageBox::Ok);
    QCOMPARE(recorder.texts(), QStringList{QStringLiteral("没有给12指定位置")});
    QCOMPARE(recorder.messages().first().icon, QMessageBox::Critical);
}

void TestTqWorkbench::informationAnswer()
{
    Workbench wb;
    tq::MessageRecorder recorder;
    QCOMPARE(wb.information(QStringLiteral("a"), QMessageBox::Yes | QMessageBox::No, QMessageBox::No), QMessageBox::No);
    recorder.setAnswer(QMessageBox::Yes);
    QCOMPARE(wb.information(QStringLiteral("b")), QMessageBox::Yes);
    QCOMPARE(recorder.messages().first().icon, QMessageBox::Information);
}

void TestTqWorkbench::assayDilution_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("1/1") << QStringLiteral("1/1") << 1.0;
    QTest::newRow("1/2") << QStringLiteral("1/2") << 0.5;
    QTest::newRow("1/10") << QStringLiteral("1/10") << 0.1;
    QTest::newRow("2/5") << QStringLiteral("2/5") << 0.4;
    QTest::newRow("unreadable stays 1") << QStringLiteral("abc") << 1.0;
    QTest::newRow("zero stays 1") << QStringLiteral("0/1") << 1.0;
    QTest::newRow("division by zero stays 1") << QStringLiteral("1/0") << 1.0;
}

void TestTqWorkbench::assayDilution()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    Assay a;
    a.setDilution(text);
    QCOMPARE(a.dilution(), expected);
    QCOMPARE(a.dilutionText(), text);
}

void TestTqWorkbench::assayFromThreads()
{
    Assay a(QStringLiteral("5"), QStringLiteral("A5"), QStringLiteral("APTT"));
    QSignalSpy spy(&a, &Assay::changed);
    QThread* writer = testsupport::createThread([&a] {
        for (int n = 1; n <= 5000; ++n) {
            a.setTestElapsed(n);
            a.setResult(AnalysisResult(double(n)));
            a.setTempValue(QStringLiteral("vela/id"), n);
            a.setMessage(QString::number(n));
        }
        a.setStatus(tq::Measuring);
    });
    writer->start();
    int last = 0;
    bool ordered = true;
    while (!writer->isFinished()) {
        const int now = a.tempValue(QStringLiteral("vela/id")).toInt();
        ordered = ordered && now >= last;
        last = now;
        a.result().value();
        a.message();
    }
    QVERIFY(testsupport::join(writer, 30000));
    delete writer;
    QVERIFY(ordered);
    QCOMPARE(a.result().value(), 5000.0);
    QCOMPARE(a.testElapsed(), 5000);
    QCOMPARE(a.status(), tq::Measuring);
    QCOMPARE(spy.count(), 4 * 5000 + 1);
}

void TestTqWorkbench::worklistWalkUnderMutex()
{
    Workbench wb;
    Worklist* list = wb.worklist();
    for (int i = 0; i < 3; ++i)
        list->append(new Assay(QString::number(i), QStringLiteral("A%1").arg(i + 1), QStringLiteral("PT")));
    QCOMPARE(list->count(), 3);
    QPointer<Assay> first = list->assays().first();
    QCOMPARE(first->parent(), list);

    // A walker in a worker thread holds the mutex; the GUI thread's removal
    // must wait until the walk is over. The walk ends only once the GUI
    // thread is seen asleep on a lock inside remove(), or the removal is
    // seen done: a remove() that does not wait is caught whatever the load.
    const pid_t guiThread = gettid();
    if (!sleepsOnLock(guiThread).has_value())
        QSKIP("needs /proc/self/task/<id>/syscall to see a thread wait for a lock");
    std::atomic<bool> removing{false};
    std::atomic<bool> removed{false};
    std::atomic<bool> walkOver{false};
    std::atomic<bool> removedDuringWalk{false};
    connect(list, &Worklist::assayRemoved, this, [&] {
        removedDuringWalk = !walkOver;
        removed = true;
    });
    QSemaphore locked;
    std::atomic<int> countInWalk{-1};
    std::atomic<bool> walkTimedOut{false};
    QThread* walker = testsupport::createThread([&] {
        QMutexLocker walk(list->mutex());
        locked.release();
        const QDeadlineTimer deadline(testsupport::scaled(10000));
        while (!removed && !(removing && sleepsOnLock(guiThread).value_or(false))) {
            if (deadline.hasExpired()) {
                walkTimedOut = true;
                break;
            }
            QThread::usleep(200);
        }
        countInWalk = int(list->assays().size()); // assays() works under the walking lock
        walkOver = true;
    });
    walker->start();
    locked.acquire();
    removing = true;
    list->remove(first);
    QVERIFY(testsupport::join(walker, testsupport::scaled(5000)));
    delete walker;
    QVERIFY2(!walkTimedOut, "the GUI thread neither waited in remove() nor removed the assay");
    QVERIFY2(!removedDuringWalk, "remove() did not wait for the walk");
    QCOMPARE(countInWalk.load(), 3);
    QVERIFY(first.isNull());
    QCOMPARE(list->count(), 2);
    list->remove(nullptr);
    list->clear();
    QCOMPARE(list->count(), 0);
}

QTEST_GUILESS_MAIN(TestTqWorkbench)
#include "tst_tqworkbench.moc"
