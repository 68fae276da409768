#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The analyzer's 64 KiB memory reached by 4C/4D, optionally kept in a file
// that is written through on every change. A fresh memory holds a valid
// parameter block at address 0: uint32 size 8, uint32 disabled-channel mask
// 0, both little-endian.
class SimMemory
{
public:
    static constexpr int size = 0x10000;

    explicit SimMemory(const QString& path = QString());

    QByteArray read(int address, int count) const; // clipped at the end
    bool write(int address, const QByteArray& data);
    quint32 word(int address) const; // little-endian uint32
    QString errorString() const { return m_error; }
    void flush();

private:
    QByteArray m_data;
    QFile m_file;
    QString m_error;
};
