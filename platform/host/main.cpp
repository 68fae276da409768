// velahost: the command-line host of the analyzer driver.
//
//   velahost [info] [--data DIR]
//       loads the driver plug-in, creates the instrument and prints it.
//   velahost run [--data DIR] [--worklist FILE.csv] [--port NAME] [--speed X]
//                [--json FILE] [--timeout S] [--stall S]
//       runs a worklist (or the built-in demonstration list) on the analyzer
//       and reports, stores and plots the results. Exit code 0 when every
//       assay has a result, 1 otherwise.
//   velahost report [--data DIR] --out FILE.tar.gz
//       packs what a support case needs (wire trace ring, link settings,
//       placement journal without sample numbers, versions) into one archive.
//   velahost service [--data DIR] [--port NAME] [--grab DIR]
//       connects and opens the service window: the instrument's option pages
//       and its manual test dialog. With --grab it saves them as images into
//       DIR and exits instead.
//
// Except in the interactive service window it runs headless: every message
// box is printed to stderr and answered at once, so nothing ever waits for a
// click.

#include "hostdatabase.h"
#include "hostrun.h"
#include "hostservice.h"
#include "runledger.h"
#include "runtimedir.h"
#include "supportreport.h"
#include "worklistfile.h"

#include <tqcore/instrument.h>
#include <tqcore/instrumentplugin.h>
#include <tqcore/resource.h>
#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>

#include "core/analysisresult.h"
#include "core/messagepresenter.h"
#include "core/profile.h"
#include "core/tqglobal.h"
#include "core/uilanguage.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>
#include <QStandardPaths>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

const char* const instrumentKey = "InstrVela";

void out(const QString& text)
{
    std::fputs(qUtf8Printable(text), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int failWith(const QString& text)
{
    std::fprintf(stderr, "velahost: %s\n", qUtf8Printable(text));
    return 1;
}

// The factory of the first plug-in that offers the key, from the folder
// "instruments" below the program's own: bin/instruments when built,
// <libdir>/vela/instruments when installed.
InstrumentFactoryInterface* findFactory(QString* pluginFile, QString* error)
{
    const QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/instruments"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    QStringList problems;
    for (const QString& name : files) {
        if (!QLibrary::isLibrary(name))
            continue;
        QPluginLoader loader(dir.filePath(name));
        QObject* instance = loader.instance();
        if (!instance) {
            problems << QStringLiteral("%1: %2").arg(name, loader.errorString());
            continue;
        }
        auto* factory = qobject_cast<InstrumentFactoryInterface*>(instance);
        if (factory && factory->keys().contains(QLatin1String(instrumentKey))) {
            *pluginFile = loader.fileName();
            return factory;
        }
        problems << QStringLiteral("%1: no %2 factory").arg(name, QLatin1String(instrumentKey));
    }
    *error = QStringLiteral("no plug-in with the key %1 in %2%3")
                 .arg(QLatin1String(instrumentKey), dir.absolutePath(),
                      problems.isEmpty()
                          ? QString()
                          : QStringLiteral(" (") + problems.join(QStringLiteral("; ")) + QLatin1Char(')'));
    return nullptr;
}

// Reagents of the demonstration: the four assays' reagents in the first
// reagent positions, at different fill levels so the table has content.
void placeReagents(Workbench* wb)
{
    ResourceManager* rm = wb->resourceManager();
    struct Bottle
    {
        const char* name;
        const char* position;
        double volume;
    };
    const Bottle bottles[] = {
        {"PT", "R1", 1.0}, {"PT", "R2", 0.5},  {"APTT", "R3", 0.8},    {"CaCl2", "R4", 0.9},
        {"TT", "R5", 0.6}, {"FIB", "R6", 0.7}, {"Diluent", "R7", 1.0},
    };
    for (const Bottle& b : bottles) {
        Reagent* r = wb->reagentManager()->createReagent(wb, QString::fromLatin1(b.name), rm);
        r->setType(QLatin1String(b.name) == QLatin1String("Diluent") ? Reagent::Diluent : Reagent::NormalReagent);
        r->setVolumePercent(b.volume);
        rm->addResource(r);
        r->moveTo(QString::fromLatin1(b.position));
    }
}

void printInstrument(Instrument* instrument, Workbench* wb, const QString& pluginFile)
{
    out(QStringLiteral("Plug-in:    %1").arg(pluginFile));
    out(QStringLiteral("Key:        %1").arg(QLatin1String(instrumentKey)));
    out(QStringLiteral("Class:      %1").arg(QLatin1String(instrument->metaObject()->className())));
    out(QStringLiteral("Info:       %1").arg(instrument->instrumentInfo()));
    out(QStringLiteral("Features:   0 %1, 1 %2")
            .arg(instrument->hasFeature(0) ? QStringLiteral("yes") : QStringLiteral("no"),
                 instrument->hasFeature(1) ? QStringLiteral("yes") : QStringLiteral("no")));
    out(QStringLiteral("Methods:    %1")
            .arg(wb->instrInfo().value(QStringLiteral("method")).toStringList().join(QStringLiteral(", "))));
    out(QStringLiteral("Port:       %1").arg(Profile::instance().value(QStringLiteral("instrument/port")).toString()));
    const QList<int> codes = instrument->messageCodes();
    out(QStringLiteral("Messages:   %1").arg(codes.size()));
    for (int code : codes)
        out(QStringLiteral("  0x%1  level %2  %3")
                .arg(code, 5, 16, QLatin1Char('0'))
                .arg(instrument->messageLevel(code))
                .arg(instrument->findMessage(code)));
    out(QStringLiteral("Resources:"));
    for (ResourcePosition* p : wb->resourceManager()->positions()) {
        if (Resource* r = p->resource()) {
            const auto* reagent = qobject_cast<Reagent*>(r);
            out(QStringLiteral("  %1  %2  %3")
                    .arg(p->name(), -4)
                    .arg(r->name(), -8)
                    .arg(QString::number(qRound(r->volumePercent() * 100)) + QLatin1Char('%'), 4)
                + (reagent ? QStringLiteral("  type %1").arg(reagent->type()) : QString())
                + (r->isPermanent() ? QStringLiteral("  permanent") : QString()));
        }
    }
}

// True for "velahost service" without --grab: the one use that shows
// windows to an operator. Decided before the application object exists,
// since the display platform is chosen then.
bool isInteractive(int argc, char* argv[])
{
    bool service = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--grab" || arg.startsWith("--grab="))
            return false;
        service = service || arg == "service";
    }
    return service;
}

} // namespace

int main(int argc, char* argv[])
{
    const bool interactive = isInteractive(argc, argv);
    // Headless, no display is needed: every box is answered by the recorder
    // below and curve plots and grabs are drawn into images.
    if (!interactive && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before the application object, which asks for the runtime folder.
    runtimedir::ensure();
    TqApp app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velahost"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));
    TqApp::setHeadless(!interactive);
    std::optional<tq::MessageRecorder> recorder;
    if (!interactive) {
        recorder.emplace();
        recorder->setEcho(true);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Command-line host of the analyzer driver."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("info (default), run, service or report"));
    const QCommandLineOption dataOption(QStringLiteral("data"),
                                        QStringLiteral("Data folder holding the databases (made when missing)."),
                                        QStringLiteral("dir"));
    const QCommandLineOption worklistOption(
        QStringLiteral("worklist"),
        QStringLiteral("Worklist CSV: sample,position,assay,dilution,method (default: a demonstration list)."),
        QStringLiteral("file"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Analyzer port, stored as instrument/port (default: the stored one, else SIM)."),
        QStringLiteral("name"));
    const QCommandLineOption speedOption(QStringLiteral("speed"),
                                         QStringLiteral("Time scale of the simulated analyzer (VELA_SIM_SPEED)."),
                                         QStringLiteral("x"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("Also write the results as JSON to this file."), QStringLiteral("file"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("Give up when the run takes longer (default: from the list and the speed)."),
        QStringLiteral("seconds"));
    const QCommandLineOption stallOption(
        QStringLiteral("stall"),
        QStringLiteral("Give up when no assay makes progress this long (default: from the speed)."),
        QStringLiteral("seconds"));
    const QCommandLineOption grabOption(
        QStringLiteral("grab"),
        QStringLiteral("service: save the option pages and the manual test dialog as images here, then exit."),
        QStringLiteral("dir"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("report: the archive to write (.tar.gz)."),
                                       QStringLiteral("file"));
    parser.addOptions({dataOption, worklistOption, portOption, speedOption, jsonOption, timeoutOption, stallOption,
                       grabOption, outOption});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const QString command = args.isEmpty() ? QStringLiteral("info") : args.first();
    if (args.size() > 1
        || (command != QLatin1String("info") && command != QLatin1String("run") && command != QLatin1String("service")
            && command != QLatin1String("report")))
        return failWith(
            QStringLiteral("unknown command '%1' (info, run, service or report)").arg(args.join(QLatin1Char(' '))));
    const bool run = command == QLatin1String("run");
    const bool service = command == QLatin1String("service");

    // A console speaks one language, English: the command line above (read
    // before any translator, so Qt's words in its help and errors too), our
    // lines, and in info and run the driver's messages and results and Qt's
    // texts in them. The windows of "service", shown or grabbed, speak the
    // system locale's language or VELA_LANG's ("en", "zh_CN").
    tq::installTranslations(service ? tq::uiLanguage() : QStringLiteral("en"), tq::translationsDir());

    // Checked before anything is touched: a bad worklist runs nothing.
    QList<WorklistEntry> entries;
    const bool haveWorklist = parser.isSet(worklistOption);
    if (run && haveWorklist) {
        QString error;
        if (!worklistfile::read(QFileInfo(parser.value(worklistOption)).absoluteFilePath(), &entries, &error))
            return failWith(QStringLiteral("bad worklist: %1; nothing was run").arg(error));
    }
    double speed = 1.0;
    if (parser.isSet(speedOption)) {
        bool ok = false;
        speed = parser.value(speedOption).toDouble(&ok);
        if (!ok || !(speed > 0.0) || speed > 10000.0)
            return failWith(
                QStringLiteral("bad speed '%1' (want a factor above 0, at most 10000)").arg(parser.value(speedOption)));
        // Linkhub and its simulator are started by the driver and inherit it.
        qputenv("VELA_SIM_SPEED", QByteArray::number(speed));
    } else if (!qEnvironmentVariableIsEmpty("VELA_SIM_SPEED")) {
        speed = qEnvironmentVariable("VELA_SIM_SPEED").toDouble();
    }
    auto seconds = [&](const QCommandLineOption& option, int* value) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        return ok && *value > 0;
    };
    HostRun::Options options;
    options.speed = speed > 0.0 ? speed : 1.0;
    if (!seconds(timeoutOption, &options.timeoutSeconds) || !seconds(stallOption, &options.stallSeconds))
        return failWith(QStringLiteral("bad --timeout or --stall (want whole seconds above 0)"));
    if (parser.isSet(jsonOption))
        options.jsonFile = QFileInfo(parser.value(jsonOption)).absoluteFilePath();

    // The data folder becomes the working directory: the databases are
    // opened there by their plain names.
    const QString dataDir = parser.isSet(dataOption)
                                ? QFileInfo(parser.value(dataOption)).absoluteFilePath()
                                : QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (command == QLatin1String("report")) {
        // Read only: a running host and its databases are left alone.
        if (!parser.isSet(outOption))
            return failWith(QStringLiteral("report needs --out FILE"));
        QString reportError;
        if (!supportreport::write(dataDir, parser.value(outOption), &reportError))
            return failWith(QStringLiteral("cannot write the report: %1").arg(reportError));
        out(QStringLiteral("Report written to %1").arg(QFileInfo(parser.value(outOption)).absoluteFilePath()));
        return 0;
    }
    if (!QDir().mkpath(dataDir) || !QDir::setCurrent(dataDir))
        return failWith(QStringLiteral("cannot use the data folder %1").arg(dataDir));
    out(QStringLiteral("Data folder: %1").arg(dataDir));
    QStringList created;
    QString error;
    if (!hostdatabase::prepare(&created, &error))
        return failWith(QStringLiteral("cannot set up the databases: %1").arg(error));
    if (!created.isEmpty())
        out(QStringLiteral("Set up %1").arg(created.join(QStringLiteral(", "))));
    QString detail;
    const int upgrade = hostdatabase::runUpgrade(QCoreApplication::applicationDirPath(), &detail);
    if (upgrade == -1)
        out(QStringLiteral("dbupdate: not built, databases left as they are"));
    else if (upgrade != 0)
        out(QStringLiteral("dbupdate: exit code %1%2 (see dbupdate.log)")
                .arg(upgrade)
                .arg(detail.isEmpty() ? QString() : QStringLiteral(", ") + detail));
    else
        out(QStringLiteral("dbupdate: exit code 0"));

    Profile& profile = Profile::instance();
    registerAnalysisResultMetaType();
    if (parser.isSet(portOption))
        profile.setValue(QStringLiteral("instrument/port"), parser.value(portOption));
    else if (profile.value(QStringLiteral("instrument/port")).toString().isEmpty())
        profile.setValue(QStringLiteral("instrument/port"), QStringLiteral("SIM"));

    QString pluginFile;
    InstrumentFactoryInterface* factory = findFactory(&pluginFile, &error);
    if (!factory)
        return failWith(error);

    int code = 0;
    {
        Workbench workbench;
        std::unique_ptr<Instrument> instrument(factory->create(QLatin1String(instrumentKey), &workbench));
        if (!instrument)
            return failWith(QStringLiteral("the plug-in made no instrument for %1").arg(QLatin1String(instrumentKey)));
        workbench.setInstrument(instrument.get());
        instrument->createResources(workbench.resourceManager());
        placeReagents(&workbench);

        if (service) {
            code = hostservice::exec(instrument.get(), parser.isSet(grabOption)
                                                           ? QFileInfo(parser.value(grabOption)).absoluteFilePath()
                                                           : QString());
        } else if (!run) {
            printInstrument(instrument.get(), &workbench, pluginFile);
        } else {
            // A worklist's run is recorded before it begins, so that after a
            // crash the same worklist resumes it; the demo list is new each time.
            QByteArray digest;
            if (haveWorklist) {
                digest = runledger::digest(entries);
                runledger::Run begun;
                if (!runledger::begin(dataDir, digest, QDate::currentDate(), &begun, &error))
                    return failWith(QStringLiteral("cannot record the run: %1; nothing was run").arg(error));
                options.runDate = begun.date;
                options.resume = begun.resumed;
            } else {
                entries = worklistfile::demo(nextSampleNo(QDate::currentDate()));
            }
            options.curveDir = QDir(dataDir).filePath(QStringLiteral("curves"));
            HostRun hostRun(&workbench, instrument.get(), &*recorder, options);
            code = hostRun.exec(entries);
            if (code == 0 && haveWorklist && !runledger::finish(dataDir, digest, &error))
                out(QStringLiteral("velahost: %1").arg(error));
        }
        // The instrument (its worker and talk thread) goes before the
        // workbench and its assays.
        instrument.reset();
    }
    return code;
}
