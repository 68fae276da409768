#include "velaprotocol.h"

#include "commandcodec.h"

namespace VelaProtocol {

QByteArray usePort(const QByteArray& port)
{
    return formatCommand("/%02X%s", 0u, port.constData());
}

QByteArray listAnalyzers()
{
    return formatCommand("/%02X0", 1u);
}

QByteArray selectAnalyzer(const QByteArray& id)
{
    return formatCommand("/%02X%s", 2u, id.constData());
}

char methodLetter(const QString& method)
{
    return method == QStringLiteral("磁珠法") ? 'C' : 'L';
}

QByteArray placeTest(quint32 id, const QByteArray& positionCode, const QByteArray& itemCode, int dilutionFactor,
                     char method)
{
    return formatCommand("31%08X%s%s%02d%c", id, zeroPadded(positionCode, 2).constData(),
                         zeroPadded(itemCode, 2).constData(), dilutionFactor, method);
}

QByteArray queryTest(quint32 id)
{
    return formatCommand("32%08X", id);
}

QByteArray releaseTest(quint32 id)
{
    return formatCommand("34%08X", id);
}

QByteArray readCurve(quint32 id, int firstPoint, int count)
{
    return formatCommand("60%08X%04X%02X", id, unsigned(firstPoint), unsigned(count));
}

QByteArray readMemory(quint16 address, int count)
{
    return formatCommand("4C%04hX%02hX", (unsigned short)address, (unsigned short)count);
}

QByteArray writeMemory(quint16 address, const QByteArray& bytes)
{
    return formatCommand("4D%04hX%02hX%s", (unsigned short)address, (unsigned short)bytes.size(),
                         bytes.toHex().toUpper().constData());
}

QByteArray moduleAction(int action)
{
    return formatCommand("51%02X", unsigned(action));
}

QByteArray moduleState(int module)
{
    return formatCommand("55%X", unsigned(module));
}

QByteArray switchChannel(int channel, bool on)
{
    return formatCommand("%s%X", on ? "5C" : "5D", unsigned(channel));
}

QByteArray setUpManualTest(int channel, quint32 id, const QByteArray& position, const QByteArray& itemCode,
                           int dilutionFactor, char method)
{
    return formatCommand("5E%X%08X%s%s%02hX%c", unsigned(channel), id, position.constData(), itemCode.constData(),
                         (unsigned short)(dilutionFactor & 0xFF), method);
}

QByteArray startManualTest(int channel)
{
    return formatCommand("5F%X", unsigned(channel));
}

QByteArray readStatus()
{
    return QByteArrayLiteral("24");
}

QByteArray readTemperatures()
{
    return QByteArrayLiteral("73");
}

QByteArray readSetPoints()
{
    return QByteArrayLiteral("74");
}

QByteArray writeSetPoints(double prewarm, double testArea, double cooling)
{
    return formatCommand("75%5.2f %5.2f %5.2f", prewarm, testArea, cooling);
}

QByteArray reagentTableText(const QString& reagent, const QList<ReagentBottle>& bottles)
{
    QByteArray text = reagentItemCode(reagent);
    for (const ReagentBottle& bottle : bottles) {
        text += positionCode(bottle.position);
        text += volumeToHex(bottle.volume);
    }
    return text;
}

QByteArray reagentTable(const QString& reagent, const QList<ReagentBottle>& bottles)
{
    return formatCommand("77%s", reagentTableText(reagent, bottles).constData());
}

QByteArray readReagentVolumes(const QString& reagent)
{
    return formatCommand("78%s", reagentItemCode(reagent).constData());
}

QByteArray workMode(bool simulation)
{
    return simulation ? QByteArrayLiteral("FB0") : QByteArrayLiteral("FB1");
}

QByteArray calibrateLight()
{
    return QByteArrayLiteral("FD");
}

QByteArray probeStep(int code, char arm, char probe, const QByteArray& suffix)
{
    const char armText[] = {arm, 0};
    const char probeText[] = {probe, 0};
    return formatCommand("%02hX%s%s%s", (unsigned short)code, armText, probeText, suffix.constData());
}

QByteArray probeOffset(int dx, int dy)
{
    return formatCommand("X%02hXY%02hX", (unsigned short)(dx & 0xFF), (unsigned short)(dy & 0xFF));
}

QByteArray probeVolume(int volume)
{
    return formatCommand("%02hX", (unsigned short)(volume & 0xFF));
}

QByteArray probeSuffix(const char* format, va_list args)
{
    char buffer[maxProbeSuffix + 1];
    const int n = vformatCommand(buffer, sizeof buffer, format, args);
    return QByteArray(buffer, qBound(0, n, maxProbeSuffix));
}

QByteArray probePoll(int pollCode, char arm)
{
    const char armText[] = {arm, 0};
    return formatCommand("%02hX%s", (unsigned short)pollCode, armText);
}

bool isProbeDone(const QByteArray& reply, int pollCode)
{
    return reply.startsWith(formatCommand("%02hX00", (unsigned short)pollCode));
}

} // namespace VelaProtocol
