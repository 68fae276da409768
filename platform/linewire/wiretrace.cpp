#include "platform/linewire/wiretrace.h"

#include <QDateTime>

Q_LOGGING_CATEGORY(lcWire, "vela.linkhub.wire", QtWarningMsg)
// The driver's own category: an engineer who switches it on sees why a
// ring is missing; the operator's console stays quiet.
Q_LOGGING_CATEGORY(lcRing, "vela.link", QtInfoMsg)

bool WireTrace::parseLine(const QByteArray& line, Line* fields)
{
    // time [analyzer] tag text; tags are two characters, the second of them
    // '>', '<' or '-'.
    auto isTag = [](const QByteArray& f) {
        return f.size() == 2 && (f == "--" || ((f[0] == 'C' || f[0] == 'S') && (f[1] == '>' || f[1] == '<')));
    };
    QByteArray body = line;
    if (body.endsWith('\n'))
        body.chop(1);
    const qsizetype first = body.indexOf(' ');
    if (first <= 0)
        return false;
    fields->time = body.left(first);
    qsizetype second = body.indexOf(' ', first + 1);
    QByteArray next = body.mid(first + 1, second < 0 ? -1 : second - first - 1);
    fields->analyzer.clear();
    if (!isTag(next)) {
        fields->analyzer = next;
        if (second < 0)
            return false;
        const qsizetype third = body.indexOf(' ', second + 1);
        next = body.mid(second + 1, third < 0 ? -1 : third - second - 1);
        second = third;
        if (!isTag(next))
            return false;
    }
    fields->tag = next;
    fields->text = second < 0 ? QByteArray() : body.mid(second + 1);
    return true;
}

bool WireTrace::open(const QString& path)
{
    if (path.isEmpty())
        return true;
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

bool WireTrace::openRing(const TraceRing::Settings& settings)
{
    if (settings.files <= 0)
        return false;
    QString error;
    if (m_ring.open(settings, &error))
        return true;
    ringFailed(error);
    return false;
}

void WireTrace::ringFailed(const QString& error)
{
    qCDebug(lcRing).noquote() << "Linkhub: wire trace skipped:" << error;
}

QByteArray WireTrace::timestamp()
{
    // Local time to the millisecond, as ISO 8601 without an offset. The
    // conversion to local time is the costly part of a line, so it is made
    // once a second and the milliseconds appended.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != m_second) {
        m_second = second;
        m_secondText = QDateTime::fromSecsSinceEpoch(second).toString(Qt::ISODate).toLatin1();
    }
    const int ms = int(now % 1000);
    const char millis[] = {'.', char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10)};
    return m_secondText + QByteArray(millis, 4);
}

void WireTrace::write(const char* tag, QByteArrayView bytes)
{
    const QByteArray escaped = escapeBytes(bytes);
    qCDebug(lcWire, "%s %s", tag, escaped.constData());
    if (!m_file.isOpen() && !m_ring.isOpen())
        return;
    const QByteArray time = timestamp();
    if (m_file.isOpen())
        m_file.write(time + ' ' + tag + ' ' + escaped + '\n');
    if (m_ring.isOpen()) {
        const QByteArray analyzer = m_analyzer.isEmpty() ? QByteArray("-") : m_analyzer;
        toRing(tag, time + ' ' + analyzer + ' ' + tag + ' ' + escaped + '\n');
    }
}

void WireTrace::toRing(const char* tag, const QByteArray& line)
{
    // The frames of an exchange that went cleanly say what its client lines
    // say; the ring keeps them only for an exchange with trouble (a note:
    // a repeat, a bad or stale frame, a frame broken off, a hang-up).
    if (tag[0] == 'S' && !m_troubled) {
        m_heldFrames.append(line);
        return;
    }
    QList<QByteArray> lines;
    if (tag[0] == '-') {
        lines = m_heldFrames;
        m_troubled = true;
    } else if (tag[0] == 'C' && tag[1] == '>') {
        m_troubled = false;
    }
    m_heldFrames.clear();
    lines.append(line);
    for (const QByteArray& l : lines) {
        QString error;
        if (!m_ring.append(l, &error)) {
            ringFailed(error);
            return;
        }
    }
}

void WireTrace::note(const QString& text)
{
    write("--", text.toUtf8());
}
