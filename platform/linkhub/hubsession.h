#pragma once

#include "platform/linkhub/analyzerport.h"
#include "platform/linkhub/serialport.h"

#include "sim/simconfig.h"
#include "sim/simfaultinjector.h"

#include <QByteArray>
#include <memory>

class WireTrace;

struct HubOptions
{
    LinkTimeouts timeouts;
    SerialLineSettings serial;
    SimConfig sim;
};

// The hub's state between request lines: the open port, the analyzers found
// on it and the one selected, and the rules for control lines.
//
//   /00<port>   open <port> ("SIM", or a serial device; empty: "SIM")
//               -> "/00OK" or an error reply
//   /01<any>    list the analyzers on the open port
//               -> "ID1,ID2" or an error reply
//   /02<id>     select an analyzer the port lists -> "/02OK" or an error reply
//   other       passed to the selected analyzer; its reply comes back
//
// The port stays open from one client to the next (the analyzers keep their
// state); the selection belongs to a client and is cleared when it leaves.
//
// The `stray` faults of VELA_SIM_FAULTS also apply to the replies of a
// serial port: its framing drops a repeated frame, so the hub itself sends
// the extra line to its client.
class HubSession
{
public:
    HubSession(const HubOptions& options, WireTrace* trace);
    ~HubSession();

    HubReply handleLine(const QByteArray& line);
    void clientLeft();

    // A port name as the driver sends it, mapped to the port opened for it.
    static QString portFor(const QByteArray& requested);

private:
    HubReply answer(const QByteArray& line);
    HubReply control(const QByteArray& line);
    HubReply openPort(const QByteArray& name);
    HubReply listAnalyzers();
    HubReply selectAnalyzer(const QByteArray& id);
    void closePort();

    HubOptions m_options;
    WireTrace* m_trace;
    std::unique_ptr<AnalyzerPort> m_port;
    QList<QByteArray> m_ids;
    bool m_listed = false;
    QByteArray m_selected;
    SimFaultInjector m_strays; // serial ports only; "SIM" has its own
};
