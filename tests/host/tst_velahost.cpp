// velahost run as a user starts it: the built program, the built plug-in and
// Linkhub with its simulated analyzer, each run on its own TCP port and
// semaphore key, at a high simulation speed.

#include <algorithm>

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "hubport.h"
#include "testtime.h"

namespace {

struct Run
{
    int exitCode = -1;
    QString output; // stdout and stderr
    qint64 ms = 0;
};

int countRows(const QString& file, const QString& sql)
{
    const QString name = QStringLiteral("count-%1").arg(file);
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                n = q.value(0).toInt();
            else
                qWarning() << sql << q.lastError();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return n;
}

// "velahost run" of a worklist file at speed 300, its report as JSON.
QStringList worklistRun(const QString& data, const QString& csv, const QString& json)
{
    return {QStringLiteral("run"),
            QStringLiteral("--data"),
            data,
            QStringLiteral("--worklist"),
            csv,
            QStringLiteral("--speed"),
            QStringLiteral("300"),
            QStringLiteral("--json"),
            json};
}

} // namespace

class TestVelahost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void info();
    void noRuntimeFolderWarning_data();
    void noRuntimeFolderWarning();
    void demoRun();
    void csvRun();
    void resumeAfterKill();
    void badCsv_data();
    void badCsv();
    void noLinkhub();
    void linkFaultsSurvived_data();
    void linkFaultsSurvived();
    void linkhubRestartWithAnalyzerOnPty();
    void runBound();
    void serviceGrab_data();
    void serviceGrab();

private:
    // extraEnv: NAME=value to set, NAME alone to unset.
    Run velahost(const QStringList& arguments, const QStringList& extraEnv = {}, int limitMs = 150000,
                 int killAfterResults = 0);
    Run runOnce(const QStringList& arguments, const QStringList& extraEnv, int limitMs, int killAfterResults);
    testsupport::HubPort hubPort;
    bool haveDriver = false;
    int runNo = 0;
};

void TestVelahost::initTestCase()
{
    const QDir bin = QFileInfo(QStringLiteral(VELAHOST_PROGRAM)).dir();
    haveDriver = QFile::exists(bin.filePath(QStringLiteral("instruments/libInstrVela.so")))
                 && QFile::exists(bin.filePath(QStringLiteral("Linkhub")));
}

// killAfterResults > 0: the run is killed (SIGKILL) as soon as it has
// printed that many results; its exit code is then -1.
Run TestVelahost::velahost(const QStringList& arguments, const QStringList& extraEnv, int limitMs, int killAfterResults)
{
    // Every run gets a port of its own: the hub of the run before may still
    // be waiting out its idle time on the last one. A Linkhub that finds its
    // port held by another program leaves without writing the port file: a
    // run that failed without reaching a hub of its own is made again on
    // another port (unless it names a Linkhub of its own).
    const bool namesLinkhub = std::any_of(extraEnv.cbegin(), extraEnv.cend(), [](const QString& kv) {
        return kv.startsWith(QLatin1String("VELA_LINKHUB="));
    });
    Run r;
    for (int attempt = 0; attempt < 3; ++attempt) {
        hubPort.next();
        r = runOnce(arguments, extraEnv, limitMs, killAfterResults);
        if (r.exitCode == 0 || namesLinkhub || hubPort.served())
            break;
    }
    return r;
}

Run TestVelahost::runOnce(const QStringList& arguments, const QStringList& extraEnv, int limitMs, int killAfterResults)
{
    limitMs = testsupport::scaled(limitMs);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    hubPort.exportTo(&env);
    env.insert(QStringLiteral("VELA_LINKHUB_KEY"),
               QStringLiteral("tst_velahost_%1_%2").arg(QCoreApplication::applicationPid()).arg(++runNo));
    // Linkhub goes soon after its last client.
    env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("500"));
    env.remove(QStringLiteral("VELA_LINKHUB"));
    env.remove(QStringLiteral("VELA_SIM_FAULTS"));
    for (const QString& kv : extraEnv) {
        const int eq = int(kv.indexOf(QLatin1Char('=')));
        if (eq < 0)
            env.remove(kv); // a name alone: unset
        else
            env.insert(kv.left(eq), kv.mid(eq + 1));
    }
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral(VELAHOST_PROGRAM), arguments);
    Run r;
    if (killAfterResults > 0) {
        // A result line: two blanks, sample, position and assay, a colon.
        static const QRegularExpression resultLine(QStringLiteral("(^|\n)  \\S+ \\S+ \\S+: "));
        QByteArray seen;
        while (p.state() != QProcess::NotRunning && clock.elapsed() < limitMs
               && QString::fromUtf8(seen).count(resultLine) < killAfterResults) {
            p.waitForReadyRead(200);
            seen += p.readAll();
        }
        p.kill();
        p.waitForFinished(5000);
        r.output = QString::fromUtf8(seen + p.readAll());
        return r;
    }
    if (!p.waitForFinished(limitMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.output = QString::fromUtf8(p.readAll());
        qWarning("velahost did not end within %d ms:\n%s", limitMs, qUtf8Printable(r.output));
        return r;
    }
    r.ms = clock.elapsed();
    r.output = QString::fromUtf8(p.readAll());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

void TestVelahost::info()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("new/folder"));
    const Run r = velahost({QStringLiteral("info"), QStringLiteral("--data"), data});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Class:      InstrVela")), qPrintable(r.output));
    QVERIFY(r.output.contains(QStringLiteral("Z1    Buffer")));
    QVERIFY(r.output.contains(QStringLiteral("Z2    Rinse")));
    for (const char* db : {"profile.db", "data.db", "qc.db", "syslog.db"})
        QVERIFY2(QFile::exists(data + QLatin1Char('/') + QLatin1String(db)), db);
}

// Started without XDG_RUNTIME_DIR (a root shell, ssh, cron), velahost makes
// a private runtime folder of its own rather than let Qt print a warning
// before its first line; a name taken by anything not its own is left alone.
void TestVelahost::noRuntimeFolderWarning_data()
{
    QTest::addColumn<QString>("variable"); // "-" unset
    QTest::addColumn<QString>("planted");  // what holds the name before: "", "open", "link", "foreign"

    QTest::newRow("unset") << QStringLiteral("-") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("own folder open to all") << QStringLiteral("-") << QStringLiteral("open");
    QTest::newRow("a link in its place") << QStringLiteral("-") << QStringLiteral("link");
    QTest::newRow("another user's folder") << QStringLiteral("-") << QStringLiteral("foreign");
}

void TestVelahost::noRuntimeFolderWarning()
{
    QFETCH(QString, variable);
    QFETCH(QString, planted);
    QTemporaryDir tmp;
    const QString name = tmp.filePath(QStringLiteral("runtime-%1").arg(::geteuid()));
    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
    const QFileDevice::Permissions open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                          | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                          | QFileDevice::ExeOther;
    if (planted == QLatin1String("open")) {
        QVERIFY(QDir().mkdir(name));
        QVERIFY(QFile::setPermissions(name, open));
    } else if (planted == QLatin1String("link")) {
        QVERIFY(QDir().mkdir(elsewhere));
        QVERIFY(QFile::setPermissions(elsewhere, open));
        QVERIFY(QFile::link(elsewhere, name));
    } else if (planted == QLatin1String("foreign")) {
        QVERIFY(QDir().mkdir(name));
        QVERIFY(QFile::setPermissions(name, open));
        if (::chown(QFile::encodeName(name).constData(), 65534, 65534) != 0)
            QSKIP("needs to give a folder to another user (root)");
    }

    const Run r = velahost({QStringLiteral("info"), QStringLiteral("--data"), tmp.filePath(QStringLiteral("data"))},
                           {QStringLiteral("TMPDIR=") + tmp.path(),
                            variable == QLatin1String("-") ? QStringLiteral("XDG_RUNTIME_DIR")
                                                           : QStringLiteral("XDG_RUNTIME_DIR=") + variable});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.startsWith(QStringLiteral("Data folder: ")), qPrintable(r.output));
    QVERIFY2(!r.output.contains(QStringLiteral("QStandardPaths")), qPrintable(r.output));

    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QFileDevice::Permissions all = open | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QString used = name;
    if (planted == QLatin1String("link") || planted == QLatin1String("foreign")) {
        // Left as it was; a fresh folder beside it.
        QCOMPARE(QFileInfo(name).isSymLink(), planted == QLatin1String("link"));
        QCOMPARE(QFileInfo(planted == QLatin1String("link") ? elsewhere : name).permissions() & all, open);
        const QStringList fresh = QDir(tmp.path())
                                      .entryList({QFileInfo(name).fileName() + QStringLiteral("-*")},
                                                 QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(fresh.size(), 1);
        used = tmp.filePath(fresh.first());
    }
    const QFileInfo folder(used);
    QVERIFY(folder.isDir() && !folder.isSymLink());
    QCOMPARE(folder.ownerId(), uint(::geteuid()));
    QCOMPARE(folder.permissions() & all, owner);
}

void TestVelahost::demoRun()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString json = dir.filePath(QStringLiteral("out.json"));
    const Run r = velahost({QStringLiteral("run"), QStringLiteral("--data"), data, QStringLiteral("--speed"),
                            QStringLiteral("300"), QStringLiteral("--json"), json});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Summary: 16 of 16 assays with a result")), qPrintable(r.output));

    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonArray results = root.value(QStringLiteral("results")).toArray();
    QCOMPARE(results.size(), 16);
    QSet<QString> samples;
    for (const QJsonValue& v : results) {
        const QJsonObject o = v.toObject();
        const QString name = o.value(QStringLiteral("sample")).toString() + QLatin1Char(' ')
                             + o.value(QStringLiteral("assay")).toString();
        samples << o.value(QStringLiteral("sample")).toString();
        QVERIFY2(o.value(QStringLiteral("value")).toDouble() > 0.0, qPrintable(name));
        QVERIFY2(!o.value(QStringLiteral("text")).toString().isEmpty(), qPrintable(name));
        QVERIFY2(o.value(QStringLiteral("channel")).toInt() >= 1, qPrintable(name));
        QVERIFY2(o.value(QStringLiteral("points")).toInt() > 0, qPrintable(name));
        // A console run speaks English, the driver's texts too.
        QVERIFY2(o.value(QStringLiteral("report")).toString().contains(QStringLiteral("Test channel:")),
                 qPrintable(name));
        const QString png = o.value(QStringLiteral("png")).toString();
        QVERIFY2(QFileInfo(png).size() > 1000, qPrintable(png));
        QVERIFY(png.startsWith(data + QStringLiteral("/curves/")));
    }
    QCOMPARE(samples.size(), 4);
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from curve")), 16);
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from patient")), 4);

    // A second demonstration gets the next sample numbers of the day.
    const Run again = velahost(
        {QStringLiteral("run"), QStringLiteral("--data"), data, QStringLiteral("--speed"), QStringLiteral("300")});
    QVERIFY2(again.exitCode == 0, qPrintable(again.output));
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from patient")), 8);
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from curve")), 32);
}

void TestVelahost::csvRun()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString csv = dir.filePath(QStringLiteral("list.csv"));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("sample,position,assay,dilution,method\n"
               "# two samples on the B rack\n"
               "S-7,B1,PT,1/1,光学法\n"
               "S-7,B1,APTT,1/2,磁珠法\n"
               "\"S 8\",B20,FIB,1/10,\n"
               "S 8,B20,TT,1/1,bead\n");
    file.close();
    const QString json = dir.filePath(QStringLiteral("out.json"));
    const QStringList args = worklistRun(data, csv, json);
    const Run r = velahost(args);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Summary: 4 of 4 assays with a result")), qPrintable(r.output));
    QFile out(json);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QJsonArray results =
        QJsonDocument::fromJson(out.readAll()).object().value(QStringLiteral("results")).toArray();
    QCOMPARE(results.size(), 4);
    QCOMPARE(results.at(2).toObject().value(QStringLiteral("sample")).toString(), QStringLiteral("S 8"));
    QCOMPARE(results.at(2).toObject().value(QStringLiteral("position")).toString(), QStringLiteral("B20"));
    QCOMPARE(results.at(1).toObject().value(QStringLiteral("method")).toString(), QStringLiteral("磁珠法"));

    // The same samples again: their rows are reused and every curve is
    // replaced, not doubled.
    const Run again = velahost(args);
    QVERIFY2(again.exitCode == 0, qPrintable(again.output));
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from patient")), 2);
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from curve")), 4);
    QCOMPARE(countRows(data + QStringLiteral("/data.db"), QStringLiteral("select count(*) from result")), 4);
}

// The host killed in the middle of a run: what it showed is stored, and the
// same worklist run again resumes the run and reports every entry once. Here
// the analyzer (the simulator inside Linkhub) goes with the host: the tests
// it held end as lost when their assays come again, and the run after that
// measures them anew. (velahostkills covers an analyzer that outlives it.)
void TestVelahost::resumeAfterKill()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString csv = dir.filePath(QStringLiteral("list.csv"));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray list = "sample,position,assay,dilution,method\n";
    for (int i = 0; i < 8; ++i)
        list += "R-" + QByteArray::number(i / 2) + ",A" + QByteArray::number(i / 2 + 1) + (i % 2 ? ",APTT" : ",PT")
                + ",1/1,\n";
    list += "R-0,A1,PT,1/1,\n"; // a repeat of the first entry: an entry of its own
    file.write(list);
    file.close();
    const QString json = dir.filePath(QStringLiteral("out.json"));
    const QStringList args = worklistRun(data, csv, json);
    const QString db = data + QStringLiteral("/data.db");
    auto results = [&] { return countRows(db, QStringLiteral("select count(*) from result")); };

    const Run killed = velahost(args, {}, 150000, 3);
    QVERIFY2(killed.exitCode == -1, qPrintable(killed.output));
    const int stored = results();
    QVERIFY2(stored >= 3 && stored < 9, qPrintable(QString::number(stored)));

    const Run resumed = velahost(args);
    QVERIFY2(resumed.output.contains(QStringLiteral("%1 of 9 entries have a result stored already").arg(stored)),
             qPrintable(resumed.output));
    QVERIFY2(resumed.output.contains(QStringLiteral("Queued %1 assays").arg(9 - stored)), qPrintable(resumed.output));
    const int afterResume = results();
    if (afterResume < 9) {
        QVERIFY2(resumed.exitCode == 1, qPrintable(resumed.output));
        QVERIFY2(resumed.output.contains(QStringLiteral("The analyzer lost this test")), qPrintable(resumed.output));
    }

    const Run last = velahost(args);
    QVERIFY2(last.exitCode == 0, qPrintable(last.output));
    QVERIFY2(last.output.contains(
                 QStringLiteral("Summary: 9 of 9 assays with a result (%1 stored by an earlier part").arg(afterResume)),
             qPrintable(last.output));
    QCOMPARE(results(), 9);
    QCOMPARE(countRows(db, QStringLiteral("select count(*) from curve")), 9);
    QCOMPARE(countRows(db, QStringLiteral("select count(distinct item) from result join patient on patient.id = "
                                          "result.patientId where sampleNo = 'R-0'")),
             3);

    QFile out(json);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QJsonArray entries =
        QJsonDocument::fromJson(out.readAll()).object().value(QStringLiteral("results")).toArray();
    QCOMPARE(entries.size(), 9);
    int earlier = 0;
    for (const QJsonValue& v : entries) {
        const QJsonObject o = v.toObject();
        earlier += o.value(QStringLiteral("earlier")).toBool() ? 1 : 0;
        QVERIFY(o.value(QStringLiteral("value")).toDouble() > 0.0);
        QVERIFY(o.value(QStringLiteral("points")).toInt() > 0);
    }
    QCOMPARE(earlier, afterResume);

    // The run is complete: the same list again is a new run, measured anew.
    const Run again = velahost(args);
    QVERIFY2(again.exitCode == 0, qPrintable(again.output));
    QVERIFY2(again.output.contains(QStringLiteral("Queued 9 assays")), qPrintable(again.output));
    QVERIFY(!again.output.contains(QStringLiteral("Resuming")));
}

void TestVelahost::badCsv_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown position") << QByteArray(
        "sample,position,assay,dilution,method\n1,A1,PT,1/1,\n2,C7,PT,1/1,\n")
                                      << "line 3: unknown position 'C7'";
    QTest::newRow("bad dilution") << QByteArray("sample,position,assay,dilution,method\n1,A1,PT,3/2,\n")
                                  << "bad dilution '3/2'";
    QTest::newRow("no header") << QByteArray("1,A1,PT,1/1,\n") << "header must be";
    QTest::newRow("missing file") << QByteArray() << "No such file";
}

void TestVelahost::badCsv()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString csv = dir.filePath(QStringLiteral("list.csv"));
    if (!content.isEmpty()) {
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // In an unknown locale, where the windows speak Chinese, the console
    // and Qt's own file error in it are English all the same.
    const Run r = velahost({QStringLiteral("run"), QStringLiteral("--data"), data, QStringLiteral("--worklist"), csv},
                           {QStringLiteral("VELA_LINKHUB=/nonexistent/Linkhub"), QStringLiteral("LANG=C"),
                            QStringLiteral("LC_ALL"), QStringLiteral("LC_MESSAGES"), QStringLiteral("VELA_LANG")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.output.contains(expected), qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("nothing was run")), qPrintable(r.output));
    QVERIFY(!r.output.contains(QStringLiteral("Connecting")));
    QVERIFY(!QFileInfo::exists(data)); // the data folder is not even made
}

void TestVelahost::noLinkhub()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in built beside velahost");
    QTemporaryDir dir;
    const Run r = velahost({QStringLiteral("run"), QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
                            QStringLiteral("--speed"), QStringLiteral("300")},
                           {QStringLiteral("VELA_LINKHUB=") + dir.filePath(QStringLiteral("no/Linkhub"))});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.output.contains(QStringLiteral("no connection to the analyzer")), qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Linkhub program ") + dir.filePath(QStringLiteral("no/Linkhub"))
                               + QStringLiteral(" is missing")),
             qPrintable(r.output));
    QVERIFY(!r.output.contains(QStringLiteral("Queued")));
}

namespace {
// Value of each assay by sample position and assay name (the sample numbers
// go on from run to run), from a run's JSON file.
QMap<QString, double> resultValues(const QString& jsonFile)
{
    QMap<QString, double> values;
    QFile file(jsonFile);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    const QJsonArray results =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("results")).toArray();
    for (const QJsonValue& v : results) {
        const QJsonObject o = v.toObject();
        values.insert(o.value(QStringLiteral("position")).toString() + QLatin1Char(' ')
                          + o.value(QStringLiteral("assay")).toString(),
                      o.value(QStringLiteral("value")).toDouble());
    }
    return values;
}
} // namespace

// Faults of the link during a run: the run goes on through each and ends
// with every result, the same as a run without faults gives (the simulated
// analyzer draws its clot times from its seed in the order tests arrive), so
// nothing is lost, doubled or filed under another sample.
void TestVelahost::linkFaultsSurvived_data()
{
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<bool>("losses");

    QTest::newRow("connection dropped, once at a 31")
        << QStringList{QStringLiteral("VELA_SIM_FAULTS=drop:32,after=10;drop:31,after=5")} << true;
    QTest::newRow("stray lines") << QStringList{QStringLiteral(
        "VELA_SIM_FAULTS=stray:32,after=3,count=30;stray:60,count=10;stray:24,count=all")}
                                 << false;
    QTest::newRow("analyzer silent past the reply time-out")
        << QStringList{QStringLiteral("VELA_SIM_FAULTS=delay:32,ms=1500,after=12,count=2"),
                       QStringLiteral("VELA_TALK_TIMEOUT_MS=400")}
        << true;
}

void TestVelahost::linkFaultsSurvived()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QFETCH(QStringList, env);
    QFETCH(bool, losses);
    // The simulated analyzer lives in Linkhub: it must outlive the driver's
    // absence (first retry after 1 s) to keep its tests.
    const QString idle = QStringLiteral("VELA_LINKHUB_IDLE=5000");
    env << idle;
    QTemporaryDir dir;
    const QStringList base{QStringLiteral("run"), QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
                           QStringLiteral("--speed"), QStringLiteral("300")};
    const QString sound = dir.filePath(QStringLiteral("sound.json"));
    const Run reference = velahost(base + QStringList{QStringLiteral("--json"), sound}, {idle});
    QVERIFY2(reference.exitCode == 0, qPrintable(reference.output));

    const QString faulty = dir.filePath(QStringLiteral("faulty.json"));
    const Run r = velahost(base + QStringList{QStringLiteral("--json"), faulty}, env);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Summary: 16 of 16 assays with a result")), qPrintable(r.output));
    QCOMPARE(r.output.contains(QStringLiteral("Link to the analyzer lost")), losses);
    if (losses)
        QVERIFY2(r.output.contains(QStringLiteral("Link to the analyzer back after")), qPrintable(r.output));
    // Each reconnection starts a Linkhub that finds the first one still
    // serving and leaves without a word on the console they share.
    QVERIFY2(!r.output.contains(QStringLiteral("Linkhub: ")), qPrintable(r.output));
    QVERIFY2(!r.output.contains(QStringLiteral("start signal")), qPrintable(r.output));
    const QMap<QString, double> expected = resultValues(sound);
    QCOMPARE(expected.size(), 16);
    QCOMPARE(resultValues(faulty), expected);
}

// The analyzer on a pseudo-terminal outlives Linkhub, which ends every 70
// lines as if it crashed and sends stray copies of 32 replies: the driver
// starts it again and the run goes on.
void TestVelahost::linkhubRestartWithAnalyzerOnPty()
{
    if (!haveDriver || !QFile::exists(QStringLiteral(VELASIM_PROGRAM)))
        QSKIP("needs the InstrVela plug-in, Linkhub and velasim built beside velahost");
    QTemporaryDir dir;
    const QString tty = dir.filePath(QStringLiteral("analyzer"));
    QProcess velasim;
    velasim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    velasim.start(QStringLiteral(VELASIM_PROGRAM),
                  {QStringLiteral("--link"), tty, QStringLiteral("--speed"), QStringLiteral("300")});
    QVERIFY(velasim.waitForStarted(10000));
    QVERIFY(velasim.waitForReadyRead(10000));
    QCOMPARE(QString::fromLocal8Bit(velasim.readLine()).trimmed(), tty);

    const Run r = velahost(
        {QStringLiteral("run"), QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
         QStringLiteral("--port"), tty, QStringLiteral("--speed"), QStringLiteral("300")},
        {QStringLiteral("VELA_LINKHUB_EXIT_AFTER=70"), QStringLiteral("VELA_SIM_FAULTS=stray:32,after=3,count=40")});
    velasim.terminate();
    velasim.waitForFinished(5000);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Summary: 16 of 16 assays with a result")), qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Link to the analyzer back after")), qPrintable(r.output));
}

void TestVelahost::runBound()
{
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QTemporaryDir dir;
    // At the analyzer's own pace no PT clots within three seconds.
    const Run r = velahost({QStringLiteral("run"), QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
                            QStringLiteral("--speed"), QStringLiteral("1"), QStringLiteral("--timeout"),
                            QStringLiteral("3")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.output.contains(QStringLiteral("the run did not finish within 3 s (0 of 16 done)")),
             qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("not finished")), qPrintable(r.output));
    QVERIFY2(r.ms < testsupport::scaled(30000), qPrintable(QString::number(r.ms)));
}

void TestVelahost::serviceGrab_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << QStringLiteral("zh_CN");
    QTest::newRow("English") << QStringLiteral("en");
}

// Clean output: no runtime-folder warning (the tests provide one) and no
// missing translation.
void TestVelahost::serviceGrab()
{
    QFETCH(QString, language);
    if (!haveDriver)
        QSKIP("needs the InstrVela plug-in and Linkhub built beside velahost");
    QTemporaryDir dir;
    const QString grab = dir.filePath(QStringLiteral("grab"));
    const Run r = velahost({QStringLiteral("service"), QStringLiteral("--data"), dir.filePath(QStringLiteral("data")),
                            QStringLiteral("--grab"), grab},
                           {QStringLiteral("VELA_LANG=") + language}, 60000);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(!r.output.contains(QStringLiteral("XDG_RUNTIME_DIR")), qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("Connected")), qPrintable(r.output));
    // The three option pages, shown in the window, and the manual test dialog.
    for (const char* name : {"connectionpage", "debugpage1", "probepositionpage", "manualtest"}) {
        const QString file = grab + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
        QVERIFY2(r.output.contains(QStringLiteral("Saved ") + file), qPrintable(r.output));
        const QImage image(file);
        QVERIFY2(!image.isNull(), qPrintable(file));
        QVERIFY(image.width() > 200 && image.height() > 150);
    }
}

QTEST_GUILESS_MAIN(TestVelahost)
#include "tst_velahost.moc"
