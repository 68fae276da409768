#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

class QLockFile;

// A wire trace kept as a ring of files of bounded size in one folder, so
// that it can stay on for months: "wire-00000001.trace", "wire-00000002.trace"
// ..., the highest number the newest. A line never straddles two files; when
// the next line does not fit, the newest file is closed and a new one begun,
// and the oldest files beyond the count are removed first, so the folder
// never holds more than `files` x `fileSize` bytes of trace. A line longer
// than a file is cut to fit.
//
// Each line is written with one write call, so a reader (or a Linkhub killed
// at any moment) finds whole lines; a trailing part of a line left by a
// failed write is cut off when the ring is opened again.
//
// One Linkhub at a time writes a folder: a lock file keeps a second one out.
class TraceRing
{
public:
    struct Settings
    {
        QString dir;
        int files = 8;                      // 0: no ring
        qint64 fileSize = 32 * 1024 * 1024; // bytes per file
    };
    static constexpr qint64 MinimumFileSize = 4096;

    TraceRing();
    ~TraceRing();

    // False with `error` set when the folder cannot be made, locked or
    // written; the ring then stays closed.
    bool open(const Settings& settings, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    void close();

    // Appends one line, which ends with '\n'. False with `error` set when
    // the write failed; the ring is closed then, with no part line left.
    bool append(const QByteArray& line, QString* error);

    // The ring's files in `dir`, oldest first.
    static QStringList files(const QString& dir);
    static QString fileName(quint64 sequence);

private:
    bool startFile(quint64 sequence, QString* error);
    void removeOldest(int keep);

    Settings m_settings;
    std::unique_ptr<QLockFile> m_lock;
    QFile m_file;
    quint64 m_sequence = 0;
    qint64 m_size = 0;
};
