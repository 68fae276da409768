#include "linktrace.h"

Q_LOGGING_CATEGORY(lcLink, "vela.link", QtInfoMsg)

QString escapeBytes(const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() + 8);
    for (const char ch : bytes) {
        const uchar c = uchar(ch);
        switch (c) {
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '"':  out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += QLatin1Char(char(c));
            } else {
                out += QLatin1String("\\x");
                out += QLatin1Char(hex[c >> 4]);
                out += QLatin1Char(hex[c & 15]);
            }
        }
    }
    return out;
}
