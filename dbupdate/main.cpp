// dbupdate: brings "profile.db", "data.db" and "qc.db" in the working
// directory to the schema and contents of this release.
//
// Usage: dbupdate [--dry-run] [logfile [translation...]]
//    or: dbupdate -h | --help | --version
// The first argument names the log file (appended to); every argument is
// also tried as a translation file in ".", ".." and Qt's translations
// folder. Exit code 0: all databases upgraded; 1: an upgrade failed or
// could not start.

#include "logging.h"
#include "runlock.h"
#include "updatedata.h"
#include "updateprofile.h"
#include "updateqc.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char usage[] = "Usage: dbupdate [--dry-run] [logfile [translation...]]\n"
                     "   or: dbupdate -h | --help | --version\n"
                     "\n"
                     "Brings profile.db, data.db and qc.db in the working folder to the schema and\n"
                     "contents of this release. Each database is copied to <name>.bak first; that\n"
                     "copy is kept until an upgrade of the database succeeds.\n"
                     "\n"
                     "  logfile       file the messages are appended to (standard error without one)\n"
                     "  translation   translation of the default texts, looked up in \".\", \"..\" and\n"
                     "                Qt's translations folder (the log file's name is tried too)\n"
                     "  --dry-run     list, per database, the version found, the target and every step\n"
                     "                a run would take, on standard output; change and create nothing\n"
                     "  -h, --help    print this text and change nothing\n"
                     "  --version     print the program's name and version and change nothing\n"
                     "\n"
                     "Exit code 0: every database is upgraded; 1: an upgrade failed or could not start.\n";

template <class Upgrader>
bool runUpgrade()
{
    std::unique_ptr<Upgrader> upgrader(new Upgrader(nullptr));
    return upgrader->run();
}

void installTranslators(QCoreApplication& app, const QStringList& arguments)
{
    const QStringList searchPath = {QStringLiteral("."), QStringLiteral(".."),
                                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    for (const QString& name : arguments) {
        auto* translator = new QTranslator(&app);
        bool loaded = false;
        for (const QString& directory : searchPath) {
            if (translator->load(name, directory)) {
                loaded = true;
                break;
            }
        }
        if (loaded)
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // Options are recognised only as whole arguments; every other argument
    // keeps its place: the first names the log file, all are translations.
    bool dryRun = false;
    std::vector<char*> operands;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("dbupdate " VELA_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--dry-run") == 0)
            dryRun = true;
        else
            operands.push_back(argv[i]);
    }

    // A dry run reports on standard output and leaves the log file alone.
    if (!operands.empty() && !dryRun) {
        logFile = std::fopen(operands.front(), "a");
        if (logFile)
            qInstallMessageHandler(logMessageHandler);
    }

    QCoreApplication app(argc, argv);
    QStringList translations;
    for (const char* operand : operands)
        translations << QString::fromLocal8Bit(operand);
    installTranslators(app, translations);
    UpdateBase::setDryRun(dryRun);

    std::unique_ptr<RunLock> lock;
    if (!dryRun) {
        // Nothing is changed while another dbupdate or a writing program
        // has the databases: the run stops before its first change.
        lock.reset(new RunLock);
        QString error;
        if (!lock->acquire(&error)
            || !checkNoWriters({QStringLiteral("profile.db"), QStringLiteral("data.db"), QStringLiteral("qc.db")},
                               &error)) {
            qWarning("Can't upgrade: %s; nothing was changed", qPrintable(error));
            return 1;
        }
    }

    // A failed upgrade ends the run at once: the databases after it stay
    // as they are. The lock is given back on the way out; the log file is
    // flushed and closed by the process exit.
    if (!runUpgrade<UpdateProfile>() || !runUpgrade<UpdateData>() || !runUpgrade<UpdateQc>())
        return 1;

    if (logFile) {
        qInstallMessageHandler(nullptr);
        std::fclose(logFile);
        logFile = nullptr;
    }
    return 0;
}
