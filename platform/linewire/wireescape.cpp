#include "platform/linewire/wireescape.h"

QByteArray escapeBytes(QByteArrayView bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (char ch : bytes) {
        const auto c = uchar(ch);
        switch (c) {
        case '\\': out.append("\\\\"); break;
        case '"': out.append("\\\""); break;
        case '\r': out.append("\\r"); break;
        case '\n': out.append("\\n"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out.append(char(c));
            } else {
                out.append("\\x");
                out.append(hex[c >> 4]);
                out.append(hex[c & 0xF]);
            }
        }
    }
    return out;
}

QByteArray unescapeBytes(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const char e = text.at(++i);
        switch (e) {
        case 'r': out.append('\r'); break;
        case 'n': out.append('\n'); break;
        case 't': out.append('\t'); break;
        case 'x':
            if (i + 2 < text.size()) {
                bool ok = false;
                const int v = text.sliced(i + 1, 2).toByteArray().toInt(&ok, 16);
                if (ok) {
                    out.append(char(v));
                    i += 2;
                    break;
                }
            }
            out.append("\\x");
            break;
        default: out.append(e);
        }
    }
    return out;
}
