#pragma once

#include "velaprotocol.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The analyzer's command set as typed operations over one "talk" function,
// which exchanges a line for its reply (empty bytes: no reply). Every
// operation sends one line built by VelaProtocol and returns the reply as it
// came; ReplyParser reads it. The instrument object talks through its talk
// thread; tests hand in a function of their own.
class AnalyzerProtocol
{
public:
    using Talk = std::function<QByteArray(const QByteArray& line)>;

    explicit AnalyzerProtocol(Talk talk)
        : m_talk(std::move(talk))
    {
    }

    // Linkhub's control lines (/00, /010, /02) are built by VelaProtocol and
    // exchanged by the connection itself (AnalyzerLink), which tells a blank
    // answer from none.

    // Tests placed by the run scheduler.
    QByteArray placeTest(quint32 id, const QByteArray& positionCode, const QByteArray& itemCode, int dilutionFactor,
                         const QString& method) const;
    QByteArray queryTest(quint32 id) const;
    QByteArray releaseTest(quint32 id) const;
    QByteArray readCurve(quint32 id, int firstPoint) const;

    // Analyzer memory.
    QByteArray readMemory(quint16 address, int count) const;
    QByteArray writeMemory(quint16 address, const QByteArray& bytes) const;

    // Modules and measuring channels (1..10).
    QByteArray moduleAction(int action) const;
    QByteArray moduleState(int module) const;
    QByteArray switchChannel(int channel, bool on) const;

    // The manual test on one channel (1..10).
    QByteArray setUpManualTest(int channel, quint32 id, const QByteArray& itemCode, int dilutionFactor,
                               const QString& method) const;
    QByteArray startManualTest(int channel) const;

    // Monitoring and temperature set points.
    QByteArray readStatus() const;
    QByteArray readTemperatures() const;
    QByteArray readSetPoints() const;
    QByteArray writeSetPoints(double prewarm, double testArea, double cooling) const;

    // Reagents.
    QByteArray sendReagentTable(const QString& reagent, const QList<VelaProtocol::ReagentBottle>& bottles) const;
    QByteArray readReagentVolumes(const QString& reagent) const;

    // Work mode and service.
    QByteArray setWorkMode(bool simulation) const;
    QByteArray calibrateLight() const;

    // Probes: one step, and the poll that tells when it is done.
    QByteArray probeStep(int code, char arm, char probe, const QByteArray& suffix = QByteArray()) const;
    QByteArray pollProbe(int pollCode, char arm) const;

private:
    Talk m_talk;
};
