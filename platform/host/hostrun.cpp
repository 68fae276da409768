#include "hostrun.h"

#include "curveplot.h"
#include "hostdatabase.h"
#include "runledger.h"

#include <tqcore/assay.h>
#include <tqcore/blink.h>
#include <tqcore/instrument.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include "core/analysisresult.h"
#include "core/messagepresenter.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

void out(const QString& text)
{
    std::fputs(qUtf8Printable(text), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString fileSafe(const QString& text)
{
    QString s = text;
    s.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return s;
}

// Pads to a display width, counting wide (CJK) characters as two columns.
QString pad(const QString& text, int width)
{
    int w = 0;
    for (const QChar c : text)
        w += c.unicode() >= 0x1100 ? 2 : 1;
    return text + QString(std::max(0, width - w), QLatin1Char(' '));
}

int displayWidth(const QString& text)
{
    int w = 0;
    for (const QChar c : text)
        w += c.unicode() >= 0x1100 ? 2 : 1;
    return w;
}

} // namespace

HostRun::HostRun(Workbench* workbench, Instrument* instrument, tq::MessageRecorder* recorder,
                 const Options& options, QObject* parent)
    : QObject(parent), m_workbench(workbench), m_instrument(instrument), m_recorder(recorder),
      m_options(options)
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
            why += QStringLiteral("%1Linkhub program %2 is missing").arg(why.isEmpty() ? QString() : QStringLiteral("; "), hub);
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
        connect(assay, &Assay::changed, this, [this] { m_lastProgress = m_clock.elapsed(); },
                Qt::QueuedConnection);
        worklist->append(assay);
    }
    out(QStringLiteral("Queued %1 assays; bound %2 s, watchdog %3 s.")
            .arg(m_items.size() - earlier)
            .arg(bound())
            .arg(m_options.stallSeconds > 0 ? m_options.stallSeconds
                                            : int(20 + 300.0 / m_options.speed)));

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
            m_lastProgress = now;   // time without a link is no stall
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

int HostRun::report()
{
    // Results that finished in the last moment are stored too.
    for (Item& item : m_items) {
        if (!item.reported && item.assay && item.assay->isFinished()) {
            item.reported = true;
            storeResult(item);
        }
    }
    printResults();
    if (!m_options.jsonFile.isEmpty()) {
        QString error;
        if (!writeJson(&error))
            out(QStringLiteral("velahost: %1").arg(error));
        else
            out(QStringLiteral("Results written to %1").arg(m_options.jsonFile));
    }

    int withResult = 0;
    for (const Item& item : std::as_const(m_items))
        withResult += hasResult(item) ? 1 : 0;
    const int total = int(m_items.size());
    int earlier = 0;
    for (const Item& item : std::as_const(m_items))
        earlier += item.earlier ? 1 : 0;
    out(QStringLiteral("Summary: %1 of %2 assays with a result%3, %4 s.")
            .arg(withResult)
            .arg(total)
            .arg(earlier > 0 ? QStringLiteral(" (%1 stored by an earlier part of the run)").arg(earlier) : QString())
            .arg(m_clock.elapsed() / 1000.0, 0, 'f', 1));
    if (m_linkLosses > 0)
        out(QStringLiteral("Link lost %1 times, %2 s without a link in all.")
                .arg(m_linkLosses)
                .arg(m_lostTotal / 1000.0, 0, 'f', 1));
    if (!m_failure.isEmpty()) {
        out(QStringLiteral("velahost: run failed: %1").arg(m_failure));
        return 1;
    }
    if (withResult != total) {
        out(QStringLiteral("velahost: run failed: %1 assays have no result").arg(total - withResult));
        return 1;
    }
    return 0;
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
        if (m_lostSince < 0) {  // lost without a state change seen
            m_lostSince = now;
            ++m_linkLosses;
        }
        if (now - m_lostSince > qint64(linkBound()) * 1000)
            fail(QStringLiteral("the link to the analyzer was lost and not back within %1 s").arg(linkBound()));
        return;
    }
    const int stall = m_options.stallSeconds > 0 ? m_options.stallSeconds
                                                 : int(20 + 300.0 / m_options.speed);
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

QString HostRun::resultText(const Item& item) const
{
    const AnalysisResult r = item.earlier ? AnalysisResult(item.earlierValue) : item.assay->result();
    return r.toString(AnalysisResult::Decorated, 'g', 4);
}

void HostRun::storeResult(Item& item)
{
    const AnalysisResult r = item.assay->result();
    const ClotCurve curve = r.curve();
    QString error;
    int patient = -1;
    if (!hostdatabase::storeFinished(item.entry.sample, m_options.runDate, item.key, hasResult(item), r.value(),
                                     curve, &patient, &error)) {
        item.storeError = error;
        return;
    }
    if (curve.size() == 0)
        return;
    QDir().mkpath(m_options.curveDir);
    const QString file = QDir(m_options.curveDir)
                             .filePath(QStringLiteral("%1_%2_%3.png")
                                           .arg(m_options.runDate.toString(QStringLiteral("yyyyMMdd")),
                                                fileSafe(item.entry.sample), fileSafe(item.key)));
    const QString title = QStringLiteral("sample %1 (%2)  %3  %4  %5")
                              .arg(item.entry.sample, item.entry.position, item.entry.assay, item.entry.dilution,
                                   resultText(item));
    if (writeCurvePng(curve, r.value(), title, file, &error))
        item.curveFile = QFileInfo(file).absoluteFilePath();
    else
        item.storeError = error;
}

void HostRun::printResults() const
{
    const QStringList header = {QStringLiteral("sample"), QStringLiteral("pos"), QStringLiteral("assay"),
                                QStringLiteral("dilution"), QStringLiteral("result"), QStringLiteral("ch"),
                                QStringLiteral("error")};
    QList<QStringList> rows;
    for (const Item& item : m_items) {
        QString text, channel, error;
        if (item.earlier) {
            text = resultText(item);
            error = QStringLiteral("stored earlier");
        } else if (!item.assay) {
            error = QStringLiteral("assay deleted");
        } else {
            const AnalysisResult r = item.assay->result();
            text = hasResult(item) ? r.toString(AnalysisResult::Decorated, 'g', 4) : QStringLiteral("-");
            channel = r.ch() > 0 ? QString::number(r.ch()) : QString();
            error = r.errorText();
            if (!item.assay->isFinished())
                error = QStringLiteral("not finished");
            else if (!hasResult(item) && error.isEmpty())
                error = QStringLiteral("no result");
            if (!item.storeError.isEmpty())
                error += (error.isEmpty() ? QString() : QStringLiteral("; ")) + item.storeError;
        }
        rows.append({item.entry.sample, item.entry.position, item.entry.assay, item.entry.dilution, text,
                     channel, error});
    }
    QList<int> widths;
    for (int c = 0; c < header.size(); ++c) {
        int w = displayWidth(header.at(c));
        for (const QStringList& row : rows)
            w = std::max(w, displayWidth(row.at(c)));
        widths.append(w);
    }
    auto line = [&](const QStringList& cells) {
        QString s;
        for (int c = 0; c < cells.size(); ++c)
            s += pad(cells.at(c), widths.at(c)) + QStringLiteral("  ");
        while (s.endsWith(QLatin1Char(' ')))
            s.chop(1);
        out(s);
    };
    out(QString());
    line(header);
    QStringList rule;
    for (int w : std::as_const(widths))
        rule << QString(w, QLatin1Char('-'));
    line(rule);
    for (const QStringList& row : std::as_const(rows))
        line(row);
    out(QString());
}

bool HostRun::writeJson(QString* error) const
{
    QJsonArray results;
    for (const Item& item : m_items) {
        QJsonObject o;
        o.insert(QStringLiteral("sample"), item.entry.sample);
        o.insert(QStringLiteral("position"), item.entry.position);
        o.insert(QStringLiteral("assay"), item.entry.assay);
        o.insert(QStringLiteral("dilution"), item.entry.dilution);
        o.insert(QStringLiteral("method"), item.entry.method);
        o.insert(QStringLiteral("earlier"), item.earlier);
        if (item.earlier) {
            o.insert(QStringLiteral("finished"), true);
            o.insert(QStringLiteral("value"), item.earlierValue);
            o.insert(QStringLiteral("text"), resultText(item));
            o.insert(QStringLiteral("points"), item.earlierPoints);
        } else if (item.assay) {
            const AnalysisResult r = item.assay->result();
            const bool has = hasResult(item);
            o.insert(QStringLiteral("finished"), item.assay->isFinished());
            o.insert(QStringLiteral("status"), int(item.assay->status()));
            o.insert(QStringLiteral("value"), has ? QJsonValue(r.value()) : QJsonValue());
            o.insert(QStringLiteral("text"), has ? r.toString(AnalysisResult::Decorated, 'g', 4) : QString());
            o.insert(QStringLiteral("channel"), r.ch());
            o.insert(QStringLiteral("flags"), r.flags());
            o.insert(QStringLiteral("errorCode"), int(r.error()));
            o.insert(QStringLiteral("error"), r.errorText());
            o.insert(QStringLiteral("report"), item.assay->message());
            o.insert(QStringLiteral("points"), r.curve().size());
        } else {
            o.insert(QStringLiteral("finished"), false);
            o.insert(QStringLiteral("value"), QJsonValue());
            o.insert(QStringLiteral("error"), QStringLiteral("assay deleted"));
            o.insert(QStringLiteral("points"), 0);
        }
        o.insert(QStringLiteral("png"), item.curveFile.isEmpty() ? QJsonValue() : QJsonValue(item.curveFile));
        if (!item.storeError.isEmpty())
            o.insert(QStringLiteral("storeError"), item.storeError);
        results.append(o);
    }
    int withResult = 0;
    for (const Item& item : m_items)
        withResult += hasResult(item) ? 1 : 0;
    QJsonObject summary;
    summary.insert(QStringLiteral("total"), int(m_items.size()));
    summary.insert(QStringLiteral("withResult"), withResult);
    summary.insert(QStringLiteral("seconds"), m_clock.elapsed() / 1000.0);
    summary.insert(QStringLiteral("failure"), m_failure);
    QJsonObject root;
    root.insert(QStringLiteral("results"), results);
    root.insert(QStringLiteral("summary"), summary);

    QSaveFile file(m_options.jsonFile);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_options.jsonFile, file.errorString());
        return false;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        *error = QStringLiteral("%1: %2").arg(m_options.jsonFile, file.errorString());
        return false;
    }
    return true;
}
