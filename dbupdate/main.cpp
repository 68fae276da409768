// dbupdate: brings "profile.db", "data.db" and "qc.db" in the working
// directory to the schema and contents of this release.
//
// Usage: dbupdate [logfile [translation...]]
// The first argument names the log file (appended to); every argument is
// also tried as a translation file in ".", ".." and Qt's translations
// folder. Exit code 0: all databases upgraded; 1: an upgrade failed.

#include "logging.h"
#include "updatedata.h"
#include "updateprofile.h"
#include "updateqc.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

template <class Upgrader>
bool runUpgrade()
{
    std::unique_ptr<Upgrader> upgrader(new Upgrader(nullptr));
    const bool upgraded = upgrader->upgrade();
    if (!upgraded && !upgrader->backupFileName().isEmpty()) {
        qWarning("%s is left part-way upgraded; %s holds it as it was before this run",
                 qPrintable(upgrader->fileName()), qPrintable(upgrader->backupFileName()));
    }
    return upgraded;
}

void installTranslators(QCoreApplication &app)
{
    const QStringList searchPath = {
        QStringLiteral("."), QStringLiteral(".."),
        QLibraryInfo::path(QLibraryInfo::TranslationsPath)
    };
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &name : arguments) {
        auto *translator = new QTranslator(&app);
        bool loaded = false;
        for (const QString &directory : searchPath) {
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

int main(int argc, char *argv[])
{
    if (argc > 1) {
        logFile = std::fopen(argv[1], "a");
        if (logFile)
            qInstallMessageHandler(logMessageHandler);
    }

    QCoreApplication app(argc, argv);
    installTranslators(app);

    // A failed upgrade ends the run at once: the databases after it stay
    // as they are. The log file is flushed and closed by the process exit.
    if (!runUpgrade<UpdateProfile>() || !runUpgrade<UpdateData>() || !runUpgrade<UpdateQc>())
        std::exit(1);

    if (logFile) {
        qInstallMessageHandler(nullptr);
        std::fclose(logFile);
        logFile = nullptr;
    }
    return 0;
}
