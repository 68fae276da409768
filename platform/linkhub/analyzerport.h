#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What the hub does with a client's request once a port has answered it.
struct HubReply
{
    enum Action {
        Send, // send `line` after `delayMs`
        Drop  // close the client connection after `delayMs`, no reply
    };
    Action action = Send;
    QByteArray line;
    int delayMs = 0;
    // An unasked line sent strayDelayMs after the reply in a write of its
    // own (a fault of the simulated analyzers); empty: none.
    QByteArray stray;
    int strayDelayMs = 0;

    static HubReply send(const QByteArray& line, int delayMs = 0) { return {Send, line, delayMs, {}, 0}; }
    static HubReply error(const QByteArray& text, int delayMs = 0) { return {Send, "Err:" + text, delayMs, {}, 0}; }
    static HubReply drop(int delayMs = 0) { return {Drop, QByteArray(), delayMs, {}, 0}; }
};

// Link time-outs in milliseconds, as the serial port takes them.
struct LinkTimeouts
{
    int interval = 50; // largest gap between two bytes of a frame
    int read = 300;    // wait for an answer to begin
    int write = 100;
};

// One port with the analyzers behind it.
class AnalyzerPort
{
public:
    virtual ~AnalyzerPort() = default;

    virtual QString name() const = 0;
    // Asks the port which analyzers answer; false with `error` set when it
    // cannot tell.
    virtual bool listAnalyzers(QList<QByteArray>* ids, QByteArray* error) = 0;
    // One request line to the analyzer `id`, one reply.
    virtual HubReply exchange(const QByteArray& id, const QByteArray& line) = 0;
    // False once the port is lost for good (hang-up); the hub then closes it.
    virtual bool isUsable() const { return true; }
};
