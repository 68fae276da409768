#include "sim/velasim/replayrecording.h"

#include "platform/linewire/tracering.h"
#include "platform/linewire/wiretrace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Where a command carries its test id, or -1.
int idOffset(const QByteArray& code)
{
    if (code == "31" || code == "32" || code == "34" || code == "60")
        return 2;
    if (code == "5E")
        return 3;
    return -1;
}

QByteArray testId(const QByteArray& request)
{
    const int at = idOffset(request.left(2));
    return at < 0 || request.size() < at + 8 ? QByteArray() : request.mid(at, 8);
}

QByteArray withId(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    if (from.isEmpty() || from == to)
        return text;
    const qsizetype at = text.indexOf(from);
    if (at >= 0)
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

bool ReplayRecording::load(const QStringList& sources, QString* error, const QByteArray& from, const QByteArray& to)
{
    QStringList files;
    for (const QString& source : sources) {
        if (QFileInfo(source).isDir()) {
            const QStringList ring = TraceRing::files(source);
            if (ring.isEmpty()) {
                *error = QStringLiteral("%1 holds no trace files").arg(source);
                return false;
            }
            files << ring;
        } else {
            files << source;
        }
    }

    QByteArray selected; // from /02 lines, for traces that do not name it
    Exchange pending;
    QByteArray pendingAnalyzer;
    bool havePending = false;
    auto settle = [&](const QByteArray& reply, bool answered) {
        if (!havePending)
            return;
        havePending = false;
        pending.reply = reply;
        pending.answered = answered;
        if (pending.request.startsWith('/')) {
            if (pending.request.startsWith("/01") && answered && !reply.startsWith("Err:"))
                m_listed = reply.split(',');
            else if (pending.request.startsWith("/02") && reply == "/02OK")
                selected = pending.request.mid(3).trimmed();
            return;
        }
        addExchange(pendingAnalyzer.isEmpty() ? selected : pendingAnalyzer, pending);
    };

    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        const QString name = QFileInfo(path).fileName();
        int number = 0;
        while (!file.atEnd()) {
            const QByteArray raw = file.readLine();
            ++number;
            WireTrace::Line line;
            // A line without its end was being written when the trace
            // stopped: it is not whole, so it does not count.
            if (!raw.endsWith('\n') || !WireTrace::parseLine(raw, &line))
                continue;
            if ((!from.isEmpty() && line.time < from) || (!to.isEmpty() && line.time > to))
                continue;
            const QByteArray analyzer = line.analyzer == "-" ? QByteArray() : line.analyzer;
            if (line.tag == "C>") {
                settle(QByteArray(), false);
                pending = Exchange();
                pending.request = unescapeBytes(line.text);
                pending.where = QStringLiteral("%1:%2").arg(name).arg(number);
                pendingAnalyzer = analyzer;
                havePending = true;
            } else if (line.tag == "C<") {
                if (line.text.endsWith(" [stray]"))
                    continue;
                settle(unescapeBytes(line.text), true);
            } else if (line.tag == "--"
                       && (line.text == "client left" || line.text == "link dropped"
                           || line.text.startsWith("exiting after"))) {
                settle(QByteArray(), false);
                if (line.text == "client left")
                    selected.clear();
            }
        }
    }
    settle(QByteArray(), false);
    if (m_analyzers.isEmpty()) {
        *error = QStringLiteral("no analyzer command in %1").arg(sources.join(QStringLiteral(", ")));
        return false;
    }
    return true;
}

void ReplayRecording::addExchange(const QByteArray& analyzerId, const Exchange& exchange)
{
    // A trace that began after the selection and does not name the
    // analyzer: the one the port listed first, or the usual one.
    const QByteArray id = !analyzerId.isEmpty() ? analyzerId
                          : !m_listed.isEmpty() ? m_listed.constFirst()
                                                : QByteArray("VELA01");
    Analyzer& a = m_analyzers[id];
    const QByteArray code = exchange.request.left(2);
    const QByteArray recordedId = testId(exchange.request);
    if (recordedId.isEmpty()) {
        a.others[code].append(exchange);
        return;
    }
    const bool placement = code == "31" || code == "5E";
    int index = a.current.value(recordedId, -1);
    if (index < 0 || (placement && a.tests[index].released)) {
        Test test;
        test.id = recordedId;
        a.tests.append(test);
        index = int(a.tests.size() - 1);
        a.current.insert(recordedId, index);
    }
    Test& test = a.tests[index];
    if (placement) {
        test.placements.append(exchange);
        test.placed = true;
    } else if (code == "32") {
        test.statuses.append(exchange);
    } else if (code == "34") {
        test.releases.append(exchange);
        if (exchange.answered && exchange.reply == "3400")
            test.released = true;
    } else if (code == "60" && exchange.request.size() >= 14) {
        const QByteArray first = exchange.request.mid(10, 4);
        if (exchange.answered || !test.chunks.contains(first))
            test.chunks.insert(first, exchange);
    }
}

QList<QByteArray> ReplayRecording::identifiers() const
{
    QList<QByteArray> ids;
    for (const QByteArray& id : m_listed) {
        if (m_analyzers.contains(id))
            ids << id;
    }
    for (auto it = m_analyzers.cbegin(); it != m_analyzers.cend(); ++it) {
        if (!ids.contains(it.key()))
            ids << it.key();
    }
    return ids;
}

bool ReplayRecording::serves(const QByteArray& address) const
{
    return m_analyzers.contains(address);
}

int ReplayRecording::recordedTests(const QByteArray& analyzer) const
{
    int n = 0;
    for (const Test& t : m_analyzers.value(analyzer).tests)
        n += t.placed ? 1 : 0;
    return n;
}

SimReply ReplayRecording::handle(const QByteArray& address, const QByteArray& payload)
{
    ++m_requests;
    auto it = m_analyzers.find(address);
    if (it == m_analyzers.end())
        return mismatch(payload, QByteArray("<nothing for analyzer ") + address + '>', QString());
    return replay(*it, payload);
}

SimReply ReplayRecording::answerOf(const Exchange& e, const QByteArray& recordedId, const QByteArray& id)
{
    SimReply reply;
    // Linkhub's "Err:" in the recording stood for an analyzer that did not
    // answer in time; silence makes Linkhub say so again.
    if (!e.answered || e.reply.startsWith("Err:")) {
        reply.action = SimReply::Silent;
        return reply;
    }
    reply.line = withId(e.reply, recordedId, id);
    return reply;
}

SimReply ReplayRecording::fromSequence(QList<Exchange>& list, int* at, const QByteArray& recordedId,
                                       const QByteArray& id)
{
    const Exchange& e = list.at(qMin(*at, int(list.size() - 1)));
    ++*at;
    return answerOf(e, recordedId, id);
}

SimReply ReplayRecording::replay(Analyzer& a, const QByteArray& request)
{
    const QByteArray code = request.left(2);
    const QByteArray id = testId(request);
    if (id.isEmpty() && idOffset(code) >= 0)
        return mismatch(request, "<a test id>", QString());

    if (id.isEmpty()) {
        QList<Exchange>& list = a.others[code];
        if (list.isEmpty())
            return mismatch(request, QByteArray("<no command ") + code + " in the recording>", QString());
        int& at = a.othersAt[code];
        for (int i = at; i < list.size(); ++i) {
            if (list.at(i).request == request) {
                at = i + 1;
                return answerOf(list.at(i));
            }
        }
        // More of a kind than recorded (polls): the latest answer given
        // before, rather than a silence the recording met once.
        int latest = -1;
        for (int i = qMin(at, int(list.size())) - 1; i >= 0; --i) {
            if (list.at(i).request != request)
                continue;
            if (latest < 0)
                latest = i;
            if (list.at(i).answered && !list.at(i).reply.startsWith("Err:")) {
                latest = i;
                break;
            }
        }
        if (latest >= 0)
            return answerOf(list.at(latest));
        const Exchange& expected = list.at(qMin(at, int(list.size() - 1)));
        return mismatch(request, expected.request, expected.where);
    }

    const bool placement = code == "31" || code == "5E";
    int index = a.mapped.value(id, -1);
    if (index < 0 && placement) {
        while (a.nextPlacement < a.tests.size() && !a.tests.at(a.nextPlacement).placed)
            ++a.nextPlacement;
        if (a.nextPlacement >= a.tests.size())
            return mismatch(request, "<no further test in the recording>", QString());
        index = a.nextPlacement++;
        a.mapped.insert(id, index);
    }
    if (index < 0)
        return mismatch(request, "<a test placed before>", QString());

    Test& test = a.tests[index];
    if (placement) {
        const Exchange& recorded = test.placements.at(qMin(test.placementAt, int(test.placements.size() - 1)));
        const QByteArray expected = withId(recorded.request, test.id, id);
        if (expected != request)
            return mismatch(request, expected, recorded.where);
        return fromSequence(test.placements, &test.placementAt, test.id, id);
    }
    if (code == "32" && !test.statuses.isEmpty())
        return fromSequence(test.statuses, &test.statusAt, test.id, id);
    if (code == "34" && !test.releases.isEmpty())
        return fromSequence(test.releases, &test.releaseAt, test.id, id);
    if (code == "60") {
        const auto chunk = test.chunks.constFind(request.mid(10, 4));
        if (chunk != test.chunks.cend())
            return answerOf(*chunk, test.id, id);
    }
    const QString where = test.placements.isEmpty() ? QString() : test.placements.constFirst().where;
    return mismatch(request, QByteArray("<no such ") + code + " for the test placed at " + where.toUtf8() + '>',
                    QString());
}

SimReply ReplayRecording::mismatch(const QByteArray& request, const QByteArray& expected, const QString& where)
{
    if (++m_mismatches == 1) {
        m_firstMismatch = QStringLiteral("request %1 does not fit the recording: came \"%2\", expected \"%3\"%4")
                              .arg(m_requests)
                              .arg(QString::fromLatin1(escapeBytes(request)),
                                   QString::fromLatin1(escapeBytes(expected)),
                                   where.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(where));
    }
    SimReply reply;
    const QByteArray code = request.left(2);
    reply.line = (code.size() == 2 && QByteArray("0123456789ABCDEF").contains(code[0])
                          && QByteArray("0123456789ABCDEF").contains(code[1])
                      ? code
                      : QByteArray())
                 + "XX";
    return reply;
}
