#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcWire)

// Printable ASCII stays as it is; backslash, CR, LF and tab become \\, \r,
// \n, \t; every other byte becomes \xHH.
QByteArray escapeBytes(QByteArrayView bytes);

// Trace of the bytes on a link: one line per message, with a timestamp in
// milliseconds, a direction tag and the escaped bytes. Always mirrored to
// the debug category "vela.linkhub.wire".
//
//   2024-05-06T09:30:12.345 C> 32000001F0\r\n
//
// Tags used: "C>" from the client, "C<" to the client, "S>" frame sent on the
// serial line, "S<" frame received from it, "--" notes.
class WireTrace
{
public:
    // An empty path traces to the debug category only.
    bool open(const QString& path);
    bool isOpen() const { return m_file.isOpen(); }
    QString errorString() const { return m_file.errorString(); }

    void write(const char* tag, QByteArrayView bytes);
    void note(const QString& text);

private:
    QFile m_file;
};
