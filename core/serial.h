#pragma once

#include "core/core_global.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

// A serial port as a sequential, unbuffered I/O device. Reads and writes
// block, bounded by the port's time-outs rather than by events: no readyRead
// is ever emitted and waitForReadyRead/waitForBytesWritten return false.
//
// Time-outs (setTimeouts) follow the classic communications-port rules:
//  - a read returns as soon as maxSize bytes have arrived, or when the gap
//    between two received bytes exceeds readInterval ms (0: no interval
//    limit), or when readTotal ms plus 1 ms per requested byte have passed
//    since the call began, whichever comes first; a time-out gives a short
//    or empty read, never an error;
//  - a write gives up after writeTotal ms plus 1 ms per byte and returns the
//    count the driver accepted.
//
// POSIX port layer (serial_unix.cpp):
//  - A bare name such as "ttyUSB0" opens "/dev/ttyUSB0"; an absolute path is
//    opened as it stands. The port is opened exclusively: TIOCEXCL keeps
//    other opens out and an flock() on the descriptor keeps out other
//    processes that honour it, including privileged ones that TIOCEXCL lets
//    through. A second open of the same port fails.
//  - The device is put into raw mode on open (no line editing, echo, signals
//    or CR/LF translation: bytes pass unchanged), keeping the speed, framing
//    and modem-control settings it had until setSettings changes them.
//  - setSettings switches off RTS/CTS flow control and output XON/XOFF
//    (IXON); input XON/XOFF (IXOFF), parity checking (INPCK) and the modem
//    control lines keep what the port had. Mark and space parity use CMSPAR.
//    POSIX has no 1.5 stop bits: OneAndHalfStop selects CSTOPB, which a
//    16550-type UART sends as 1.5 stop bits with 5 data bits and as 2 stop
//    bits with longer words (a receiver set for 1 or 1.5 accepts both).
//  - Only the standard baud rates (50 to 4000000) are accepted.
//  - EnumDevices lists the tty devices under /sys/class/tty that are backed
//    by a device (virtual consoles and pseudo-terminals are not), leaving out
//    UART slots the kernel reports as having no hardware, as full /dev paths
//    in natural name order (ttyS2 before ttyS10).
class CORE_EXPORT Serial : public QIODevice
{
    Q_OBJECT

public:
    // Values as used directly by the line settings.
    enum Parity { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    enum StopBits { OneStop = 0, OneAndHalfStop = 1, TwoStop = 2 };

    using Handle = int;
    static constexpr Handle InvalidHandle = -1;

    explicit Serial(QObject* parent = nullptr);
    ~Serial() override;

    static QStringList EnumDevices();

    void setFileName(const QString& name);
    QString fileName() const;

    Handle handle() const;

    // Read-write and unbuffered.
    bool open();
    // A mode without ReadOnly or WriteOnly (NotOpen) is refused.
    bool open(OpenMode mode) override;
    void close() override;

    bool setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits);
    bool setTimeouts(int readInterval, int readTotal, int writeTotal);
    void clearInputBuffer();

    qint64 bytesAvailable() const override;
    bool isSequential() const override;

    // Public so that callers can move raw blocks past QIODevice's buffering.
    // A negative maxSize moves nothing and returns 0.
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    void setSystemError(int errorNumber);

    QString m_fileName;
    Handle m_handle = InvalidHandle;
    int m_readInterval = 0;
    int m_readTotal = 0;
    int m_writeTotal = 0;
};
