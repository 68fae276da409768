#include "platform/linkhub/wiretrace.h"

#include <QDateTime>

Q_LOGGING_CATEGORY(lcWire, "vela.linkhub.wire", QtWarningMsg)

QByteArray escapeBytes(QByteArrayView bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (char ch : bytes) {
        const auto c = uchar(ch);
        switch (c) {
        case '\\': out.append("\\\\"); break;
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

bool WireTrace::open(const QString& path)
{
    if (path.isEmpty())
        return true;
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void WireTrace::write(const char* tag, QByteArrayView bytes)
{
    const QByteArray escaped = escapeBytes(bytes);
    qCDebug(lcWire, "%s %s", tag, escaped.constData());
    if (!m_file.isOpen())
        return;
    QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
    line += ' ';
    line += tag;
    line += ' ';
    line += escaped;
    line += '\n';
    m_file.write(line);
}

void WireTrace::note(const QString& text)
{
    write("--", text.toUtf8());
}
