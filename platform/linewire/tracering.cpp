#include "platform/linewire/tracering.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

namespace {

const QRegularExpression& namePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^wire-(\\d{8,20})\\.trace$"));
    return pattern;
}

quint64 sequenceOf(const QString& name)
{
    const QRegularExpressionMatch m = namePattern().match(name);
    return m.hasMatch() ? m.captured(1).toULongLong() : 0;
}

} // namespace

TraceRing::TraceRing() = default;

TraceRing::~TraceRing()
{
    close();
}

QString TraceRing::fileName(quint64 sequence)
{
    return QStringLiteral("wire-%1.trace").arg(sequence, 8, 10, QLatin1Char('0'));
}

QStringList TraceRing::files(const QString& dir)
{
    QStringList names = QDir(dir).entryList({QStringLiteral("wire-*.trace")}, QDir::Files);
    names.erase(std::remove_if(names.begin(), names.end(), [](const QString& n) { return sequenceOf(n) == 0; }),
                names.end());
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return sequenceOf(a) < sequenceOf(b); });
    QStringList paths;
    for (const QString& n : names)
        paths << QDir(dir).filePath(n);
    return paths;
}

bool TraceRing::open(const Settings& settings, QString* error)
{
    close();
    m_settings = settings;
    m_settings.fileSize = qMax(settings.fileSize, MinimumFileSize);
    if (settings.files <= 0) {
        *error = QStringLiteral("no trace files asked for");
        return false;
    }
    if (!QDir().mkpath(settings.dir)) {
        *error = QStringLiteral("cannot make the folder %1").arg(settings.dir);
        return false;
    }
    m_lock = std::make_unique<QLockFile>(QDir(settings.dir).filePath(QStringLiteral("wire.lock")));
    m_lock->setStaleLockTime(0); // only a live holder counts
    if (!m_lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        m_lock->getLockInfo(&pid, &host, &app);
        *error = m_lock->error() == QLockFile::LockFailedError
                     ? QStringLiteral("%1 is written by process %2").arg(settings.dir).arg(pid)
                     : QStringLiteral("cannot lock %1").arg(settings.dir);
        m_lock.reset();
        return false;
    }

    // Go on in the newest file while it has room, after cutting off a part
    // line a failed write may have left.
    const QStringList existing = files(settings.dir);
    quint64 sequence = 1;
    if (!existing.isEmpty()) {
        const QString newest = existing.constLast();
        sequence = sequenceOf(QFileInfo(newest).fileName());
        QFile file(newest);
        if (QFileInfo(newest).isFile() && file.open(QIODevice::ReadWrite) && file.size() > 0) {
            const qint64 size = file.size();
            const qint64 tail = qMin<qint64>(size, 64 * 1024);
            file.seek(size - tail);
            const QByteArray end = file.read(tail);
            if (!end.endsWith('\n')) {
                const qsizetype lastEnd = end.lastIndexOf('\n');
                file.resize(lastEnd < 0 ? (tail == size ? 0 : size) : size - tail + lastEnd + 1);
            }
            if (file.size() >= m_settings.fileSize)
                ++sequence;
        }
    }
    if (!startFile(sequence, error)) {
        close();
        return false;
    }
    return true;
}

bool TraceRing::startFile(quint64 sequence, QString* error)
{
    m_file.close();
    m_sequence = sequence;
    removeOldest(m_settings.files - 1);
    m_file.setFileName(QDir(m_settings.dir).filePath(fileName(sequence)));
    // Read-write rather than append: Qt seeks on opening for append, which
    // a file that is no plain one (a device) refuses with a warning.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    m_size = m_file.isSequential() ? 0 : m_file.size();
    if (!m_file.isSequential())
        m_file.seek(m_size);
    return true;
}

void TraceRing::removeOldest(int keep)
{
    // The file about to be opened is not counted: it is kept.
    QStringList existing = files(m_settings.dir);
    const QString current = QDir(m_settings.dir).filePath(fileName(m_sequence));
    existing.removeAll(current);
    while (existing.size() > qMax(0, keep))
        QFile::remove(existing.takeFirst());
}

bool TraceRing::append(const QByteArray& line, QString* error)
{
    if (!m_file.isOpen())
        return false;
    QByteArray text = line;
    if (text.size() > m_settings.fileSize) {
        static const QByteArray cut(" [cut]\n");
        text = text.left(m_settings.fileSize - cut.size()) + cut;
    }
    if (m_size > 0 && m_size + text.size() > m_settings.fileSize && !startFile(m_sequence + 1, error)) {
        close();
        return false;
    }
    const qint64 written = m_file.write(text);
    if (written != text.size()) {
        *error = QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
        // No part line stays behind for a reader.
        if (!m_file.isSequential())
            m_file.resize(m_size);
        close();
        return false;
    }
    m_size += written;
    return true;
}

void TraceRing::close()
{
    m_file.close();
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}
