// Common functions: ratios, rounding, CRC-16, sample numbers and prefixes,
// scripts, message boxes, the cursor and flag guards.
#include "core/messagepresenter.h"
#include "core/profile.h"
#include "core/tqglobal.h"

// The library's round(double,int,char) and sleep(int) overload the C
// library's names; both must stay usable side by side.
#include <cmath>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <limits>
#include <memory>
#include <vector>

#include "testthread.h"

namespace {

// Bit-by-bit CRC-16/CCITT-FALSE, to check the table-driven one against.
quint16 crcBitwise(const QByteArray& data)
{
    quint16 crc = 0xFFFF;
    for (char c : data) {
        crc ^= quint16(uchar(c)) << 8;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

bool exec(QSqlQuery& q, const QString& sql)
{
    if (q.exec(sql))
        return true;
    qWarning() << sql << q.lastError();
    return false;
}

} // namespace

class tst_TqGlobal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void fraction_data();
    void fraction();
    void fractionFromManyThreads();
    void round_data();
    void round();
    void libcNamesStillResolve();
    void crc16_data();
    void crc16();
    void crc16MatchesBitwise();
    void dilutionList();
    void nextSampleNo_data();
    void nextSampleNo();
    void nextSampleNoWithoutTable();
    void samplePrefix_data();
    void samplePrefix();
    void setGeneratedValue();
    void eval_data();
    void eval();
    void loadScript_data();
    void loadScript();
    void messageBoxes_data();
    void messageBoxes();
    void recorderAnswer();
    void topLevelWidget();
    void waitCursor();
    void boolLocker_data();
    void boolLocker();
    void sleepBlocks();

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
};

void tst_TqGlobal::initTestCase()
{
    // Profile::instance() opens its databases in the current directory.
    QVERIFY(m_dir.isValid());
    m_oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName("profile.db");
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(exec(q, "create table profile (name text primary key, value)"));
        QVERIFY(exec(q, "insert into profile values ('statim_sample_prefix', 'E')"));
        db.setDatabaseName("data.db");
        QVERIFY(db.open());
        QSqlQuery p(db);
        QVERIFY(exec(p, "create table patient (sampleNo text, date text)"));
        for (const char* name : {"qc.db", "syslog.db"}) {
            db.close();
            db.setDatabaseName(name);
            QVERIFY(db.open());
            QSqlQuery t(db);
            QVERIFY(exec(t, "create table t (id integer)"));
        }
    }
    QSqlDatabase::removeDatabase("setup");
    tq::MessageRecorder boxes;
    Profile::instance();
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_TqGlobal::cleanupTestCase()
{
    QDir::setCurrent(m_oldCwd);
}

void tst_TqGlobal::fraction_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("ok");
    QTest::newRow("1/10") << "1/10" << 0.1 << true;
    QTest::newRow("colon with blanks") << "3 : 4" << 0.75 << true;
    QTest::newRow("negative") << "-3:4" << -0.75 << true;
    QTest::newRow("signs on both") << "+2/-4" << -0.5 << true;
    QTest::newRow("decimal") << "1.5/3" << 0.5 << true;
    QTest::newRow("inside other text") << "x 2/5 y" << 0.4 << true;
    QTest::newRow("first of two") << "1/2 and 1/4" << 0.5 << true;
    QTest::newRow("division by zero") << "1/0" << std::numeric_limits<double>::infinity() << true;
    QTest::newRow("no ratio") << "abc" << 0.0 << false;
    QTest::newRow("empty") << "" << 0.0 << false;
    QTest::newRow("lone number") << "5" << 0.0 << false;
    QTest::newRow("other separator") << "1-2" << 0.0 << false;
}

void tst_TqGlobal::fraction()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QFETCH(bool, ok);
    bool gotOk = !ok;
    QCOMPARE(::fraction(text, &gotOk), expected);
    QCOMPARE(gotOk, ok);
    QCOMPARE(::fraction(text), expected); // a null flag is allowed
}

void tst_TqGlobal::fractionFromManyThreads()
{
    // The first calls of all threads race on the shared expression.
    const QStringList texts = ::dilutionList();
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(testsupport::createThread([&, t] {
            while (!go.load())
                QThread::yieldCurrentThread();
            for (int n = 0; n < 5000; ++n) {
                const int i = (n + t) % texts.size();
                const QStringList parts = texts.at(i).split('/');
                bool ok = false;
                if (::fraction(texts.at(i), &ok) != parts[0].toDouble() / parts[1].toDouble() || !ok)
                    ++wrong;
            }
        }));
        threads.back()->start();
    }
    go = true;
    for (auto& t : threads)
        QVERIFY(testsupport::join(t, 30000));
    QCOMPARE(wrong.load(), 0);
}

void tst_TqGlobal::round_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("precision");
    QTest::addColumn<char>("format");
    QTest::addColumn<double>("expected");
    QTest::newRow("2 decimals") << 2.345678 << 2 << 'f' << 2.35;
    QTest::newRow("3 significant") << 2.345678 << 3 << 'g' << 2.35;
    QTest::newRow("0 decimals") << 12.7 << 0 << 'f' << 13.0;
    QTest::newRow("negative") << -1.26 << 1 << 'f' << -1.3;
    QTest::newRow("exponent") << 12345.0 << 2 << 'e' << 12300.0;
}

void tst_TqGlobal::round()
{
    QFETCH(double, value);
    QFETCH(int, precision);
    QFETCH(char, format);
    QFETCH(double, expected);
    QCOMPARE(::round(value, precision, format), expected);
}

void tst_TqGlobal::libcNamesStillResolve()
{
    QCOMPARE(std::round(2.5), 3.0);
    QCOMPARE(::round(2.5), 3.0); // one argument: the C library's
    QCOMPARE(::sleep(0u), 0u);   // unsigned: the C library's (seconds)
    QElapsedTimer timer;
    timer.start();
    ::sleep(1); // int: ours (milliseconds)
    QVERIFY(timer.elapsed() < 900);
}

void tst_TqGlobal::crc16_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expected");
    QTest::newRow("check value") << QByteArray("123456789") << 9 << 0x29B1;
    QTest::newRow("one byte") << QByteArray("A") << 1 << 0xB915;
    QTest::newRow("empty") << QByteArray() << 0 << 0xFFFF;
    QTest::newRow("negative length") << QByteArray("123") << -1 << 0xFFFF;
    QTest::newRow("prefix only") << QByteArray("123456789") << 1 << int(crcBitwise("1"));
}

void tst_TqGlobal::crc16()
{
    QFETCH(QByteArray, data);
    QFETCH(int, length);
    QFETCH(int, expected);
    QCOMPARE(int(::crc16(data.constData(), length)), expected);
}

void tst_TqGlobal::crc16MatchesBitwise()
{
    // Every table entry is reached by some byte after some state.
    QByteArray data;
    for (int i = 0; i < 4096; ++i)
        data.append(char((i * 131 + i / 7) & 0xFF));
    for (int len : {2, 17, 256, 1000, 4096})
        QCOMPARE(::crc16(data.constData(), len), crcBitwise(data.left(len)));
}

void tst_TqGlobal::dilutionList()
{
    const QStringList list = ::dilutionList();
    QCOMPARE(list.size(), 19);
    QCOMPARE(list.first(), QString("1/1"));
    QCOMPARE(list.last(), QString("4/5"));
    QCOMPARE(list.at(5), QString("1/10"));
    for (const QString& text : list) {
        bool ok = false;
        const double f = ::fraction(text, &ok);
        QVERIFY2(ok && f > 0.0 && f <= 1.0, qPrintable(text));
    }
}

void tst_TqGlobal::nextSampleNo_data()
{
    QTest::addColumn<QStringList>("sampleNos");
    QTest::addColumn<int>("expected");
    QTest::newRow("1, 2, 10 -> 11") << QStringList{"1", "2", "10"} << 11;
    QTest::newRow("no patients") << QStringList() << 1;
    QTest::newRow("9 and 10 as text") << QStringList{"9", "10"} << 11;
    QTest::newRow("no leading digits counts 0") << QStringList{"A5"} << 1;
    QTest::newRow("leading digits count") << QStringList{"7b", "3"} << 8;
}

void tst_TqGlobal::nextSampleNo()
{
    QFETCH(QStringList, sampleNos);
    QFETCH(int, expected);
    const QDate day(2024, 3, 5);
    QSqlQuery q(Profile::instance().dataDatabase());
    QVERIFY(exec(q, "delete from patient"));
    // Another day's numbers never count.
    QVERIFY(q.prepare("insert into patient (sampleNo, date) values (?, ?)"));
    q.addBindValue("500");
    q.addBindValue(day.addDays(1));
    QVERIFY(q.exec());
    for (const QString& no : sampleNos) {
        QVERIFY(q.prepare("insert into patient (sampleNo, date) values (?, ?)"));
        q.addBindValue(no);
        q.addBindValue(day);
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
    QCOMPARE(::nextSampleNo(day), expected);
}

void tst_TqGlobal::nextSampleNoWithoutTable()
{
    QSqlQuery q(Profile::instance().dataDatabase());
    QVERIFY(exec(q, "alter table patient rename to patient_saved"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\.\\\\tqglobal\\(158\\): QSqlError"));
    const int no = ::nextSampleNo(QDate(2024, 3, 5));
    QVERIFY(exec(q, "alter table patient_saved rename to patient"));
    QCOMPARE(no, 1);
}

void tst_TqGlobal::samplePrefix_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected");
    QTest::newRow("emergency from settings") << 1 << "E";
    QTest::newRow("qc default") << 2 << "QC";
    QTest::newRow("routine") << 0 << "";
    QTest::newRow("unknown") << 7 << "";
}

void tst_TqGlobal::samplePrefix()
{
    QFETCH(int, type);
    QFETCH(QString, expected);
    QCOMPARE(::samplePrefix(tq::SampleType(type)), expected);
}

void tst_TqGlobal::setGeneratedValue()
{
    QSqlRecord record;
    record.append(QSqlField("sampleNo", QMetaType(QMetaType::QString)));
    record.setGenerated("sampleNo", false);
    ::setGeneratedValue(record, "sampleNo", "12");
    QCOMPARE(record.value("sampleNo"), QVariant("12"));
    QVERIFY(record.isGenerated("sampleNo"));
}

void tst_TqGlobal::eval_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("1/4") << "1/4" << QVariant(0.25);
    QTest::newRow("text") << "'a' + 'b'" << QVariant("ab");
    QTest::newRow("boolean") << "3 > 2" << QVariant(true);
    QTest::newRow("syntax error") << "1 +* 2" << QVariant();
    QTest::newRow("reference error") << "noSuchName * 2" << QVariant();
    QTest::newRow("no globals left from before") << "typeof leftOver" << QVariant("undefined");
}

void tst_TqGlobal::eval()
{
    QFETCH(QString, expression);
    QFETCH(QVariant, expected);
    tq::MessageRecorder boxes;
    ::eval("var leftOver = 1");
    const QVariant got = ::eval(expression);
    if (expected.typeId() == QMetaType::Double)
        QCOMPARE(got.toDouble(), expected.toDouble());
    else
        QCOMPARE(got, expected);
    QVERIFY2(boxes.texts().isEmpty(), "eval reports no errors");
}

void tst_TqGlobal::loadScript_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<QString>("boxStart");
    QTest::newRow("value") << QByteArray("var x = 6;\nx * 7") << QVariant(42) << QString();
    QTest::newRow("utf-8 text") << QByteArray("'血凝' + 1") << QVariant(QStringLiteral("血凝1")) << QString();
    QTest::newRow("syntax error") << QByteArray("var = ;\n") << QVariant() << "SyntaxError";
    QTest::newRow("thrown error") << QByteArray("function f() { throw new Error('boom'); }\nf();\n") << QVariant()
                                  << "Error: boom\n";
    QTest::newRow("missing file: undefined") << QByteArray() << QVariant() << QString();
    QTest::newRow("thrown value") << QByteArray("throw 5;") << QVariant() << "5\n";
}

void tst_TqGlobal::loadScript()
{
    QFETCH(QByteArray, program);
    QFETCH(QVariant, expected);
    QFETCH(QString, boxStart);
    QString file = m_dir.filePath("no such script.js");
    if (!program.isEmpty()) {
        file = m_dir.filePath("script.js");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(program);
    }

    tq::MessageRecorder boxes;
    const QVariant got = ::load_script(file);
    if (expected.typeId() == QMetaType::Int)
        QCOMPARE(got.toInt(), expected.toInt());
    else
        QCOMPARE(got, expected);
    if (boxStart.isEmpty()) {
        QCOMPARE(boxes.texts(), QStringList());
        return;
    }
    QCOMPARE(boxes.messages().size(), 1);
    QCOMPARE(boxes.messages().first().icon, QMessageBox::Critical);
    const QString text = boxes.texts().first();
    QVERIFY2(text.startsWith(boxStart), qPrintable(text));
    QVERIFY2(text.contains('\n'), qPrintable(text));
    if (QTest::currentDataTag() == QByteArray("thrown error"))
        QVERIFY2(text.contains("script.js"), qPrintable(text)); // the backtrace names the file
}

void tst_TqGlobal::messageBoxes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("answer");
    QTest::newRow("information, default") << 0 << int(QMessageBox::Ok) << int(QMessageBox::NoButton)
                                          << int(QMessageBox::Information) << int(QMessageBox::Ok);
    QTest::newRow("question, default No") << 1 << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::No)
                                          << int(QMessageBox::Question) << int(QMessageBox::No);
    QTest::newRow("question, first button")
        << 1 << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::NoButton) << int(QMessageBox::Question)
        << int(QMessageBox::Yes);
    QTest::newRow("warning") << 2 << int(QMessageBox::Ok | QMessageBox::Cancel) << int(QMessageBox::Cancel)
                             << int(QMessageBox::Warning) << int(QMessageBox::Cancel);
    QTest::newRow("critical") << 3 << int(QMessageBox::Ok) << int(QMessageBox::NoButton) << int(QMessageBox::Critical)
                              << int(QMessageBox::Ok);
}

void tst_TqGlobal::messageBoxes()
{
    QFETCH(int, kind);
    QFETCH(int, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, icon);
    QFETCH(int, answer);
    using Box = QMessageBox::StandardButton (*)(const QString&, QMessageBox::StandardButtons,
                                                QMessageBox::StandardButton);
    const Box boxes[] = {&information, &question, &warning, &critical};
    tq::MessageRecorder recorder;
    const auto got = boxes[kind]("text", QMessageBox::StandardButtons(buttons),
                                 QMessageBox::StandardButton(defaultButton));
    QCOMPARE(int(got), answer);
    QCOMPARE(recorder.messages().size(), 1);
    QCOMPARE(int(recorder.messages().first().icon), icon);
    QCOMPARE(recorder.texts(), QStringList{"text"});
}

void tst_TqGlobal::recorderAnswer()
{
    tq::MessageRecorder outer;
    {
        tq::MessageRecorder inner;
        inner.setAnswer(QMessageBox::No);
        QCOMPARE(question("inner?", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes), QMessageBox::No);
        // From another thread too.
        QThread* t = testsupport::createThread([] { warning("from worker"); });
        t->start();
        QVERIFY(testsupport::join(t, 5000));
        delete t;
        QCOMPARE(inner.texts(), (QStringList{"inner?", "from worker"}));
    }
    // The inner recorder put the outer one back.
    information("outer");
    QCOMPARE(outer.texts(), QStringList{"outer"});
}

void tst_TqGlobal::topLevelWidget()
{
    QCOMPARE(::topLevelWidget(), nullptr);
    QWidget window;
    QWidget* child = new QWidget(&window);
    window.show();
    QApplication::setActiveWindow(child);
    if (!QApplication::activeWindow())
        QSKIP("this platform plug-in has no active window");
    QCOMPARE(::topLevelWidget(), &window);
}

void tst_TqGlobal::waitCursor()
{
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    {
        WaitCursor busy;
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            WaitCursor arrow(Qt::ArrowCursor);
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
        }
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        // A guard in a worker thread does nothing.
        QThread* t = testsupport::createThread([] { WaitCursor inWorker(Qt::CrossCursor); });
        t->start();
        QVERIFY(testsupport::join(t, 5000));
        delete t;
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void tst_TqGlobal::boolLocker_data()
{
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("inside");
    QTest::newRow("true, locked false") << true << false;
    QTest::newRow("false, locked true") << false << true;
    QTest::newRow("true, locked true") << true << true;
}

void tst_TqGlobal::boolLocker()
{
    QFETCH(bool, before);
    QFETCH(bool, inside);
    bool flag = before;
    {
        BoolLocker lock(flag, inside);
        QCOMPARE(flag, inside);
        flag = !inside; // changed inside the scope: still restored
    }
    QCOMPARE(flag, before);
}

void tst_TqGlobal::sleepBlocks()
{
    QElapsedTimer timer;
    timer.start();
    ::sleep(60);
    QVERIFY(timer.elapsed() >= 55);
}

QTEST_MAIN(tst_TqGlobal)
#include "tst_tqglobal.moc"
