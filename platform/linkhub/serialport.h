#pragma once

#include "platform/linewire/linkframe.h"
#include "platform/linkhub/analyzerport.h"

#include "core/serial.h"

class WireTrace;

// Line settings of the serial link (see README).
struct SerialLineSettings
{
    int baudRate = 115200;
    int dataBits = 8;
    Serial::Parity parity = Serial::NoParity;
    Serial::StopBits stopBits = Serial::OneStop;
    int retries = 2; // repeats of a request after a time-out or a bad frame
};

// A serial device with analyzers behind it, spoken to in frames (linkframe.h).
class SerialPort : public AnalyzerPort
{
public:
    SerialPort(const SerialLineSettings& settings, const LinkTimeouts& timeouts, WireTrace* trace);
    ~SerialPort() override;

    // False with `error` set when the device cannot be opened or set up.
    bool open(const QString& device, QByteArray* error);

    QString name() const override;
    bool listAnalyzers(QList<QByteArray>* ids, QByteArray* error) override;
    HubReply exchange(const QByteArray& id, const QByteArray& line) override;
    bool isUsable() const override { return !m_hungUp; }

private:
    enum class Outcome { Answered, TimedOut, BadFrame, WriteFailed, HungUp };

    // Sends one request (with repeats) and waits for the reply frame.
    Outcome transact(const QByteArray& address, const QByteArray& payload, QByteArray* reply);
    Outcome attempt(const QByteArray& frame, char seq, const QByteArray& address, QByteArray* reply);
    bool lineHungUp() const;

    Serial m_serial;
    SerialLineSettings m_settings;
    LinkTimeouts m_timeouts;
    WireTrace* m_trace;
    char m_seq;
    bool m_hungUp = false;
    QByteArray m_lastError;
};
