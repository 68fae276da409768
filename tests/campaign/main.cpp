// velacampaign: a worklist through the driver, Linkhub and the simulated
// analyzer while faults strike; prints one line of what became of the
// assays and exits 0 when none was lost or misattributed and a fault the
// simulator struck with explains every error.

#include "campaign.h"

#include "core/analysisresult.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    registerAnalysisResultMetaType();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fault campaign of the run scheduler."));
    parser.addHelpOption();
    const QCommandLineOption assays(QStringLiteral("assays"), QStringLiteral("Worklist size (default 200)."),
                                    QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Simulator time factor (default 60)."),
                                   QStringLiteral("x"), QStringLiteral("60"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the list, the faults and the deletions (default 1)."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption noFaults(QStringLiteral("no-faults"), QStringLiteral("Run without faults."));
    const QCommandLineOption noLinkFaults(QStringLiteral("no-link-faults"),
                                          QStringLiteral("No faults that break the link."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Bound of the run in seconds (default from the list)."),
                                     QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption linkhub(QStringLiteral("linkhub"), QStringLiteral("The Linkhub program."),
                                     QStringLiteral("path"), QStringLiteral(LINKHUB_PROGRAM));
    const QCommandLineOption velasim(QStringLiteral("velasim"), QStringLiteral("The velasim program."),
                                     QStringLiteral("path"), QStringLiteral(VELASIM_PROGRAM));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Print the faults, the boxes and every assay that is not as it should be."));
    const QCommandLineOption plantError(
        QStringLiteral("plant-error"),
        QStringLiteral("Judge the n-th assay as if the driver had reported its result replies unreadable "
                       "(a test of the campaign's own check; it must then fail)."),
        QStringLiteral("n"), QStringLiteral("0"));
    parser.addOptions({assays, speed, seed, noFaults, noLinkFaults, timeout, linkhub, velasim, verbose, plantError});
    parser.process(app);

    FaultCampaign::Options options;
    options.assays = qMax(1, parser.value(assays).toInt());
    options.speed = qMax(1.0, parser.value(speed).toDouble());
    options.seed = parser.value(seed).toUInt();
    options.faults = !parser.isSet(noFaults);
    options.linkFaults = !parser.isSet(noLinkFaults);
    options.timeoutSeconds = parser.value(timeout).toInt();
    options.linkhub = parser.value(linkhub);
    options.velasim = parser.value(velasim);
    options.verbose = parser.isSet(verbose);
    options.plantError = qMax(0, parser.value(plantError).toInt());

    FaultCampaign campaign(options);
    FaultCampaign::Tally tally;
    QString error;
    if (!campaign.run(&tally, &error)) {
        std::fprintf(stderr, "velacampaign: %s\n", qPrintable(error));
        return 2;
    }
    if (options.verbose || !tally.meetsTarget()) {
        for (const QString& d : tally.details)
            std::fprintf(stderr, "  %s\n", qPrintable(d));
    }
    std::printf("%s\n", qPrintable(tally.line()));
    return tally.meetsTarget() ? 0 : 1;
}
