// POSIX port layer of Serial: termios for the line, poll() against a
// monotonic deadline for the time-outs.

#include "core/serial.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, rounded up, never negative.
int msecondsUntil(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT32_MAX ? INT32_MAX : int(ms);
}

struct BaudEntry
{
    int rate;
    speed_t code;
};

const BaudEntry baudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool baudCode(int rate, speed_t* code)
{
    for (const BaudEntry& e : baudTable) {
        if (e.rate == rate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

// "ttyS10" sorts after "ttyS2": compare the trailing numbers as numbers.
bool naturalLess(const QString& a, const QString& b)
{
    auto split = [](const QString& s, QString* stem, qulonglong* number) {
        int i = s.size();
        while (i > 0 && s.at(i - 1).isDigit())
            --i;
        *stem = s.left(i);
        *number = i < s.size() ? s.mid(i).toULongLong() : 0;
        return i < s.size();
    };
    QString stemA, stemB;
    qulonglong numA = 0, numB = 0;
    const bool hasA = split(a, &stemA, &numA);
    const bool hasB = split(b, &stemB, &numB);
    if (stemA != stemB)
        return stemA < stemB;
    if (hasA != hasB)
        return !hasA;
    if (numA != numB)
        return numA < numB;
    return a < b;
}

QString readSysAttribute(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.readAll()).trimmed();
}

// Bytes one read or write moves: a negative request moves nothing, and one
// call moves at most 4 GiB - 1 (the count the port layer deals in).
qint64 transferSize(qint64 maxSize)
{
    return std::clamp<qint64>(maxSize, 0, 0xFFFFFFFF);
}

} // namespace

Serial::Serial(QObject* parent)
    : QIODevice(parent)
{
}

Serial::~Serial()
{
    if (isOpen())
        close();
}

QStringList Serial::EnumDevices()
{
    const QDir ttyClass(QStringLiteral("/sys/class/tty"));
    QStringList names;
    const QStringList entries = ttyClass.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : entries) {
        const QString entry = ttyClass.filePath(name);
        // Only ttys with a device behind them: consoles and ptys have none.
        if (!QFileInfo::exists(entry + QStringLiteral("/device")))
            continue;
        // UART slots without hardware report port type 0 (unknown).
        const QString type = readSysAttribute(entry + QStringLiteral("/type"));
        if (type == QLatin1String("0"))
            continue;
        if (!names.contains(name))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);

    QStringList result;
    for (const QString& name : std::as_const(names)) {
        const QString path = QStringLiteral("/dev/") + name;
        if (QFileInfo::exists(path) && !result.contains(path))
            result.append(path);
    }
    return result;
}

void Serial::setFileName(const QString& name)
{
    m_fileName = name;
}

QString Serial::fileName() const
{
    return m_fileName;
}

Serial::Handle Serial::handle() const
{
    return m_handle;
}

bool Serial::open()
{
    return open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool Serial::open(OpenMode mode)
{
    if (isOpen()) {
        qWarning("Serial::open: Serial (%s) is already open", m_fileName.toUtf8().constData());
        return false;
    }

    // A port opened for neither reading nor writing would hold the
    // descriptor and the exclusive lock while the device reads as closed.
    if (!(mode & QIODevice::ReadWrite)) {
        setSystemError(EINVAL);
        return false;
    }

    const QString path = m_fileName.startsWith(QLatin1Char('/')) ? m_fileName : QStringLiteral("/dev/") + m_fileName;

    int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const bool reading = mode & QIODevice::ReadOnly;
    const bool writing = mode & QIODevice::WriteOnly;
    if (reading && writing)
        flags |= O_RDWR;
    else if (writing)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;

    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        setSystemError(errno);
        return false;
    }

    // Exclusive access: flock() first, so that a port another process holds
    // is left exactly as it is (TIOCEXCL would otherwise be set on it again
    // and cleared by our close).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        setSystemError(err);
        return false;
    }
    termios tio;
    if (::tcgetattr(fd, &tio) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::close(fd);
        setSystemError(err);
        return false;
    }

    // A communications port has no line discipline: bytes pass as they are.
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        setSystemError(err);
        return false;
    }

    m_handle = fd;
    return QIODevice::open(mode);
}

void Serial::close()
{
    QIODevice::close();
    if (m_handle != InvalidHandle) {
        // The exclusive flag belongs to the tty, not to our descriptor: clear
        // it so that the port can be opened again while others hold it.
        ::ioctl(m_handle, TIOCNXCL);
        ::close(m_handle);
        m_handle = InvalidHandle;
    }
}

bool Serial::setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits)
{
    if (!isOpen()) {
        qWarning("Serial::setSettings: File is not open");
        return false;
    }

    termios tio;
    if (::tcgetattr(m_handle, &tio) != 0) {
        setSystemError(errno);
        return false;
    }

    speed_t speed = B0;
    if (!baudCode(baudRate, &speed)) {
        setSystemError(EINVAL);
        return false;
    }
    tcflag_t size = 0;
    switch (dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: setSystemError(EINVAL); return false;
    }

    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag = (tio.c_cflag & ~tcflag_t(CSIZE)) | size;

    tio.c_cflag &= ~tcflag_t(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case NoParity: break;
    case OddParity: tio.c_cflag |= PARENB | PARODD; break;
    case EvenParity: tio.c_cflag |= PARENB; break;
    case MarkParity: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SpaceParity: tio.c_cflag |= PARENB | CMSPAR; break;
    default: setSystemError(EINVAL); return false;
    }

    switch (stopBits) {
    case OneStop: tio.c_cflag &= ~tcflag_t(CSTOPB); break;
    case OneAndHalfStop:
    case TwoStop: tio.c_cflag |= CSTOPB; break;
    default: setSystemError(EINVAL); return false;
    }

    // Flow control off: no RTS/CTS, no output XON/XOFF. Input XON/XOFF,
    // parity checking and the modem lines stay as the port had them.
    tio.c_cflag &= ~tcflag_t(CRTSCTS);
    tio.c_iflag &= ~tcflag_t(IXON);

    if (::tcsetattr(m_handle, TCSANOW, &tio) != 0) {
        setSystemError(errno);
        return false;
    }
    return true;
}

bool Serial::setTimeouts(int readInterval, int readTotal, int writeTotal)
{
    // The time-outs are a property of the open port, as on systems that keep
    // them in the driver.
    if (m_handle == InvalidHandle) {
        setSystemError(EBADF);
        return false;
    }
    m_readInterval = std::max(readInterval, 0);
    m_readTotal = std::max(readTotal, 0);
    m_writeTotal = std::max(writeTotal, 0);
    return true;
}

void Serial::clearInputBuffer()
{
    if (m_handle != InvalidHandle)
        ::tcflush(m_handle, TCIFLUSH);
}

qint64 Serial::bytesAvailable() const
{
    int queued = 0;
    if (m_handle == InvalidHandle || ::ioctl(m_handle, FIONREAD, &queued) != 0 || queued < 0)
        queued = 0;
    return queued + QIODevice::bytesAvailable();
}

bool Serial::isSequential() const
{
    return true;
}

qint64 Serial::readData(char* data, qint64 maxSize)
{
    if (m_handle == InvalidHandle) {
        setSystemError(EBADF);
        return 0;
    }
    const qint64 wanted = transferSize(maxSize);
    if (wanted == 0)
        return 0;

    const auto start = Clock::now();
    const auto totalDeadline = start + std::chrono::milliseconds(m_readTotal + wanted);
    auto lastByte = start;
    qint64 got = 0;

    while (got < wanted) {
        int waitMs = msecondsUntil(totalDeadline);
        if (got > 0 && m_readInterval > 0)
            waitMs = std::min(waitMs, msecondsUntil(lastByte + std::chrono::milliseconds(m_readInterval)));

        pollfd pfd{m_handle, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            setSystemError(errno);
            return got;
        }
        if (ready == 0) {
            // poll may wake a little early; only the clock ends the read.
            const auto now = Clock::now();
            if (now >= totalDeadline)
                break;
            if (got > 0 && m_readInterval > 0 && now >= lastByte + std::chrono::milliseconds(m_readInterval))
                break;
            continue;
        }

        const ssize_t n = ::read(m_handle, data + got, size_t(wanted - got));
        if (n > 0) {
            got += n;
            lastByte = Clock::now();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // End of file or a hang-up: the other side is gone.
        setSystemError(n < 0 ? errno : EIO);
        return got;
    }
    return got;
}

qint64 Serial::writeData(const char* data, qint64 maxSize)
{
    if (m_handle == InvalidHandle) {
        setSystemError(EBADF);
        return 0;
    }
    const qint64 wanted = transferSize(maxSize);
    if (wanted == 0)
        return 0;

    const auto deadline = Clock::now() + std::chrono::milliseconds(m_writeTotal + wanted);
    qint64 done = 0;
    while (done < wanted) {
        const ssize_t n = ::write(m_handle, data + done, size_t(wanted - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            setSystemError(errno);
            return done;
        }
        const int waitMs = msecondsUntil(deadline);
        if (waitMs <= 0)
            break;
        pollfd pfd{m_handle, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, waitMs);
        if (ready < 0 && errno != EINTR) {
            setSystemError(errno);
            return done;
        }
        if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            setSystemError(EIO);
            return done;
        }
    }
    return done;
}

void Serial::setSystemError(int errorNumber)
{
    setErrorString(qt_error_string(errorNumber));
}
