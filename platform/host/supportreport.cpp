#include "supportreport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>

#include <functional>

namespace supportreport {

namespace {

// Runs `work` on its own connection to `file`, then drops the connection.
bool withDatabase(const QString& file, const std::function<bool(QSqlDatabase&)>& work, QString* error, bool readOnly)
{
    const QString name = QStringLiteral("supportreport-") + QUuid::createUuid().toString(QUuid::Id128);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                      : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            *error = QStringLiteral("%1: %2").arg(file, db.lastError().text());
        else
            ok = work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool exec(QSqlQuery& query, const QString& sql, QString* error)
{
    if (query.exec(sql))
        return true;
    *error = QStringLiteral("%1: %2").arg(sql, query.lastError().text());
    return false;
}

// A consistent copy of the journal (the log's commits included, whatever
// the driver writes meanwhile), with every `sample` column emptied and the
// pages that held the numbers overwritten.
bool copyJournal(const QString& journal, const QString& copy, QString* error)
{
    const bool copied = withDatabase(
        journal,
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            QString quoted = copy;
            quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
            return exec(q, QStringLiteral("vacuum into '%1'").arg(quoted), error);
        },
        error, true);
    if (!copied)
        return false;
    return withDatabase(
        copy,
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (!exec(q, QStringLiteral("pragma secure_delete=on"), error))
                return false;
            for (const QString& table : db.tables()) {
                if (db.record(table).indexOf(QStringLiteral("sample")) >= 0
                    && !exec(q, QStringLiteral("update \"%1\" set sample = null").arg(table), error))
                    return false;
            }
            return exec(q, QStringLiteral("vacuum"), error);
        },
        error, false);
}

QString settingsText(const QString& dataDir)
{
    QString text = QStringLiteral("Settings that shape the link, from %1/profile.db\n").arg(dataDir);
    QString error;
    const QString profile = QDir(dataDir).filePath(QStringLiteral("profile.db"));
    const bool read =
        QFile::exists(profile)
        && withDatabase(
            profile,
            [&](QSqlDatabase& db) {
                QSqlQuery q(db);
                if (!exec(q,
                          QStringLiteral("select name, value from profile where name like 'instrument/%' "
                                         "or name like 'debug/%' or name like '%max_clot_time' order by name"),
                          &error))
                    return false;
                while (q.next())
                    text += QStringLiteral("  %1 = %2\n").arg(q.value(0).toString(), q.value(1).toString());
                return true;
            },
            &error, true);
    if (!read)
        text += QStringLiteral("  (not read: %1)\n").arg(error.isEmpty() ? QStringLiteral("no profile.db") : error);
    text += QStringLiteral("Defaults where a key is not set: instrument/port SIM here (else the first serial port), "
                           "instrument/timeout/interval 50, instrument/timeout/read 300, "
                           "instrument/timeout/write 100 (ms), instrument/reconnect true, driver reply time-out "
                           "30000 ms; work mode FB1 (normal) unless the host's debug/sim is set\n");
    text += QStringLiteral("Environment overrides\n");
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString& name : names) {
        if (name.startsWith(QLatin1String("VELA_")) || name == QLatin1String("QT_LOGGING_RULES"))
            text += QStringLiteral("  %1=%2\n").arg(name, qEnvironmentVariable(qPrintable(name)));
    }
    return text;
}

QString versionsText()
{
    QString text = QStringLiteral("Made %1 by %2 %3\nQt %4 (built with %5)\n")
                       .arg(QDateTime::currentDateTime().toString(Qt::ISODate), QCoreApplication::applicationName(),
                            QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion()),
                            QStringLiteral(QT_VERSION_STR));
    QString error;
    withDatabase(
        QStringLiteral(":memory:"),
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select sqlite_version()")) && q.next())
                text += QStringLiteral("SQLite %1\n").arg(q.value(0).toString());
            return true;
        },
        &error, false);
    text += QStringLiteral("Programs\n");
    const QDir appDir(QCoreApplication::applicationDirPath());
    for (const char* program : {"Linkhub", "velasim", "dbupdate"}) {
        const QString path = appDir.filePath(QLatin1String(program));
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(path, {QStringLiteral("--version")});
        const bool ran = p.waitForFinished(10000);
        text += QStringLiteral("  %1: %2\n")
                    .arg(path, ran ? QString::fromLocal8Bit(p.readAll()).trimmed() : QStringLiteral("not found"));
    }
    text += QStringLiteral("Plug-ins\n");
    const QDir plugins(appDir.filePath(QStringLiteral("instruments")));
    for (const QFileInfo& f : plugins.entryInfoList(QDir::Files))
        text += QStringLiteral("  %1 (%2 bytes, %3)\n")
                    .arg(f.filePath())
                    .arg(f.size())
                    .arg(f.lastModified().toString(Qt::ISODate));
    // The libraries as loaded, by their real file names (which carry their
    // versions).
    text += QStringLiteral("Libraries loaded\n");
    QFile maps(QStringLiteral("/proc/self/maps"));
    QStringList libraries;
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const qsizetype slash = line.indexOf('/');
            if (slash < 0 || !line.contains(".so"))
                continue;
            const QString path = QFileInfo(QString::fromLocal8Bit(line.mid(slash))).canonicalFilePath();
            if (!path.isEmpty() && !libraries.contains(path))
                libraries << path;
        }
    }
    for (const QString& l : libraries)
        text += QStringLiteral("  %1\n").arg(l);
    return text;
}

bool writeText(const QString& file, const QString& text, QString* error)
{
    QFile f(file);
    if (f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0)
        return true;
    *error = QStringLiteral("%1: %2").arg(file, f.errorString());
    return false;
}

} // namespace

bool write(const QString& dataDir, const QString& archive, QString* error, const QString& traceDir)
{
    QTemporaryDir staging;
    if (!staging.isValid()) {
        *error = QStringLiteral("no temporary folder: %1").arg(staging.errorString());
        return false;
    }
    const QDir data(dataDir);
    const QDir out(staging.path());

    QString ring = traceDir;
    if (ring.isEmpty())
        ring = qEnvironmentVariable("VELA_LINKHUB_TRACE_DIR");
    ring = data.absoluteFilePath(ring.isEmpty() ? QStringLiteral("trace") : ring);
    out.mkpath(QStringLiteral("trace"));
    for (const QFileInfo& f : QDir(ring).entryInfoList({QStringLiteral("wire-*.trace")}, QDir::Files)) {
        if (!QFile::copy(f.filePath(), out.filePath(QStringLiteral("trace/") + f.fileName()))) {
            *error = QStringLiteral("cannot copy %1").arg(f.filePath());
            return false;
        }
    }

    QString journal = qEnvironmentVariable("VELA_JOURNAL");
    journal = data.absoluteFilePath(journal.isEmpty() ? QStringLiteral("placements.db") : journal);
    if (QFile::exists(journal) && !copyJournal(journal, out.filePath(QStringLiteral("placements.db")), error))
        return false;

    if (!writeText(out.filePath(QStringLiteral("settings.txt")), settingsText(data.absolutePath()), error)
        || !writeText(out.filePath(QStringLiteral("versions.txt")), versionsText(), error))
        return false;

    QProcess tar;
    tar.setProcessChannelMode(QProcess::MergedChannels);
    tar.start(QStringLiteral("tar"), {QStringLiteral("-czf"), QFileInfo(archive).absoluteFilePath(),
                                      QStringLiteral("-C"), staging.path(), QStringLiteral(".")});
    if (!tar.waitForFinished(120000) || tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0) {
        *error = QStringLiteral("tar failed: %1%2").arg(tar.errorString(), QString::fromLocal8Bit(tar.readAll()));
        return false;
    }
    return true;
}

} // namespace supportreport
