#include "analyzerprotocol.h"

// The sample position field of a manual test is always "B1".
static const QByteArray manualTestPosition("B1");

QByteArray AnalyzerProtocol::placeTest(quint32 id, const QByteArray& positionCode, const QByteArray& itemCode,
                                       int dilutionFactor, const QString& method) const
{
    return m_talk(
        VelaProtocol::placeTest(id, positionCode, itemCode, dilutionFactor, VelaProtocol::methodLetter(method)));
}

QByteArray AnalyzerProtocol::queryTest(quint32 id) const
{
    return m_talk(VelaProtocol::queryTest(id));
}

QByteArray AnalyzerProtocol::releaseTest(quint32 id) const
{
    return m_talk(VelaProtocol::releaseTest(id));
}

QByteArray AnalyzerProtocol::readCurve(quint32 id, int firstPoint) const
{
    return m_talk(VelaProtocol::readCurve(id, firstPoint));
}

QByteArray AnalyzerProtocol::readMemory(quint16 address, int count) const
{
    return m_talk(VelaProtocol::readMemory(address, count));
}

QByteArray AnalyzerProtocol::writeMemory(quint16 address, const QByteArray& bytes) const
{
    return m_talk(VelaProtocol::writeMemory(address, bytes));
}

QByteArray AnalyzerProtocol::moduleAction(int action) const
{
    return m_talk(VelaProtocol::moduleAction(action));
}

QByteArray AnalyzerProtocol::moduleState(int module) const
{
    return m_talk(VelaProtocol::moduleState(module));
}

QByteArray AnalyzerProtocol::switchChannel(int channel, bool on) const
{
    return m_talk(VelaProtocol::switchChannel(channel, on));
}

QByteArray AnalyzerProtocol::setUpManualTest(int channel, quint32 id, const QByteArray& itemCode, int dilutionFactor,
                                             const QString& method) const
{
    return m_talk(VelaProtocol::setUpManualTest(channel, id, manualTestPosition, itemCode, dilutionFactor,
                                                VelaProtocol::methodLetter(method)));
}

QByteArray AnalyzerProtocol::startManualTest(int channel) const
{
    return m_talk(VelaProtocol::startManualTest(channel));
}

QByteArray AnalyzerProtocol::readStatus() const
{
    return m_talk(VelaProtocol::readStatus());
}

QByteArray AnalyzerProtocol::readTemperatures() const
{
    return m_talk(VelaProtocol::readTemperatures());
}

QByteArray AnalyzerProtocol::readSetPoints() const
{
    return m_talk(VelaProtocol::readSetPoints());
}

QByteArray AnalyzerProtocol::writeSetPoints(double prewarm, double testArea, double cooling) const
{
    return m_talk(VelaProtocol::writeSetPoints(prewarm, testArea, cooling));
}

QByteArray AnalyzerProtocol::sendReagentTable(const QString& reagent,
                                              const QList<VelaProtocol::ReagentBottle>& bottles) const
{
    return m_talk(VelaProtocol::reagentTable(reagent, bottles));
}

QByteArray AnalyzerProtocol::readReagentVolumes(const QString& reagent) const
{
    return m_talk(VelaProtocol::readReagentVolumes(reagent));
}

QByteArray AnalyzerProtocol::setWorkMode(bool simulation) const
{
    return m_talk(VelaProtocol::workMode(simulation));
}

QByteArray AnalyzerProtocol::calibrateLight() const
{
    return m_talk(VelaProtocol::calibrateLight());
}

QByteArray AnalyzerProtocol::probeStep(int code, char arm, char probe, const QByteArray& suffix) const
{
    return m_talk(VelaProtocol::probeStep(code, arm, probe, suffix));
}

QByteArray AnalyzerProtocol::pollProbe(int pollCode, char arm) const
{
    return m_talk(VelaProtocol::probePoll(pollCode, arm));
}
