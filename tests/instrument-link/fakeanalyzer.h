#pragma once

// A scripted analyzer behind a LineServer: a 64 KiB memory for 4C/4D and
// a table of canned replies for everything else. The handler runs in the
// server's thread.

#include "lineserver.h"

#include <QHash>
#include <QMutex>

class FakeAnalyzer
{
public:
    FakeAnalyzer() : m_memory(0x10000, '\0') {}

    void setReply(const QByteArray& request, const QByteArray& reply)
    {
        QMutexLocker lock(&m_mutex);
        m_replies.insert(request, reply);
    }
    // A request answered by hanging up.
    void setHangUp(const QByteArray& request)
    {
        QMutexLocker lock(&m_mutex);
        m_hangUps.insert(request, true);
    }
    // Replies handed out one after the other for request; the last stays.
    void setSequence(const QByteArray& request, const QList<QByteArray>& replies)
    {
        QMutexLocker lock(&m_mutex);
        m_sequences.insert(request, replies);
    }
    void writeMemory(int address, const QByteArray& bytes)
    {
        QMutexLocker lock(&m_mutex);
        m_memory.replace(address, bytes.size(), bytes);
    }
    QByteArray memory(int address, int count) const
    {
        QMutexLocker lock(&m_mutex);
        return m_memory.mid(address, count);
    }

    LineServer::Handler handler()
    {
        return [this](const QByteArray& line) { return answer(line); };
    }

private:
    LineServer::Reply answer(const QByteArray& line)
    {
        QMutexLocker lock(&m_mutex);
        if (m_hangUps.contains(line))
            return LineServer::hangUp();
        if (m_replies.contains(line))
            return LineServer::line(m_replies.value(line));
        auto seq = m_sequences.find(line);
        if (seq != m_sequences.end() && !seq->isEmpty())
            return LineServer::line(seq->size() > 1 ? seq->takeFirst() : seq->first());
        if (line.startsWith("4C") && line.size() == 8) {
            const int address = line.mid(2, 4).toInt(nullptr, 16);
            const int count = line.mid(6, 2).toInt(nullptr, 16);
            return LineServer::line("4C" + m_memory.mid(address, count).toHex().toUpper());
        }
        if (line.startsWith("4D") && line.size() >= 8) {
            const int address = line.mid(2, 4).toInt(nullptr, 16);
            const QByteArray bytes = QByteArray::fromHex(line.mid(8));
            m_memory.replace(address, bytes.size(), bytes);
            return LineServer::line("4D00");
        }
        return LineServer::line(line.left(2) + "00");
    }

    mutable QMutex m_mutex;
    QByteArray m_memory;
    QHash<QByteArray, QByteArray> m_replies;
    QHash<QByteArray, bool> m_hangUps;
    QHash<QByteArray, QList<QByteArray>> m_sequences;
};
