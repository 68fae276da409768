#include "platform/linewire/linesplitter.h"

QList<LineSplitter::Line> LineSplitter::feed(QByteArrayView bytes)
{
    QList<Line> lines;
    while (!bytes.isEmpty()) {
        const qsizetype lf = bytes.indexOf('\n');
        const QByteArrayView part = lf < 0 ? bytes : bytes.first(lf);
        if (!m_overlong) {
            m_buffer.append(part);
            // One more byte than the limit may be the CR of the line end.
            if (m_buffer.size() > m_maxLength + 1
                || (lf < 0 && m_buffer.size() > m_maxLength && !m_buffer.endsWith('\r'))) {
                m_overlong = true;
                m_buffer.clear();
            }
        }
        if (lf < 0)
            break;

        Line line;
        if (m_overlong) {
            line.overlong = true;
        } else {
            if (m_buffer.endsWith('\r'))
                m_buffer.chop(1);
            if (m_buffer.size() > m_maxLength)
                line.overlong = true;
            else
                line.text = m_buffer;
        }
        lines.append(line);
        m_buffer.clear();
        m_overlong = false;
        bytes = bytes.sliced(lf + 1);
    }
    return lines;
}
