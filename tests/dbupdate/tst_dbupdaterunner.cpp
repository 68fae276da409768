// The runner of the built dbupdate: command line, log file, translations,
// missing databases and repeated runs.
#include "dbfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace fixture;

class TestDbUpdateRunner : public QObject
{
    Q_OBJECT

private slots:
    void withoutArgumentsReportsOnStandardError_data();
    void withoutArgumentsReportsOnStandardError();
    void logFileIsAppendedTo();
    void unopenableLogFileFallsBackToStandardError();
    void translationsChangeDefaultTexts_data();
    void translationsChangeDefaultTexts();
    void missingDatabaseIsCreatedEmpty_data();
    void missingDatabaseIsCreatedEmpty();
    void secondRunChangesOnlyVersionRows();

private:
    static QString makeTranslation(const QString& qmPath);
};

void TestDbUpdateRunner::withoutArgumentsReportsOnStandardError_data()
{
    QTest::addColumn<bool>("failing");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("success") << false << 0 << QByteArray("data.db copied to data.db.bak before upgrading");
    QTest::newRow("failure") << true << 1 << QByteArray("updatedata ( 15 ):  duplicate column name: sampleType");
}

void TestDbUpdateRunner::withoutArgumentsReportsOnStandardError()
{
    QFETCH(bool, failing);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 3, failing ? 1 : 0), QString());
    if (failing) {
        // A version 1 database claiming version 0 fails at the first step.
        Db db(dir.filePath(QStringLiteral("data.db")));
        QVERIFY(db.exec(QStringLiteral("drop table version")));
    }
    const Run run = runDbUpdate(dir.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.standardError.contains(message), run.standardError.constData());
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.log")}), QStringList());
}

void TestDbUpdateRunner::logFileIsAppendedTo()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 3, 1), QString());
    const QString logPath = dir.filePath(QStringLiteral("update.log"));
    {
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("earlier line\n");
    }
    const Run first = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(first.exitCode, 0);
    QVERIFY(first.standardError.isEmpty());
    QVERIFY(first.log.startsWith("earlier line\n"));

    // A failing run writes a warning; its lines follow the earlier ones.
    {
        Db db(dir.filePath(QStringLiteral("data.db")));
        QVERIFY(db.exec(QStringLiteral("update version set version = 0")));
    }
    const Run second = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(second.exitCode, 1);
    QVERIFY(second.log.startsWith(first.log));
    const QList<QByteArray> lines = second.log.split('\n');
    QVERIFY(lines.last().isEmpty());
    for (const QByteArray& line : lines.mid(1, lines.size() - 2)) {
        QVERIFY2(QRegularExpression(QStringLiteral("^(Debug|Warning|Critical|Fatal): "))
                     .match(QString::fromLocal8Bit(line))
                     .hasMatch(),
                 line.constData());
    }
    QVERIFY(second.log.contains("Debug: "));
    QVERIFY(second.log.mid(first.log.size()).contains("Warning: updatedata ( 15 ):  "));
}

void TestDbUpdateRunner::unopenableLogFileFallsBackToStandardError()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 3, 2), QString());
    const Run run = runDbUpdate(dir.path(), {QStringLiteral("no-such-folder/update.log")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.standardError.contains("data.db copied to data.db.bak"), run.standardError.constData());
}

QString TestDbUpdateRunner::makeTranslation(const QString& qmPath)
{
    const QString lrelease = QStringLiteral(LRELEASE_PROGRAM);
    if (lrelease.isEmpty() || !QFile::exists(lrelease))
        return QStringLiteral("skip");
    const QString tsPath = qmPath + QLatin1String(".ts");
    QFile ts(tsPath);
    if (!ts.open(QIODevice::WriteOnly))
        return ts.errorString();
    const char* pairs[][2] = {
        {"梯度1", "Series A"},
        {"梯度2", "Series B"},
        {"梯度3", "Series C"},
        {"梯度4", "Series D"},
        {"样本类型", "Patient's sample type"},
        {"初始量[ul]", "Initial volume [ul]"},
        {"报警限[ul]", "Alarm limit [ul]"},
        {"中断限[ul]", "Interrupt limit [ul]"},
        {"住院号", "Hospital no."},
    };
    QByteArray text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n"
                      "<TS version=\"2.1\" language=\"en_GB\">\n<context>\n<name>UpdateProfile</name>\n";
    for (const auto& pair : pairs) {
        text += QByteArray("<message><source>") + pair[0] + "</source><translation>"
                + QByteArray(pair[1]).replace("'", "&apos;") + "</translation></message>\n";
    }
    text += "</context>\n</TS>\n";
    ts.write(text);
    ts.close();
    QProcess process;
    process.start(lrelease, {QStringLiteral("-silent"), tsPath, QStringLiteral("-qm"), qmPath});
    if (!process.waitForFinished(30000) || process.exitCode() != 0 || !QFile::exists(qmPath))
        return QStringLiteral("lrelease failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString();
}

void TestDbUpdateRunner::translationsChangeDefaultTexts_data()
{
    QTest::addColumn<QString>("qmFolder"); // relative to the working folder
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("translated");
    QTest::newRow("in the working folder") << "."
                                           << "vela_en" << true;
    QTest::newRow("in the parent folder") << ".."
                                          << "vela_en" << true;
    QTest::newRow("file name with suffix") << "."
                                           << "vela_en.qm" << true;
    QTest::newRow("not found: source texts") << "."
                                             << "other_en" << false;
}

void TestDbUpdateRunner::translationsChangeDefaultTexts()
{
    QFETCH(QString, qmFolder);
    QFETCH(QString, argument);
    QFETCH(bool, translated);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString work = root.filePath(QStringLiteral("install"));
    QVERIFY(QDir().mkpath(work));
    const QString made = makeTranslation(QDir(work).filePath(qmFolder + QLatin1String("/vela_en.qm")));
    if (made == QLatin1String("skip"))
        QSKIP("needs Qt's lrelease to build the translation file");
    QVERIFY2(made.isEmpty(), qPrintable(made));
    QCOMPARE(createInstallation(work, 1, 2), QString());

    const Run run = runDbUpdate(work, {argument}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.log.contains("Warning:"), run.log.constData());

    Db db(QDir(work).filePath(QStringLiteral("profile.db")));
    auto setting = [&db](const char* key) {
        return db.value(QStringLiteral("select value from profile where name = '%1'").arg(QLatin1String(key)))
            .toString();
    };
    if (translated) {
        QCOMPARE(setting("dilution"), QStringLiteral("Series A;1/5;1/10;1/20;1/30,Series B;1/5;1/10;1/20;1/30;1/40,"
                                                     "Series C;1/1;1/2;1/4;1/8,Series D;1/1;3/4;1/2;1/4"));
        QCOMPARE(setting("patient/sampleType"), QStringLiteral("Patient's sample type"));
        QCOMPARE(setting("reagent/initVolume"), QStringLiteral("Initial volume [ul]"));
        QCOMPARE(setting("reagent/alarmLimit"), QStringLiteral("Alarm limit [ul]"));
        QCOMPARE(setting("reagent/interruptLimit"), QStringLiteral("Interrupt limit [ul]"));
        QCOMPARE(setting("patient/hospitalNo"), QStringLiteral("Hospital no."));
    } else {
        QCOMPARE(setting("patient/sampleType"), QString::fromUtf8("样本类型"));
        QCOMPARE(setting("patient/hospitalNo"), QString::fromUtf8("住院号"));
    }
}

void TestDbUpdateRunner::missingDatabaseIsCreatedEmpty_data()
{
    QTest::addColumn<QString>("missing");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("untouched");
    QTest::newRow("profile.db") << "profile.db" << 1 << QStringList{"data.db", "qc.db"};
    QTest::newRow("data.db") << "data.db" << 1 << QStringList{"qc.db"};
    QTest::newRow("qc.db") << "qc.db" << 0 << QStringList();
}

void TestDbUpdateRunner::missingDatabaseIsCreatedEmpty()
{
    QFETCH(QString, missing);
    QFETCH(int, exitCode);
    QFETCH(QStringList, untouched);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 3, 2), QString());
    QVERIFY(QFile::remove(dir.filePath(missing)));
    QHash<QString, QByteArray> before;
    for (const QString& name : untouched)
        before.insert(name, fileContents(dir.filePath(name)));

    const Run run = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(QFile::exists(dir.filePath(missing)));
    QCOMPARE(QFileInfo(dir.filePath(missing)).size(), 0);
    for (const QString& name : untouched) {
        QCOMPARE(fileContents(dir.filePath(name)), before.value(name));
        QVERIFY(!QFile::exists(dir.filePath(name + QLatin1String(".bak"))));
    }
}

void TestDbUpdateRunner::secondRunChangesOnlyVersionRows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(createInstallation(dir.path(), 0, 0), QString());
    QCOMPARE(runDbUpdate(dir.path()).exitCode, 0);
    const QStringList names = {QStringLiteral("profile.db"), QStringLiteral("data.db"), QStringLiteral("qc.db")};
    QStringList dumps;
    for (const QString& name : names)
        dumps << dump(dir.filePath(name));
    const QByteArray dataAfterFirst = fileContents(dir.filePath(QStringLiteral("data.db")));

    const Run second = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(second.exitCode, 0);
    QVERIFY2(!second.log.contains("Warning:"), second.log.constData());
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(dump(dir.filePath(names[i])), dumps[i]);
    // Each run keeps the database as that run found it.
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("data.db.bak"))), dataAfterFirst);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("qc.db.bak"))));
}

QTEST_GUILESS_MAIN(TestDbUpdateRunner)
#include "tst_dbupdaterunner.moc"
