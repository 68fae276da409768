#include "sim/simmemory.h"

#include <QtDebug>
#include <QtEndian>

SimMemory::SimMemory(const QString& path)
    : m_data(size, '\0')
{
    qToLittleEndian<quint32>(8, m_data.data());
    qToLittleEndian<quint32>(0, m_data.data() + 4);
    if (path.isEmpty())
        return;
    m_file.setFileName(path);
    const bool existed = m_file.exists();
    if (!m_file.open(QIODevice::ReadWrite)) {
        m_error = QStringLiteral("cannot open memory file %1: %2").arg(path, m_file.errorString());
        qWarning("velasim: %s; memory kept in RAM only", qPrintable(m_error));
        return;
    }
    if (existed) {
        const QByteArray stored = m_file.read(size);
        if (!stored.isEmpty()) {
            // a shorter file keeps its bytes; the rest reads as zero
            m_data.fill('\0');
            m_data.replace(0, stored.size(), stored);
        }
    }
    if (m_file.size() != size) {
        m_file.seek(0);
        if (m_file.write(m_data) != size || !m_file.resize(size))
            m_error = m_file.errorString();
        m_file.flush();
    }
}

QByteArray SimMemory::read(int address, int count) const
{
    if (address < 0 || address >= size || count <= 0)
        return QByteArray();
    return m_data.mid(address, qMin(count, size - address));
}

bool SimMemory::write(int address, const QByteArray& data)
{
    if (address < 0 || address + data.size() > size)
        return false;
    m_data.replace(address, data.size(), data);
    if (m_file.isOpen()) {
        if (!m_file.seek(address) || m_file.write(data) != data.size() || !m_file.flush()) {
            m_error = m_file.errorString();
            qWarning("velasim: memory file write failed: %s", qPrintable(m_error));
        }
    }
    return true;
}

quint32 SimMemory::word(int address) const
{
    if (address < 0 || address + 4 > size)
        return 0;
    return qFromLittleEndian<quint32>(m_data.constData() + address);
}

void SimMemory::flush()
{
    if (m_file.isOpen())
        m_file.flush();
}
