// Serial over pseudo-terminal pairs: the test holds the master side and
// plays the far end of the line.

#include "core/serial.h"

#include <QElapsedTimer>
#include <QTest>

#include <chrono>
#include <limits>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "testtime.h"

namespace {

struct PtyPair
{
    int master = -1;
    int slave = -1;
    QString slavePath;

    bool open()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        slavePath = QString::fromLocal8Bit(name);
        return true;
    }
    ~PtyPair()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    // Opens the pair and the port on its slave side.
    bool openWith(Serial& serial)
    {
        if (!open())
            return false;
        serial.setFileName(slavePath);
        return serial.open();
    }
    void send(const QByteArray& bytes) const
    {
        QCOMPARE_GE(::write(master, bytes.constData(), size_t(bytes.size())), 0);
    }
    QByteArray receive(int waitMs = 200) const
    {
        QByteArray out;
        QElapsedTimer t;
        t.start();
        char buf[256];
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        while (t.elapsed() < waitMs) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                out.append(buf, n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return out;
    }
};

} // namespace

class tst_Serial : public QObject
{
    Q_OBJECT

private slots:
    void settings_data();
    void settings();
    void settingsOnRealPort_data();
    void settingsOnRealPort();
    void invalidSettings_data();
    void invalidSettings();
    void readTimesOutEmpty_data();
    void readTimesOutEmpty();
    void intervalGapEndsRead();
    void fullReadReturnsAtOnce();
    void writeGivesUpWhenBlocked();
    void hangupEndsReadEarly();
    void secondOpenFails();
    void reopenAfterClose();
    void openWhileOpen();
    void closedPortFails();
    void negativeSizeMovesNothing();
    void notOpenModeRefused();
    void bareNameUnderDev();
    void bytesAvailableAndClear();
    void enumDevices();
};

void tst_Serial::settings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("parityFlags");
    QTest::addColumn<bool>("twoStop");

    QTest::newRow("9600 8N1") << 9600 << 8 << int(Serial::NoParity) << int(Serial::OneStop) << speed_t(B9600)
                              << uint(CS8) << 0u << false;
    QTest::newRow("19200 7O1") << 19200 << 7 << int(Serial::OddParity) << int(Serial::OneStop) << speed_t(B19200)
                               << uint(CS7) << uint(PARENB | PARODD) << false;
    QTest::newRow("115200 8E2") << 115200 << 8 << int(Serial::EvenParity) << int(Serial::TwoStop) << speed_t(B115200)
                                << uint(CS8) << uint(PARENB) << true;
    QTest::newRow("2400 7M1") << 2400 << 7 << int(Serial::MarkParity) << int(Serial::OneStop) << speed_t(B2400)
                              << uint(CS7) << uint(PARENB | PARODD | CMSPAR) << false;
    QTest::newRow("38400 6S1") << 38400 << 6 << int(Serial::SpaceParity) << int(Serial::OneStop) << speed_t(B38400)
                               << uint(CS6) << uint(PARENB | CMSPAR) << false;
    QTest::newRow("1200 5N1.5") << 1200 << 5 << int(Serial::NoParity) << int(Serial::OneAndHalfStop) << speed_t(B1200)
                                << uint(CS5) << 0u << true;
}

void tst_Serial::settings()
{
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(speed_t, speed);
    QFETCH(uint, size);
    QFETCH(uint, parityFlags);
    QFETCH(bool, twoStop);

    PtyPair pty;
    QVERIFY(pty.open());
    // Start from a port with flow control and line editing switched on.
    termios before;
    QCOMPARE(::tcgetattr(pty.slave, &before), 0);
    before.c_cflag |= CRTSCTS;
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_lflag |= ICANON | ECHO;
    QCOMPARE(::tcsetattr(pty.slave, TCSANOW, &before), 0);

    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QVERIFY2(serial.setSettings(baud, dataBits, Serial::Parity(parity), Serial::StopBits(stopBits)),
             qPrintable(serial.errorString()));

    // A pseudo-terminal forces CS8 and clears PARENB whatever is asked;
    // the other framing bits are kept and show what was applied.
    termios tio;
    QCOMPARE(::tcgetattr(pty.slave, &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed);
    QCOMPARE(::cfgetispeed(&tio), speed);
    QCOMPARE(uint(tio.c_cflag & (PARODD | CMSPAR)), parityFlags & uint(PARODD | CMSPAR));
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStop);
    QVERIFY(!(tio.c_cflag & CRTSCTS));
    QVERIFY(!(tio.c_iflag & IXON));
    QVERIFY2(tio.c_iflag & IXOFF, "input XON/XOFF keeps what the port had");
    QVERIFY(!(tio.c_iflag & ICRNL));
    QVERIFY(!(tio.c_lflag & (ICANON | ECHO | ISIG)));
    QVERIFY(!(tio.c_oflag & OPOST));
    Q_UNUSED(size);
}

void tst_Serial::settingsOnRealPort_data()
{
    settings_data();
}

// Word size and parity enable need a real UART: set VELA_TEST_SERIAL_PORT
// to a port nobody else uses (nothing is sent on it).
void tst_Serial::settingsOnRealPort()
{
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(speed_t, speed);
    QFETCH(uint, size);
    QFETCH(uint, parityFlags);
    QFETCH(bool, twoStop);

    const QString port = qEnvironmentVariable("VELA_TEST_SERIAL_PORT");
    if (port.isEmpty())
        QSKIP("needs a real serial port in VELA_TEST_SERIAL_PORT");

    Serial serial;
    serial.setFileName(port);
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QVERIFY2(serial.setSettings(baud, dataBits, Serial::Parity(parity), Serial::StopBits(stopBits)),
             qPrintable(serial.errorString()));
    termios tio;
    QCOMPARE(::tcgetattr(serial.handle(), &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed);
    QCOMPARE(uint(tio.c_cflag & CSIZE), size);
    QCOMPARE(uint(tio.c_cflag & (PARENB | PARODD | CMSPAR)), parityFlags);
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStop);
    QVERIFY(!(tio.c_cflag & CRTSCTS));
}

void tst_Serial::invalidSettings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");

    QTest::newRow("baud 0") << 0 << 8 << 0;
    QTest::newRow("baud 12345") << 12345 << 8 << 0;
    QTest::newRow("4 data bits") << 9600 << 4 << 0;
    QTest::newRow("9 data bits") << 9600 << 9 << 0;
    QTest::newRow("parity 5") << 9600 << 8 << 5;
}

void tst_Serial::invalidSettings()
{
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);

    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStop));
    QVERIFY(!serial.setSettings(baud, dataBits, Serial::Parity(parity), Serial::OneStop));
    QVERIFY(!serial.errorString().isEmpty());

    termios tio;
    QCOMPARE(::tcgetattr(pty.slave, &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(uint(tio.c_cflag & CSIZE), uint(CS8));
}

void tst_Serial::readTimesOutEmpty_data()
{
    QTest::addColumn<int>("readTotal");
    QTest::addColumn<int>("count");

    QTest::newRow("300 ms, 1 byte") << 300 << 1;
    QTest::newRow("100 ms, 200 bytes") << 100 << 200;
    QTest::newRow("0 ms, 150 bytes") << 0 << 150;
}

void tst_Serial::readTimesOutEmpty()
{
    QFETCH(int, readTotal);
    QFETCH(int, count);

    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setTimeouts(10, readTotal, 100));

    QByteArray buf(count, '\0');
    QElapsedTimer timer;
    timer.start();
    const qint64 n = serial.read(buf.data(), count);
    const qint64 elapsed = timer.elapsed();

    QCOMPARE(n, qint64(0));
    const int expected = readTotal + count;
    QVERIFY2(elapsed >= expected - 2 && elapsed <= expected + testsupport::scaled(50),
             qPrintable(QStringLiteral("took %1 ms, expected %2").arg(elapsed).arg(expected)));
}

void tst_Serial::intervalGapEndsRead()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setTimeouts(60, 2000, 100));

    // "abc" now, "def" 400 ms later: the 60 ms gap limit ends the read
    // with the first part well before the total time-out.
    std::thread far([&pty] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.send("abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        pty.send("def");
    });

    QElapsedTimer timer;
    timer.start();
    char buf[64];
    const qint64 n = serial.read(buf, sizeof buf);
    const qint64 elapsed = timer.elapsed();
    far.join();

    QCOMPARE(QByteArray(buf, int(n)), QByteArray("abc"));
    QVERIFY2(elapsed >= 150 && elapsed < 150 + testsupport::scaled(200), qPrintable(QString::number(elapsed)));

    // The second part is waiting and comes with the next read.
    QCOMPARE(serial.read(3), QByteArray("def"));
}

void tst_Serial::fullReadReturnsAtOnce()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setTimeouts(0, 5000, 100));

    pty.send("0123456789");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(serial.read(4), QByteArray("0123"));
    QCOMPARE(serial.read(6), QByteArray("456789"));
    QVERIFY(timer.elapsed() < testsupport::scaled(1000));
}

void tst_Serial::writeGivesUpWhenBlocked()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStop));
    QVERIFY(serial.setTimeouts(0, 0, 150));

    // Fill the line's output queue through the test's own descriptor while
    // nobody reads the master side.
    ::fcntl(pty.slave, F_SETFL, ::fcntl(pty.slave, F_GETFL) | O_NONBLOCK);
    // The pty moves bytes on to the master's queue in the background, so
    // keep writing until the queue stays full.
    const QByteArray block(4096, 'x');
    for (int refusals = 0, i = 0; refusals < 5 && i < 10000; ++i) {
        if (::write(pty.slave, block.constData(), size_t(block.size())) < 0) {
            ++refusals;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    QElapsedTimer timer;
    timer.start();
    const qint64 n = serial.write(QByteArray(50, 'y'));
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(n, qint64(0));
    QVERIFY2(elapsed >= 195 && elapsed <= 195 + testsupport::scaled(55), qPrintable(QString::number(elapsed)));
}

void tst_Serial::hangupEndsReadEarly()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setTimeouts(0, 3000, 100));
    ::close(pty.slave);
    pty.slave = -1;
    ::close(pty.master);
    pty.master = -1;

    QElapsedTimer timer;
    timer.start();
    char buf[16];
    QCOMPARE(serial.read(buf, sizeof buf), qint64(0));
    QVERIFY(timer.elapsed() < testsupport::scaled(500));
    QVERIFY(!serial.errorString().isEmpty());
}

void tst_Serial::secondOpenFails()
{
    PtyPair pty;
    QVERIFY(pty.open());
    Serial first;
    first.setFileName(pty.slavePath);
    QVERIFY(first.open());

    Serial second;
    second.setFileName(pty.slavePath);
    QVERIFY(!second.open());
    QVERIFY(!second.isOpen());
    QCOMPARE(second.handle(), Serial::InvalidHandle);
    QVERIFY(!second.errorString().isEmpty());

    // The first one is untouched and still talks.
    QVERIFY(first.isOpen());
    QVERIFY(first.setSettings(9600, 8, Serial::NoParity, Serial::OneStop));
    QCOMPARE(first.write("ping"), qint64(4));
    QCOMPARE(pty.receive(), QByteArray("ping"));
    QVERIFY(!second.open());
}

void tst_Serial::reopenAfterClose()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    serial.close();
    QCOMPARE(serial.handle(), Serial::InvalidHandle);

    Serial other;
    other.setFileName(pty.slavePath);
    QVERIFY2(other.open(), qPrintable(other.errorString()));
}

void tst_Serial::openWhileOpen()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    const Serial::Handle handle = serial.handle();

    const QByteArray warning = "Serial::open: Serial (" + pty.slavePath.toUtf8() + ") is already open";
    QTest::ignoreMessage(QtWarningMsg, warning.constData());
    QVERIFY(!serial.open());
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.handle(), handle);
}

void tst_Serial::closedPortFails()
{
    Serial serial;
    QCOMPARE(serial.handle(), Serial::InvalidHandle);
    QTest::ignoreMessage(QtWarningMsg, "Serial::setSettings: File is not open");
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStop));
    QVERIFY(!serial.setTimeouts(50, 300, 100));
    QCOMPARE(serial.bytesAvailable(), qint64(0));
    QCOMPARE(serial.readData(nullptr, 10), qint64(0));
    QCOMPARE(serial.writeData("x", 1), qint64(0));
    QVERIFY(serial.isSequential());
    QVERIFY(!serial.waitForReadyRead(10));
}

// A negative size must neither become a huge request that overruns the
// caller's buffer nor take bytes off the line.
void tst_Serial::negativeSizeMovesNothing()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStop));
    QVERIFY(serial.setTimeouts(0, 100, 100));
    pty.send("abc");

    char buf[8];
    std::fill(std::begin(buf), std::end(buf), '#');
    for (qint64 size : {qint64(-1), qint64(-4096), std::numeric_limits<qint64>::min()}) {
        QCOMPARE(serial.readData(buf + 2, size), qint64(0));
        QCOMPARE(serial.writeData("xyz", size), qint64(0));
    }
    QCOMPARE(QByteArray(buf, sizeof buf), QByteArray(sizeof buf, '#'));
    QCOMPARE(pty.receive(100), QByteArray());
    QCOMPARE(serial.readData(buf, 3), qint64(3));
    QCOMPARE(QByteArray(buf, 3), QByteArray("abc"));
}

void tst_Serial::notOpenModeRefused()
{
    PtyPair pty;
    QVERIFY(pty.open());
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(!serial.open(QIODevice::NotOpen));
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.handle(), Serial::InvalidHandle);
    QVERIFY(!serial.errorString().isEmpty());

    // Nothing was left holding the port.
    Serial other;
    other.setFileName(pty.slavePath);
    QVERIFY2(other.open(), qPrintable(other.errorString()));
}

void tst_Serial::bareNameUnderDev()
{
    PtyPair pty;
    QVERIFY(pty.open());
    QVERIFY(pty.slavePath.startsWith(QLatin1String("/dev/")));

    Serial serial;
    serial.setFileName(pty.slavePath.mid(5)); // "pts/N"
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QCOMPARE(serial.fileName(), pty.slavePath.mid(5));

    Serial missing;
    missing.setFileName(QStringLiteral("ttyNoSuchPort42"));
    QVERIFY(!missing.open());
    QVERIFY(!missing.errorString().isEmpty());
}

void tst_Serial::bytesAvailableAndClear()
{
    PtyPair pty;
    Serial serial;
    QVERIFY(pty.openWith(serial));
    QVERIFY(serial.setTimeouts(0, 200, 100));

    pty.send("hello");
    QTRY_COMPARE(serial.bytesAvailable(), qint64(5));
    serial.clearInputBuffer();
    QCOMPARE(serial.bytesAvailable(), qint64(0));
    pty.send("x");
    QCOMPARE(serial.read(5), QByteArray("x"));
}

void tst_Serial::enumDevices()
{
    const QStringList ports = Serial::EnumDevices();
    QCOMPARE(Serial::EnumDevices(), ports);
    QCOMPARE(QSet<QString>(ports.begin(), ports.end()).size(), ports.size());
    for (const QString& port : ports) {
        QVERIFY2(port.startsWith(QLatin1String("/dev/")), qPrintable(port));
        QVERIFY2(!port.startsWith(QLatin1String("/dev/pts/")), qPrintable(port));
    }
    if (ports.isEmpty())
        qInfo("no serial ports on this machine: the list is empty");
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
