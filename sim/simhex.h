#pragma once

#include <QByteArray>
#include <QtGlobal>

// Fixed-width hexadecimal fields of the analyzer's command lines.
namespace simhex {

// Reads `len` hexadecimal digits (either case) at `from`; false when the
// field is short or holds anything else.
inline bool read(const QByteArray& line, int from, int len, quint32* out)
{
    if (from < 0 || len <= 0 || len > 8 || from + len > line.size())
        return false;
    quint32 v = 0;
    for (int i = from; i < from + len; ++i) {
        const char c = line.at(i);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        v = (v << 4) | quint32(d);
    }
    *out = v;
    return true;
}

// Upper-case, zero-padded to `width` digits.
inline QByteArray field(quint32 value, int width)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(width, '0');
}

inline bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace simhex
