#pragma once

#include "platform/linewire/tracering.h"
#include "platform/linewire/wireescape.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QList>
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcWire)

// Trace of the bytes on a link: one line per message, with a timestamp in
// milliseconds, a direction tag and the bytes as escapeBytes() writes them.
// Always mirrored to the debug category "vela.linkhub.wire".
//
//   2024-05-06T09:30:12.345 C> 32000001F0\r\n
//
// Tags used: "C>" from the client, "C<" to the client, "S>" frame sent on the
// serial line, "S<" frame received from it, "--" notes.
//
// Besides a named file, the trace can go to a ring of files of bounded size
// (TraceRing), whose lines also name the analyzer they concern ("-" for
// none: control lines before a selection, notes about the port):
//
//   2024-05-06T09:30:12.345 VELA01 C> 32000001F0
//
// Frames on the serial line go into the ring only for an exchange that met
// trouble (a note came with it); those of a clean exchange repeat what its
// client lines say.
//
// A ring that cannot be written is given up, and said so once in the
// category "vela.link" at debug level: the trace never stops the link.
class WireTrace
{
public:
    // An empty path traces to the debug category only.
    bool open(const QString& path);
    bool isOpen() const { return m_file.isOpen(); }
    QString errorString() const { return m_file.errorString(); }

    // Opens the ring as well; false (said in "vela.link") when it cannot.
    bool openRing(const TraceRing::Settings& settings);
    bool isRingOpen() const { return m_ring.isOpen(); }

    // The analyzer the lines that follow concern; empty for none.
    void setAnalyzer(const QByteArray& id) { m_analyzer = id; }

    void write(const char* tag, QByteArrayView bytes);
    void note(const QString& text);

    // The fields of a line of either form; false for anything else.
    struct Line
    {
        QByteArray time;
        QByteArray analyzer; // empty in a named file's lines
        QByteArray tag;
        QByteArray text; // escaped: unescapeBytes() gives the bytes
    };
    static bool parseLine(const QByteArray& line, Line* fields);

private:
    void ringFailed(const QString& error);
    void toRing(const char* tag, const QByteArray& line);
    QByteArray timestamp();

    QFile m_file;
    TraceRing m_ring;
    QByteArray m_analyzer;
    QList<QByteArray> m_heldFrames; // frames of the exchange going on, for the ring
    bool m_troubled = false;        // the exchange going on had a note
    qint64 m_second = -1;           // the second m_secondText shows
    QByteArray m_secondText;
};
