#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Cuts a client's byte stream into request lines. A line ends with LF; one
// CR before the LF belongs to the line end. A line longer than the limit is
// not kept: its bytes are dropped up to its LF, and it comes out as one line
// marked overlong, so that it still gets exactly one reply.
class LineSplitter
{
public:
    struct Line
    {
        QByteArray text; // without CR LF; empty for an overlong line
        bool overlong = false;
    };

    explicit LineSplitter(int maxLength = 1024)
        : m_maxLength(maxLength)
    {
    }

    QList<Line> feed(QByteArrayView bytes);
    int maxLength() const { return m_maxLength; }
    // Bytes of a line begun but not yet ended.
    qsizetype pending() const { return m_buffer.size(); }

private:
    int m_maxLength;
    QByteArray m_buffer;
    bool m_overlong = false;
};
