#pragma once

#include <QIODevice>

class InstrVela;

// Random-access device over the analyzer's memory: the device position is
// the memory address (16 bits). Reads and writes go in chunks of at most 64
// bytes through commands 4C (read) and 4D (write).
class InstrVelaFile : public QIODevice
{
public:
    enum { ChunkSize = 64, AddressSpace = 0x10000 };

    explicit InstrVelaFile(InstrVela* instrument, QObject* parent = nullptr);

    // Always unbuffered.
    bool open(OpenMode mode) override;
    bool isSequential() const override { return false; }
    qint64 size() const override { return AddressSpace; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    InstrVela* m_instrument;
};
