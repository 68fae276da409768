#pragma once

// Shared by the fuzz targets: a check that stops the run with the failed
// condition (libFuzzer then saves the input as a reproducer), and a quiet
// message handler, since the parsers log what they reject.
#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                        \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace fuzz {

inline void quietHandler(QtMsgType, const QMessageLogContext&, const QString&) { }

// Call first in every LLVMFuzzerTestOneInput.
inline void silenceLogs()
{
    static const bool silenced = (qInstallMessageHandler(quietHandler), true);
    Q_UNUSED(silenced);
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Deterministic chunk sizes (1 .. 16, now and then 0) for feeding a stream
// in pieces; the seed comes from the input so a reproducer replays exactly.
class Chunker
{
public:
    explicit Chunker(quint32 seed)
        : m_state(seed * 2654435761u + 1u)
    {
    }
    int next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return int(m_state % 17);
    }

private:
    quint32 m_state;
};

// The analyzer writes its hex fields in upper case only.
inline bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

inline bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// Value of text that is all hex digits (either case), else -1.
inline int hexValue(const QString& text)
{
    if (text.isEmpty() || text.size() > 7)
        return -1;
    int v = 0;
    for (QChar c : text) {
        if (!isHexDigit(c))
            return -1;
        const ushort u = c.unicode();
        v = v * 16 + (u <= '9' ? u - '0' : (u | 0x20) - 'a' + 10);
    }
    return v;
}

} // namespace fuzz
