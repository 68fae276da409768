#include "instrvelafile.h"

#include "instrvela.h"
#include "replyparser.h"

#include <algorithm>
#include <cstring>

InstrVelaFile::InstrVelaFile(InstrVela* instrument, QObject* parent)
    : QIODevice(parent)
    , m_instrument(instrument)
{
}

bool InstrVelaFile::open(OpenMode mode)
{
    // Every byte costs a command: never read ahead into a buffer.
    return QIODevice::open(mode | Unbuffered);
}

// Reply to "4C<address><count>": two characters, then the bytes read as
// upper-case hexadecimal.
qint64 InstrVelaFile::readData(char* data, qint64 maxSize)
{
    qint64 done = 0;
    while (done < maxSize) {
        const qint64 address = pos() + done;
        if (address >= AddressSpace)
            break; // a 16-bit address field would wrap to 0
        const int n = int(std::min<qint64>({maxSize - done, qint64(ChunkSize), AddressSpace - address}));
        const QByteArray reply = m_instrument->protocol().readMemory(quint16(address), n);
        if (reply.size() <= 2 || m_instrument->isErrorReply(reply))
            break;
        // Anything but hexadecimal digits is no memory content.
        const QByteArray bytes = ReplyParser::parseMemoryReply(reply);
        if (bytes.isEmpty())
            break;
        const int take = int(qMin<qint64>(bytes.size(), maxSize - done));
        std::memcpy(data + done, bytes.constData(), size_t(take));
        done += take;
    }
    return done;
}

qint64 InstrVelaFile::writeData(const char* data, qint64 maxSize)
{
    qint64 done = 0;
    while (done < maxSize) {
        const qint64 address = pos() + done;
        if (address >= AddressSpace)
            break;
        const int n = int(std::min<qint64>({maxSize - done, qint64(ChunkSize), AddressSpace - address}));
        const QByteArray reply = m_instrument->protocol().writeMemory(quint16(address), QByteArray(data + done, n));
        if (reply.isEmpty() || m_instrument->isErrorReply(reply))
            break;
        done += n;
    }
    return done;
}
