#include "campaign.h"

#include "faultexplanation.h"

#include "commandcodec.h"
#include "instrvela.h"
#include "sim/simtruth.h"

#include "core/messagepresenter.h"
#include "core/profile.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

const char* const items[] = {"PT", "APTT", "TT", "FIB"};

// Why an error result came: its text names the fault.
QString reasonOf(const QString& errorText)
{
    if (errorText.contains(QStringLiteral("丢失")))
        return QStringLiteral("analyzer lost the test");
    if (errorText.contains(QStringLiteral("查询失败")))
        return QStringLiteral("result replies unreadable");
    if (errorText.contains(QStringLiteral("稀释")))
        return QStringLiteral("dilution refused");
    return QStringLiteral("other: ") + errorText.left(40);
}

} // namespace

int FaultCampaign::Tally::errorCount() const
{
    int n = 0;
    for (int count : errors)
        n += count;
    return n;
}

bool FaultCampaign::Tally::meetsTarget() const
{
    for (auto it = errors.cbegin(); it != errors.cend(); ++it) {
        if (it.key().startsWith(QLatin1String("other")))
            return false;
    }
    return lost == 0 && misattributed == 0 && unexplained == 0 && crashes == 0 && hangs == 0
           && trueResults + errorCount() + deleted == assays;
}

QString FaultCampaign::Tally::line() const
{
    QStringList why;
    for (auto it = errors.cbegin(); it != errors.cend(); ++it)
        why << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    return QStringLiteral("campaign: assays %1, true result %2, explicit error %3%4, deleted by host %5, "
                          "lost %6, misattributed %7, unexplained %8, crashes %9, hangs %10, link lost %11 times, "
                          "wall %12 s")
        .arg(assays)
        .arg(trueResults)
        .arg(errorCount())
        .arg(why.isEmpty() ? QString() : QStringLiteral(" (") + why.join(QStringLiteral(", ")) + QLatin1Char(')'))
        .arg(deleted)
        .arg(lost)
        .arg(misattributed)
        .arg(unexplained)
        .arg(crashes)
        .arg(hangs)
        .arg(linkLosses)
        .arg(wallSeconds, 0, 'f', 1);
}

FaultCampaign::FaultCampaign(const Options& options)
    : m_options(options)
{
}

bool FaultCampaign::run(Tally* tally, QString* error)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    QElapsedTimer wall;
    wall.start();
    const int firstStage = m_options.assays - m_options.assays / 2;
    bool ok = runStage(FaultPlan::InLinkhub, 0, firstStage, dir.filePath(QStringLiteral("truth1.txt")), tally, error);
    if (ok && m_options.assays > firstStage) {
        ok = runStage(FaultPlan::OnTerminal, firstStage, m_options.assays - firstStage,
                      dir.filePath(QStringLiteral("truth2.txt")), tally, error);
    }
    tally->wallSeconds = wall.elapsed() / 1000.0;
    return ok;
}

bool FaultCampaign::runStage(FaultPlan::Stage stage, int first, int count, const QString& truthFile, Tally* tally,
                             QString* error)
{
    FaultPlan plan;
    plan.stage = stage;
    plan.assays = count;
    plan.seed = m_options.seed;
    plan.linkFaults = m_options.linkFaults;
    const QByteArray faults = m_options.faults ? plan.grammar().toLatin1() : QByteArray();
    qputenv("VELA_LINKHUB", m_options.linkhub.toLocal8Bit());
    // Each stage its own Linkhub: the last one may still wait for clients.
    qputenv("VELA_LINKHUB_PORT", QByteArray::number(freePort()));
    qputenv("VELA_LINKHUB_KEY", "campaign-" + QByteArray::number(QCoreApplication::applicationPid()) + '-'
                                    + QByteArray::number(int(stage)));
    // Linkhub, and an analyzer in it, outlive a dropped link.
    qputenv("VELA_LINKHUB_IDLE", "8000");
    qputenv("VELA_LINKHUB_EXIT_AFTER", QByteArray::number(m_options.faults ? plan.linkhubExitAfter() : 0));
    qputenv("VELA_SIM_SPEED", QByteArray::number(m_options.speed));
    qputenv("VELA_SIM_SEED", QByteArray::number(m_options.seed + uint(stage)));
    qputenv("VELA_SIM_TRUTH", truthFile.toLocal8Bit());
    qputenv("VELA_TALK_TIMEOUT_MS", QByteArray::number(plan.talkTimeoutMs));
    qputenv("VELA_SIM_FAULTS", faults);
    if (m_options.verbose) {
        std::fprintf(stderr, "stage %d: %d assays; faults: %s; Linkhub exits after %d lines\n", int(stage) + 1, count,
                     faults.constData(), plan.linkhubExitAfter());
    }

    // The analyzer on a terminal outlives Linkhub; the faults strike there.
    QProcess velasim;
    QString port = QStringLiteral("SIM");
    if (stage == FaultPlan::OnTerminal) {
        velasim.setProgram(m_options.velasim);
        velasim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        velasim.start();
        if (!velasim.waitForReadyRead(15000)) {
            *error = QStringLiteral("velasim did not start: ") + velasim.errorString();
            return false;
        }
        port = QString::fromLocal8Bit(velasim.readLine().trimmed());
        // Linkhub's own SIM port is not used in this stage.
        qunsetenv("VELA_SIM_FAULTS");
    }
    Profile::instance().setValue(QStringLiteral("instrument/port"), port, false);

    tq::MessageRecorder messages;
    messages.setEcho(m_options.verbose);
    Workbench workbench;
    InstrVela instrument(&workbench);
    workbench.setInstrument(&instrument);
    instrument.connectToHost();
    if (!instrument.isConnected()) {
        *error = QStringLiteral("no connection: ") + messages.texts().join(QStringLiteral("; "));
        return false;
    }
    QObject::connect(&instrument, &Instrument::stateChanged, [tally](int state) {
        if (state != Instrument::Connected)
            ++tally->linkLosses;
    });
    m_items.clear();
    buildWorklist(&workbench, first, count);
    qint64 lastLookMs = QDateTime::currentMSecsSinceEpoch();
    instrument.startWork();

    const int bound = m_options.timeoutSeconds > 0 ? m_options.timeoutSeconds
                                                   : int(60 + count * (1.0 + 600.0 / m_options.speed));
    const QDeadlineTimer deadline(bound * 1000LL);
    const int quota = count * m_options.deletePercent / 100;
    int deleted = 0;
    QRandomGenerator rng(m_options.seed ^ (0x5EED + uint(stage)));
    QEventLoop loop;
    QTimer tick;
    int ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        ++ticks;
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        noteLives(lastLookMs, nowMs);
        lastLookMs = nowMs;
        if (allDone() || deadline.hasExpired()) {
            loop.quit();
            return;
        }
        // What the host does: poll every 2 s, start the work while some is left.
        if (ticks % 10 == 0) {
            instrument.pollStatus();
            instrument.pollTemperatures();
        }
        if (!instrument.isRunning())
            instrument.startWork();
        if (deleted < quota && rng.bounded(100) < 15 && deleteOneRunning(&workbench, &rng))
            ++deleted;
    });
    tick.start(200);
    loop.exec();
    noteLives(lastLookMs, QDateTime::currentMSecsSinceEpoch());
    if (!allDone())
        ++tally->hangs;
    instrument.disconnectFromHost();

    if (velasim.state() != QProcess::NotRunning) {
        velasim.terminate();
        if (!velasim.waitForFinished(10000))
            velasim.kill();
    } else if (stage == FaultPlan::OnTerminal) {
        ++tally->crashes; // the analyzer ended by itself
    }
    velasim.waitForFinished(5000);
    if (m_options.verbose) {
        QMap<QByteArray, int> kinds;
        const QList<simtruth::Strike> strikes = simtruth::readStrikes(truthFile);
        for (const simtruth::Strike& s : strikes)
            ++kinds[s.kind];
        QStringList counts;
        for (auto it = kinds.cbegin(); it != kinds.cend(); ++it)
            counts << QStringLiteral("%1 %2").arg(it.value()).arg(QString::fromLatin1(it.key()));
        std::fprintf(stderr, "stage %d: %d faults struck (%s)\n", int(stage) + 1, int(strikes.size()),
                     qPrintable(counts.join(QStringLiteral(", "))));
    }
    judge(truthFile, plan.talkTimeoutMs, tally);
    return true;
}

void FaultCampaign::buildWorklist(Workbench* workbench, int first, int count)
{
    QRandomGenerator rng(m_options.seed + quint32(first));
    for (int i = first; i < first + count; ++i) {
        Item item;
        item.place = i + 1;
        const int sample = i / 4;
        item.sample = QStringLiteral("S%1").arg(sample + 1, 4, 10, QLatin1Char('0'));
        const QString position = QStringLiteral("%1%2").arg(QChar(u'A' + sample / 12 % 4)).arg(sample % 12 + 1);
        item.item = QString::fromLatin1(items[i % 4]);
        item.dilution = QStringLiteral("1/%1").arg(rng.bounded(1, 11));
        item.method = rng.bounded(2) ? QStringLiteral("磁珠法") : QStringLiteral("光学法");
        auto* a = new Assay(item.sample, position, item.item);
        a->setDilution(item.dilution);
        a->setMethod(item.method);
        item.assay = a;
        m_items.append(item);
        workbench->worklist()->append(a);
    }
}

bool FaultCampaign::deleteOneRunning(Workbench* workbench, QRandomGenerator* rng)
{
    QList<int> running;
    for (int i = 0; i < m_items.size(); ++i) {
        Assay* a = m_items.at(i).assay;
        if (a && !a->isFinished() && a->status() >= tq::Started)
            running << i;
    }
    if (running.isEmpty())
        return false;
    Item& item = m_items[running.at(rng->bounded(int(running.size())))];
    item.deleted = true;
    workbench->worklist()->remove(item.assay.data());
    return true;
}

bool FaultCampaign::allDone() const
{
    for (const Item& item : m_items) {
        if (item.assay && !item.assay->isFinished())
            return false;
    }
    return true;
}

void FaultCampaign::noteLives(qint64 lastLookMs, qint64 nowMs)
{
    for (Item& item : m_items) {
        const Assay* a = item.assay;
        if (!a || item.finishedMs)
            continue;
        const bool finished = a->isFinished();
        if (!item.startedMs && (finished || a->status() >= tq::Started))
            item.startedMs = lastLookMs;
        if (finished)
            item.finishedMs = nowMs;
    }
}

void FaultCampaign::judge(const QString& truthFile, int talkTimeoutMs, Tally* tally) const
{
    const QHash<quint32, simtruth::Entry> truth = simtruth::read(truthFile);
    const FaultExplanation faults(simtruth::readStrikes(truthFile), talkTimeoutMs);
    // Every error must come of a fault the simulator struck this assay's
    // test with; one that no fault explains is the driver's own.
    const auto explained = [&](const Item& item, const QString& name, quint32 id, const QString& what) {
        const QString cause = faults.cause(id, item.startedMs, item.finishedMs);
        if (cause.isEmpty()) {
            ++tally->unexplained;
            tally->details << name
                                  + QStringLiteral(": %1, and no fault explains it (test %2)")
                                        .arg(what)
                                        .arg(id, 8, 16, QLatin1Char('0'));
        } else if (m_options.verbose) {
            std::fprintf(stderr, "  %s: %s, explained by %s\n", qUtf8Printable(name), qUtf8Printable(what),
                         qUtf8Printable(cause));
        }
    };
    const int maxClot = Profile::instance().value(QStringLiteral("max_clot_time"), 120).toInt();
    tally->assays += int(m_items.size());
    for (const Item& item : m_items) {
        const QString name = QStringLiteral("%1 %2 %3").arg(item.sample, item.item, item.dilution);
        if (item.deleted) {
            ++tally->deleted;
            continue;
        }
        Assay* a = item.assay;
        if (!a || !a->isFinished()) {
            ++tally->lost;
            tally->details << name + QStringLiteral(": not finished");
            continue;
        }
        AnalysisResult r = a->result();
        if (item.place == m_options.plantError) {
            r = AnalysisResult();
            r.setErrorText(QStringLiteral("测试结果查询失败: planted by the campaign"));
        }
        const quint32 id = a->tempValue(QStringLiteral("vela/id")).toUInt();
        if (r.error() == AnalysisResult::UnknownError) {
            const QString reason = reasonOf(r.errorText());
            ++tally->errors[reason];
            if (reason.startsWith(QLatin1String("other")))
                tally->details << name + QStringLiteral(": an error of no known kind: ") + r.errorText().left(80);
            // A refused dilution is the assay's own: no fault is needed.
            if (reason != QLatin1String("dilution refused")
                || InstrVela::dilutionFactor(a->dilution()) <= RunScheduler::maxDilutionFactor)
                explained(item, name, id, QStringLiteral("error \"%1\"").arg(r.errorText().left(40)));
            continue;
        }
        const auto t = truth.constFind(id);
        if (t == truth.constEnd()) {
            ++(r.isNull() ? tally->lost : tally->misattributed);
            tally->details << name + QStringLiteral(": no test %1 on the analyzer").arg(id, 8, 16, QLatin1Char('0'));
            continue;
        }
        // The test placed under this id must be this assay's.
        const bool ownTest = t->position == positionCode(a->samplePos()) && t->item == a->assay().left(2).toLatin1()
                             && t->dilution == InstrVela::dilutionFactor(a->dilution())
                             && t->method == QByteArray(a->method() == QStringLiteral("磁珠法") ? "C" : "L");
        double expected = t->clotHundredths / 100.0;
        if (expected > maxClot)
            expected = AnalysisResult::notClottedValue;
        if (!ownTest || std::abs(r.value() - expected) >= 0.005) {
            ++tally->misattributed;
            tally->details << name + QStringLiteral(": %1 s, its test says %2 s").arg(r.value()).arg(expected);
            continue;
        }
        const int points = r.curve().size();
        if (points == t->pointCount) {
            ++tally->trueResults;
        } else if (a->message().contains(QStringLiteral("曲线数据不完整"))) {
            ++tally->errors[QStringLiteral("curve incomplete, clot time kept")];
            explained(item, name, id, QStringLiteral("curve %1 of %2 points").arg(points).arg(t->pointCount));
        } else {
            ++tally->lost;
            tally->details << name + QStringLiteral(": curve %1 of %2 points").arg(points).arg(t->pointCount);
        }
    }
}
