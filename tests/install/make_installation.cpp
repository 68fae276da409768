// Writes the databases of an installation as an older release left them,
// for the install test to upgrade with the installed dbupdate.
//
//   make_installation DIR PROFILE_VERSION DATA_VERSION

#include "dbfixture.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool profileOk = false;
    bool dataOk = false;
    const int profileVersion = args.value(2).toInt(&profileOk);
    const int dataVersion = args.value(3).toInt(&dataOk);
    if (args.size() != 4 || !profileOk || !dataOk) {
        std::fprintf(stderr, "usage: make_installation DIR PROFILE_VERSION DATA_VERSION\n");
        return 2;
    }
    if (!QDir().mkpath(args.at(1))) {
        std::fprintf(stderr, "make_installation: cannot make %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const QString error = fixture::createInstallation(args.at(1), profileVersion, dataVersion);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "make_installation: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
