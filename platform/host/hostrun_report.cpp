// What a run leaves behind: each result stored in "data.db" with its curve
// plotted, and at the end the table of results and the JSON file.

#include "hostrun.h"

#include "curveplot.h"
#include "hostdatabase.h"

#include <tqcore/assay.h>

#include "core/analysisresult.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace {

QString fileSafe(const QString& text)
{
    QString s = text;
    s.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return s;
}

// Columns a text takes on a terminal: wide (CJK) characters take two.
int displayWidth(const QString& text)
{
    int w = 0;
    for (const QChar c : text)
        w += c.unicode() >= 0x1100 ? 2 : 1;
    return w;
}

// Pads to a display width.
QString pad(const QString& text, int width)
{
    return text + QString(std::max(0, width - displayWidth(text)), QLatin1Char(' '));
}

} // namespace

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
    if (!hostdatabase::storeFinished(item.entry.sample, m_options.runDate, item.key, hasResult(item), r.value(), curve,
                                     &patient, &error)) {
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
    const QStringList header = {QStringLiteral("sample"),   QStringLiteral("pos"),    QStringLiteral("assay"),
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
        rows.append(
            {item.entry.sample, item.entry.position, item.entry.assay, item.entry.dilution, text, channel, error});
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
