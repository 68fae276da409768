#include "hostrun.h"

#include "hostdatabase.h"
#include "runledger.h"

#include <tqcore/assay.h>
#include <tqcore/blink.h>
#include <tqcore/instrument.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include "core/analysisresult.h"
#include "core/messagepresenter.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QFileInfo>

void HostRun::out(const QString& text)
{
    std::fputs(qUtf8Printable(text), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

HostRun::HostRun(Workbench* workbench, Instrument* instrument, tq::MessageRecorder* recorder, const Options& options,
                 QObject* parent)
    : QObject(parent)
    , m_workbench(workbench)
    , m_instrument(instrument)
    , m_recorder(recorder)
    , m_options(options)
{
    if (!(m_options.speed > 0.0))
        m_options.speed = 1.0;
}

HostRun::~HostRun() = default;

int HostRun::bound() const
{
    if (m_options.timeoutSeconds > 0)
        return m_options.timeoutSeconds;
    // Real time the driver needs (passes one second apart, a few per test)
    // plus the analyzer's own time, which the simulator compresses.
    const int n = int(m_items.size());
    return int(60 + 5 * n + (600.0 + 240.0 * n) / m_options.speed);
}

int HostRun::linkBound() const
{
    // Long enough for an analyzer switched off and on again, and for the
    // driver's back-off (at most 10 s between tries).
    return qMax(120, m_options.stallSeconds);
}

int HostRun::exec(const QList<WorklistEntry>& entries)
{
    m_clock.start();
    const int messagesBefore = int(m_recorder->messages().size());
    if (!m_options.runDate.isValid())
        m_options.runDate = QDate::currentDate();

    const QStringList keys = runledger::resultKeys(entries);
    int earlier = 0;
    for (int i = 0; i < entries.size(); ++i) {
        Item item;
        item.entry = entries.at(i);
        item.key = keys.at(i);
        if (m_options.resume)
            item.earlier = hostdatabase::storedResult(item.entry.sample, m_options.runDate, item.key,
                                                      &item.earlierValue, &item.earlierPoints);
        earlier += item.earlier ? 1 : 0;
        item.reported = item.earlier;
        m_items.append(item);
    }
    if (m_options.resume)
        out(QStringLiteral("Resuming the run of %1: %2 of %3 entries have a result stored already.")
                .arg(m_options.runDate.toString(Qt::ISODate))
                .arg(earlier)
                .arg(m_items.size()));
    if (earlier == m_items.size())
        return report();

    out(QStringLiteral("Connecting to the analyzer ..."));
    m_instrument->connectToHost();
    if (!m_instrument->isConnected()) {
        QString why = recentMessages(messagesBefore);
        // The driver starts Linkhub from VELA_LINKHUB or beside the program.
        const QString hub = qEnvironmentVariableIsEmpty("VELA_LINKHUB")
                                ? QCoreApplication::applicationDirPath() + QStringLiteral("/Linkhub")
                                : qEnvironmentVariable("VELA_LINKHUB");
        if (!QFileInfo(hub).isExecutable())
            why += QStringLiteral("%1Linkhub program %2 is missing")
                       .arg(why.isEmpty() ? QString() : QStringLiteral("; "), hub);
        out(QStringLiteral("velahost: no connection to the analyzer%1")
                .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        return 1;
    }
    m_connected = true;
    out(QStringLiteral("Connected (%1 s).").arg(m_clock.elapsed() / 1000.0, 0, 'f', 1));

    Worklist* worklist = m_workbench->worklist();
    for (Item& item : m_items) {
        if (item.earlier)
            continue;
        const WorklistEntry& e = item.entry;
        auto* assay = new Assay(e.sample, e.position, e.assay);
        assay->setDilution(e.dilution);
        assay->setMethod(e.method);
        item.assay = assay;
        // Any change of an assay (status, elapsed times, result) counts as
        // progress for the watchdog; it is noted in this (the GUI) thread.
        connect(
            assay, &Assay::changed, this, [this] { m_lastProgress = m_clock.elapsed(); }, Qt::QueuedConnection);
        worklist->append(assay);
    }
    out(QStringLiteral("Queued %1 assays; bound %2 s, watchdog %3 s.")
            .arg(m_items.size() - earlier)
            .arg(bound())
            .arg(m_options.stallSeconds > 0 ? m_options.stallSeconds : int(20 + 300.0 / m_options.speed)));

    // A lost link is the driver's to bring back: the run waits for it,
    // within a bound of its own, and goes on.
    connect(m_instrument, &Instrument::stateChanged, this, [this](int state) {
        if (m_finished)
            return;
        const qint64 now = m_clock.elapsed();
        if (state != Instrument::Connected && m_lostSince < 0) {
            m_lostSince = now;
            ++m_linkLosses;
            out(QStringLiteral("Link to the analyzer lost (%1 s); waiting for the driver to reconnect ...")
                    .arg(now / 1000.0, 0, 'f', 1));
        } else if (state == Instrument::Connected && m_lostSince >= 0) {
            m_lostTotal += now - m_lostSince;
            out(QStringLiteral("Link to the analyzer back after %1 s.").arg((now - m_lostSince) / 1000.0, 0, 'f', 1));
            m_lostSince = -1;
            m_lastProgress = now; // time without a link is no stall
        }
    });
    if (m_instrument->metaObject()->indexOfSignal("temp1Changed(QString)") >= 0)
        connect(m_instrument, SIGNAL(temp1Changed(QString)), this, SLOT(onPrewarmTemperature(QString)));

    connect(&m_statusTimer, &QTimer::timeout, m_instrument, &Instrument::pollStatus);
    connect(&m_temperatureTimer, &QTimer::timeout, m_instrument, &Instrument::pollTemperatures);
    connect(&m_checkTimer, &QTimer::timeout, this, &HostRun::check);
    m_statusTimer.start(2000);
    m_temperatureTimer.start(5000);
    m_checkTimer.start(250);
    m_instrument->pollTemperatures();

    m_lastProgress = m_clock.elapsed();
    if (!m_instrument->startWork()) {
        fail(QStringLiteral("the instrument did not start the work"));
    } else {
        m_loop.exec();
    }
    m_statusTimer.stop();
    m_temperatureTimer.stop();
    m_checkTimer.stop();
    m_finished = true;
    printProgress(true);

    if (!m_failure.isEmpty()) {
        m_instrument->haltWork();
    } else {
        // The driver may still be releasing tests, or waiting to release
        // tests an earlier run left on the analyzer that no assay claimed:
        // the link stays until its work has ended.
        const QDeadlineTimer deadline(qint64(linkBound()) * 1000);
        while (m_instrument->isRunning() && !deadline.hasExpired()) {
            QEventLoop pause;
            QTimer::singleShot(50, &pause, &QEventLoop::quit);
            pause.exec();
        }
    }
    m_instrument->disconnectFromHost();
    return report();
}

void HostRun::onPrewarmTemperature(const QString& text)
{
    m_prewarm = text.trimmed();
}

bool HostRun::hasResult(const Item& item) const
{
    if (item.earlier)
        return true;
    if (!item.assay || !item.assay->isFinished())
        return false;
    const AnalysisResult r = item.assay->result();
    return r.isValid() || r.error() == AnalysisResult::NotClotted;
}

int HostRun::finishedCount() const
{
    int n = 0;
    for (const Item& item : m_items)
        n += (item.earlier || (item.assay && item.assay->isFinished())) ? 1 : 0;
    return n;
}

bool HostRun::prewarmSettled() const
{
    // The driver's blink object blinks the pre-warm label until the zone has settled.
    const Blink* blink = m_instrument->findChild<Blink*>();
    return blink && !blink->isBlinking();
}

QString HostRun::recentMessages(int from) const
{
    const QStringList texts = m_recorder->texts();
    QStringList recent = texts.mid(from);
    for (QString& t : recent)
        t = t.simplified();
    return recent.join(QStringLiteral("; "));
}

void HostRun::fail(const QString& reason)
{
    if (m_failure.isEmpty())
        m_failure = reason;
    m_loop.quit();
}

void HostRun::check()
{
    const qint64 now = m_clock.elapsed();
    const int done = finishedCount();

    // Results as they come, each stored before the next is looked at: a
    // host that dies now loses none of those it has shown.
    for (Item& item : m_items) {
        if (item.reported || !item.assay || !item.assay->isFinished())
            continue;
        item.reported = true;
        storeResult(item);
        out(QStringLiteral("  %1 %2 %3: %4%5")
                .arg(item.entry.sample, item.entry.position, item.entry.assay,
                     hasResult(item) ? resultText(item) : QStringLiteral("no result"),
                     item.storeError.isEmpty() ? QString() : QStringLiteral(" (not stored: %1)").arg(item.storeError)));
    }
    printProgress(false);

    if (done == m_items.size()) {
        m_loop.quit();
        return;
    }
    if (!m_instrument->isConnected()) {
        if (m_lostSince < 0) { // lost without a state change seen
            m_lostSince = now;
            ++m_linkLosses;
        }
        if (now - m_lostSince > qint64(linkBound()) * 1000)
            fail(QStringLiteral("the link to the analyzer was lost and not back within %1 s").arg(linkBound()));
        return;
    }
    const int stall = m_options.stallSeconds > 0 ? m_options.stallSeconds : int(20 + 300.0 / m_options.speed);
    if (now - m_lastProgress > qint64(stall) * 1000) {
        int withResult = 0;
        QStringList errors;
        for (const Item& item : std::as_const(m_items)) {
            if (hasResult(item)) {
                ++withResult;
            } else if (item.assay && item.assay->isFinished()) {
                const QString e = item.assay->result().errorText();
                if (!e.isEmpty() && !errors.contains(e))
                    errors << e;
            }
        }
        QString why = QStringLiteral("no assay made progress for %1 s (%2 of %3 finished, %4 with a result)")
                          .arg(stall)
                          .arg(done)
                          .arg(m_items.size())
                          .arg(withResult);
        const QStringList texts = m_recorder->texts();
        if (!errors.isEmpty())
            why += QStringLiteral("; assay errors: ") + errors.join(QStringLiteral("; "));
        if (!texts.isEmpty())
            why += QStringLiteral("; last message: ") + texts.last().simplified();
        why += QStringLiteral("; the analyzer or Linkhub stopped answering");
        fail(why);
        return;
    }
    if (now - m_lostTotal > qint64(bound()) * 1000) {
        fail(QStringLiteral("the run did not finish within %1 s (%2 of %3 done)")
                 .arg(bound())
                 .arg(done)
                 .arg(m_items.size()));
        return;
    }
    // The worker ends when it has nothing left; new work needs a new start.
    if (!m_instrument->isRunning() && now - m_lastRestart >= 1000) {
        m_lastRestart = now;
        m_instrument->startWork();
    }
}

void HostRun::printProgress(bool force)
{
    const qint64 now = m_clock.elapsed();
    const int done = finishedCount();
    if (done == m_lastPrintedDone && now - m_lastPrint < (force ? 1000 : 5000))
        return;
    m_lastPrint = now;
    m_lastPrintedDone = done;
    int measuring = 0;
    for (const Item& item : std::as_const(m_items)) {
        if (item.assay && !item.assay->isFinished() && item.assay->status() >= tq::Started)
            ++measuring;
    }
    out(QStringLiteral("[%1 s] done %2/%3, on the analyzer %4, pre-warm %5 (%6)")
            .arg(now / 1000.0, 6, 'f', 1)
            .arg(done)
            .arg(m_items.size())
            .arg(measuring)
            .arg(m_prewarm.isEmpty() ? QStringLiteral("--") : m_prewarm + QStringLiteral(" °C"),
                 prewarmSettled() ? QStringLiteral("settled") : QStringLiteral("settling")));
}
