// A full disk or an I/O error met anywhere in the upgrade: strace makes
// the Nth page write of dbupdate fail (for a full disk, every write from
// the Nth on), at points spread over the upgrade of profile.db and data.db.
// Every database must stay sound, a run may end with 0 only with the whole
// result, and a rerun with room must end exactly as a run that met no fault.
// Each run must meet its fault: strace's own trace marks the calls it failed,
// so a run that ended before the chosen write cannot pass for one that
// came through the fault.
#include "dbfixture.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace fixture;

namespace {

const QStringList databases = {QStringLiteral("profile.db"), QStringLiteral("data.db"), QStringLiteral("qc.db")};
const int diskFullPoints = 14;
const int ioErrorPoints = 10;

bool copyInstallation(const QString& from, const QString& to)
{
    for (const QString& name : databases) {
        if (!QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name)))
            return false;
    }
    return true;
}

} // namespace

class TestDbUpdateFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faultAnywhereKeepsDatabasesSound_data();
    void faultAnywhereKeepsDatabasesSound();

private:
    QStringList dumps(const QString& dir) const;
    // strace tracing the page writes to `traceFile`, failing some of them
    // as `injection` says (none when empty).
    QStringList strace(const QString& traceFile, const QString& injection = QString()) const;

    QString m_strace;
    QTemporaryDir m_template;
    QStringList m_cleanResult;
    int m_pageWrites = 0;
};

QStringList TestDbUpdateFaults::strace(const QString& traceFile, const QString& injection) const
{
    QStringList wrapper{m_strace,
                        QStringLiteral("-f"),
                        QStringLiteral("-qq"),
                        QStringLiteral("-e"),
                        QStringLiteral("trace=pwrite64"),
                        QStringLiteral("-o"),
                        traceFile};
    if (!injection.isEmpty())
        wrapper << QStringLiteral("-e") << injection;
    return wrapper;
}

QStringList TestDbUpdateFaults::dumps(const QString& dir) const
{
    QStringList result;
    for (const QString& name : databases)
        result << dump(QDir(dir).filePath(name));
    return result;
}

void TestDbUpdateFaults::initTestCase()
{
    m_strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (m_strace.isEmpty())
        QSKIP("needs strace (Debian package strace) to inject the faults");
    QVERIFY(m_template.isValid());
    QCOMPARE(createInstallation(m_template.path(), 0, 0), QString());

    // The clean run under strace counts the page writes there are to fail.
    QTemporaryDir clean;
    QVERIFY(copyInstallation(m_template.path(), clean.path()));
    const QString trace = clean.filePath(QStringLiteral("writes.trace"));
    const Run run = runDbUpdate(clean.path(), {}, QString(), strace(trace));
    QCOMPARE(run.exitCode, 0);
    m_pageWrites = int(fileContents(trace).count("pwrite64("));
    QVERIFY2(m_pageWrites > 20, qPrintable(QString::number(m_pageWrites)));
    QFile::remove(trace);
    m_cleanResult = dumps(clean.path());
    qInfo("%d page writes in a clean run", m_pageWrites);
}

void TestDbUpdateFaults::faultAnywhereKeepsDatabasesSound_data()
{
    QTest::addColumn<QString>("injection");
    const auto spread = [this](int points, const char* name, const char* error, const char* from) {
        for (int i = 0; i < points; ++i) {
            const int write = 1 + i * (m_pageWrites - 1) / (points - 1);
            QTest::addRow("%s at write %d of %d", name, write, m_pageWrites)
                << QStringLiteral("inject=pwrite64:error=%1:when=%2%3")
                       .arg(QLatin1String(error))
                       .arg(write)
                       .arg(QLatin1String(from));
        }
    };
    // A full disk stays full; an I/O error hits one write.
    spread(diskFullPoints, "disk full", "ENOSPC", "+");
    spread(ioErrorPoints, "I/O error", "EIO", "");
}

void TestDbUpdateFaults::faultAnywhereKeepsDatabasesSound()
{
    QFETCH(QString, injection);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(copyInstallation(m_template.path(), dir.path()));

    QTemporaryDir traces;
    QVERIFY(traces.isValid());
    const QString trace = traces.filePath(QStringLiteral("writes.trace"));
    const Run faulty = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"), strace(trace, injection));
    QVERIFY(faulty.finished);
    QVERIFY2(faulty.exitCode == 0 || faulty.exitCode == 1, faulty.log.constData());
    // strace ends the line of every call it failed with "(INJECTED)".
    const QByteArray writes = fileContents(trace);
    QVERIFY2(writes.contains(" (INJECTED)"),
             qPrintable(QStringLiteral("the fault never struck: %1 page writes, exit %2")
                            .arg(writes.count("pwrite64("))
                            .arg(faulty.exitCode)));
    for (const QString& name : databases) {
        Db db(dir.filePath(name));
        QCOMPARE(db.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
    }
    for (const QByteArray& line : faulty.log.split('\n')) {
        if (line.contains("stops here") || line.contains("Can't"))
            qInfo("exit %d: %s", faulty.exitCode, line.constData());
    }
    if (faulty.exitCode == 0) {
        QCOMPARE(dumps(dir.path()), m_cleanResult);
        return;
    }
    // A fault is never taken for a step's own failure.
    QVERIFY2(!faulty.log.contains("part-way"), faulty.log.constData());
    QVERIFY2(faulty.log.contains(" is left as it was before this run; "), faulty.log.constData());

    const Run rerun = runDbUpdate(dir.path(), {}, QStringLiteral("update.log"));
    QCOMPARE(rerun.exitCode, 0);
    QCOMPARE(dumps(dir.path()), m_cleanResult);
    // The database the fault stopped keeps the copy from before the first attempt.
    for (const QString& name : {QStringLiteral("profile.db"), QStringLiteral("data.db")}) {
        if (faulty.log.contains(("Warning: " + name + " is left as it was").toLatin1()))
            QCOMPARE(fileContents(dir.filePath(name + QLatin1String(".bak"))), fileContents(m_template.filePath(name)));
    }
}

QTEST_GUILESS_MAIN(TestDbUpdateFaults)
#include "tst_dbupdatefaults.moc"
