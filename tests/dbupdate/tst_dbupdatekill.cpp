// dbupdate killed at random moments while it rebuilds the lookup tables of
// a large data.db: no row may be lost, the file must stay sound, and the
// objects of other tables keep their stored SQL.
#include "dbfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace fixture;

namespace {

const int rowsPerTable = 40000;
const int killsWanted = 50;
const int maxTrials = 120;

// A kill loses nothing that the process wrote into the page cache, so the
// trials run in memory where one is available: without the disk syncs the
// run is short and the kills land mostly inside the table rebuilds.
QString trialRoot()
{
    const QString shm = QStringLiteral("/dev/shm");
    if (QFileInfo(shm).isDir() && QFileInfo(shm).isWritable())
        return shm + QLatin1String("/dbupdate-kill-XXXXXX");
    return QDir::tempPath() + QLatin1String("/dbupdate-kill-XXXXXX");
}

} // namespace

class TestDbUpdateKill : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedUpgradeLosesNothing();

private:
    // What one killed run left behind; an empty string when all is sound.
    QString check(const QString& dir, QString* phase);

    QTemporaryDir m_template{trialRoot()};
    QByteArray m_original;
    QString m_foreignObjects;
    qint64 m_fullRunMs = 0;
};

void TestDbUpdateKill::initTestCase()
{
    QVERIFY(m_template.isValid());
    QCOMPARE(createInstallation(m_template.path(), 0, 0), QString());
    const QString data = m_template.filePath(QStringLiteral("data.db"));
    QCOMPARE(addLookupRows(data, rowsPerTable), QString());
    m_original = fileContents(data);
    m_foreignObjects = foreignObjectsSql(m_template.filePath(QStringLiteral("profile.db"))) + foreignObjectsSql(data);

    // One run to its end tells how long the kill window is.
    QTemporaryDir scratch(trialRoot());
    for (const char* name : {"profile.db", "data.db", "qc.db"})
        QVERIFY(QFile::copy(m_template.filePath(QLatin1String(name)), scratch.filePath(QLatin1String(name))));
    QElapsedTimer timer;
    timer.start();
    const Run run = runDbUpdate(scratch.path());
    m_fullRunMs = timer.elapsed();
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(check(scratch.path(), nullptr), QString());
    qInfo("full run over %d lookup rows: %lld ms", 6 * (rowsPerTable + 5), m_fullRunMs);
}

QString TestDbUpdateKill::check(const QString& dir, QString* phase)
{
    const QString data = QDir(dir).filePath(QStringLiteral("data.db"));
    const QString backup = data + QLatin1String(".bak");
    // The backup, once there, is the file as it was; until it is there,
    // the database has not been touched.
    if (QFile::exists(backup)) {
        if (fileContents(backup) != m_original)
            return QStringLiteral("data.db.bak differs from the original");
    } else if (fileContents(data) != m_original) {
        return QStringLiteral("data.db changed before its backup was made");
    }

    // The backup appears whole or not at all: no partial copy is left.
    // The lock of the killed run is taken over by the next one.
    const QStringList expected = {QStringLiteral("profile.db"),
                                  QStringLiteral("profile.db.bak"),
                                  QStringLiteral("profile.db-journal"),
                                  QStringLiteral("profile.db.upgrading"),
                                  QStringLiteral("data.db"),
                                  QStringLiteral("data.db.bak"),
                                  QStringLiteral("data.db-journal"),
                                  QStringLiteral("data.db.upgrading"),
                                  QStringLiteral("qc.db"),
                                  QStringLiteral("dbupdate.lock")};
    for (const QString& entry : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        if (!expected.contains(entry))
            return QStringLiteral("stray file ") + entry;
    }

    // Objects of other tables that name the rebuilt tables keep their text.
    const QString foreignObjects = foreignObjectsSql(QDir(dir).filePath(QStringLiteral("profile.db")))
                                   + foreignObjectsSql(data);
    if (foreignObjects != m_foreignObjects)
        return QStringLiteral("stored SQL of other tables' objects changed: ") + foreignObjects;

    Db db(data); // opening rolls back what the killed run left unfinished
    if (!db.isOpen())
        return QStringLiteral("can't open data.db: ") + db.lastError();
    const QString integrity = db.value(QStringLiteral("pragma integrity_check")).toString();
    if (integrity != QLatin1String("ok"))
        return QStringLiteral("integrity check: ") + integrity;
    if (!db.exec(
            QStringLiteral("attach database '%1' as original").arg(m_template.filePath(QStringLiteral("data.db")))))
        return db.lastError();

    int tablesWithBackup = 0;
    for (const QString& table : lookupTables()) {
        QStringList copies;
        for (const QString& name : {table, table + QLatin1String("_bak")}) {
            if (db.hasTable(name))
                copies << name;
        }
        if (copies.isEmpty())
            return table + QLatin1String(" and its backup table are both gone");
        tablesWithBackup += copies.size() - 1;
        QString missing = QStringLiteral("select count(*) from original.%1 o where 1").arg(table);
        for (const QString& copy : copies) {
            missing += QStringLiteral(" and not exists (select 1 from main.%1 c where c.id = o.id "
                                      "and c.abbr is o.abbr and c.name is o.name)")
                           .arg(copy);
        }
        const QVariant lost = db.value(missing);
        if (!lost.isValid())
            return db.lastError();
        if (lost.toInt() != 0)
            return QStringLiteral("%1 rows of %2 lost").arg(lost.toInt()).arg(table);
    }
    if (phase) {
        // The upgrade of a database is one transaction: a kill leaves it
        // as it was or upgraded, never in between.
        if (!QFile::exists(backup))
            *phase = QStringLiteral("before data.db was touched");
        else if (db.hasTable(QStringLiteral("version")) && tablesWithBackup == 0)
            *phase = QStringLiteral("after data.db was upgraded");
        else if (tablesWithBackup == 0 && !db.hasTable(QStringLiteral("detail")))
            *phase = QStringLiteral("upgrade of data.db rolled back");
        else
            return QStringLiteral("data.db half upgraded");
    }
    return QString();
}

void TestDbUpdateKill::killedUpgradeLosesNothing()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill moments seeded with %u", seed);
    QRandomGenerator random(seed);
    QMap<QString, int> phases;
    int kills = 0;
    int trials = 0;
    QElapsedTimer total;
    total.start();
    // The kill window starts as the calibration run's length. That run may
    // have been slowed by a busy machine; each trial that ends on its own
    // shortens the window, so the kills keep landing inside the run.
    qint64 windowMs = qMax<qint64>(m_fullRunMs, 1);
    while (kills < killsWanted && trials < maxTrials) {
        ++trials;
        QTemporaryDir dir(trialRoot());
        QVERIFY(dir.isValid());
        for (const char* name : {"profile.db", "data.db", "qc.db"})
            QVERIFY(QFile::copy(m_template.filePath(QLatin1String(name)), dir.filePath(QLatin1String(name))));

        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(dbUpdateProgram(), {});
        QVERIFY(process.waitForStarted());
        QThread::usleep(random.bounded(quint32(windowMs * 1000)));
        process.kill(); // SIGKILL; a process that has already ended is not hit
        process.waitForFinished();
        const bool killed = process.exitStatus() == QProcess::CrashExit;
        if (killed)
            ++kills;
        else
            windowMs = qMax<qint64>(windowMs * 3 / 4, 1);

        QString phase;
        const QString fault = check(dir.path(), &phase);
        QVERIFY2(fault.isEmpty(),
                 qPrintable(QStringLiteral("trial %1 (seed %2): %3").arg(trials).arg(seed).arg(fault)));
        ++phases[killed ? phase : QStringLiteral("not killed: ran to its end")];
    }
    for (auto it = phases.cbegin(); it != phases.cend(); ++it)
        qInfo("%3d %s", it.value(), qPrintable(it.key()));
    qInfo("%d kills in %d trials, %lld ms, final window %lld ms", kills, trials, total.elapsed(), windowMs);
    QVERIFY(kills >= killsWanted);
}

QTEST_GUILESS_MAIN(TestDbUpdateKill)
#include "tst_dbupdatekill.moc"
