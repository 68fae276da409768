#include "tqcore/instrument.h"

#include "tqcore/assay.h"
#include "tqcore/workbench.h"
#include "tqcore/worklist.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {
// Bounds of the parameter block moved by loadParam/saveParam.
constexpr int minParamSize = 8;
constexpr int maxParamSize = 256;

quint32 readLittleEndian32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | (quint32(u[1]) << 8) | (quint32(u[2]) << 16) | (quint32(u[3]) << 24);
}

int blockSize(quint32 sizeField)
{
    return int(std::clamp<quint32>(sizeField, minParamSize, maxParamSize));
}
} // namespace

Instrument::Instrument(Workbench* workbench)
    : QObject(nullptr)
    , m_workbench(workbench)
{
}

Instrument::~Instrument() = default;

Worklist* Instrument::worklist() const
{
    return m_workbench ? m_workbench->worklist() : nullptr;
}

int Instrument::state() const
{
    QMutexLocker locker(&m_mutex);
    return m_state;
}

void Instrument::setState(int state)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_state == state)
            return;
        m_state = state;
    }
    emit stateChanged(state);
}

bool Instrument::isRunning() const
{
    QMutexLocker locker(&m_mutex);
    return m_running;
}

void Instrument::addMessage(int code, int level, const QString& text)
{
    QMutexLocker locker(&m_mutex);
    m_messages.insert(code, Message{level, text});
}

QString Instrument::findMessage(int code) const
{
    QMutexLocker locker(&m_mutex);
    return m_messages.value(code).text;
}

int Instrument::messageLevel(int code) const
{
    QMutexLocker locker(&m_mutex);
    return m_messages.value(code, Message{0, QString()}).level;
}

QList<int> Instrument::messageCodes() const
{
    QMutexLocker locker(&m_mutex);
    QList<int> codes = m_messages.keys();
    std::sort(codes.begin(), codes.end());
    return codes;
}

int Instrument::setStatusCode(int code, int source, const QString& text)
{
    Q_UNUSED(text);
    int level = 0;
    bool changed = false;
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_messages.constFind(code);
        level = it == m_messages.constEnd() ? 0 : it->level;
        const int stored = level > 0 ? code : 0;
        const int previous = m_statusCodes.value(source, 0);
        if (stored == 0)
            m_statusCodes.remove(source);
        else
            m_statusCodes.insert(source, stored);
        changed = previous != stored;
    }
    if (changed)
        emit statusCodeChanged(code, source, level);
    return level;
}

int Instrument::statusCode(int source) const
{
    QMutexLocker locker(&m_mutex);
    return m_statusCodes.value(source, 0);
}

QHash<int, int> Instrument::activeStatusCodes() const
{
    QMutexLocker locker(&m_mutex);
    return m_statusCodes;
}

bool Instrument::containsAssay(Assay* assay) const
{
    QMutexLocker locker(&m_mutex);
    return assay && m_onInstrument.contains(static_cast<const QObject*>(assay));
}

bool Instrument::loadParam()
{
    std::unique_ptr<QIODevice> device(createParamDevice(QIODevice::ReadOnly));
    if (!device || !device->isOpen() || !device->seek(0))
        return false;
    char sizeField[4];
    if (device->read(sizeField, 4) != 4)
        return false;
    const int size = blockSize(readLittleEndian32(sizeField));
    QByteArray block(maxParamSize, '\0');
    if (!device->seek(0))
        return false;
    const qint64 got = device->read(block.data(), size);
    if (got < 4)
        return false;
    // Bytes the device did not deliver stay zero.
    setParamData(block.constData());
    return true;
}

bool Instrument::saveParam()
{
    const void* data = paramData();
    if (!data)
        return false;
    const int size = blockSize(readLittleEndian32(static_cast<const char*>(data)));
    std::unique_ptr<QIODevice> device(createParamDevice(QIODevice::WriteOnly));
    if (!device || !device->isOpen() || !device->seek(0))
        return false;
    return device->write(static_cast<const char*>(data), size) == size;
}

bool Instrument::isValidParam() const
{
    // paramData() is not const in the interface; reading it changes nothing.
    const void* data = const_cast<Instrument*>(this)->paramData();
    return data && readLittleEndian32(static_cast<const char*>(data)) != 0;
}

void Instrument::setRunning()
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_running)
            return;
        m_running = true;
    }
    emit runningChanged(true);
}

void Instrument::setStopped()
{
    {
        QMutexLocker locker(&m_mutex);
        if (!m_running)
            return;
        m_running = false;
    }
    emit runningChanged(false);
}

void Instrument::createResources(ResourceManager*) { }
bool Instrument::hasFeature(int) const
{
    return false;
}

QString Instrument::instrumentInfo() const
{
    QMutexLocker locker(&m_mutex);
    return QStringLiteral("%1, %2, %3 messages")
        .arg(QString::fromLatin1(metaObject()->className()),
             m_state == Connected ? QStringLiteral("connected") : QStringLiteral("disconnected"))
        .arg(m_messages.size());
}

QString Instrument::assayGroup(Assay* assay) const
{
    return assay ? assay->assay() : QString();
}

bool Instrument::needDilutionPos(Assay*) const
{
    return false;
}
int Instrument::compareAssayPriority(Assay*, Assay*) const
{
    return 0;
}
void Instrument::about() { }
void Instrument::connectToHost() { }
void Instrument::disconnectFromHost() { }

bool Instrument::waitForConnected(int msecs)
{
    QDeadlineTimer deadline(msecs);
    while (!isConnected() && !deadline.hasExpired()) {
        if (QThread::currentThread() == thread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return isConnected();
}

void* Instrument::paramData()
{
    return nullptr;
}
void Instrument::setParamData(const void*) { }
QIODevice* Instrument::createParamDevice(QIODevice::OpenMode)
{
    return nullptr;
}
void Instrument::addOptionPages(OptionFrame*) { }
void Instrument::setupStatusBar(QMainWindow*) { }
void Instrument::showManualTest() { }
void Instrument::initDebugger() { }
void Instrument::debugCurve(Assay*) { }
void Instrument::statisticCurve() { }
bool Instrument::canClose()
{
    return true;
}
bool Instrument::canPlace(Assay*)
{
    return true;
}
void Instrument::enableScanBarCode(bool) { }
bool Instrument::isScanBarCodeEnabled() const
{
    return false;
}
void Instrument::instantUpdate() { }
void Instrument::pollStatus() { }
void Instrument::pollTemperatures() { }
bool Instrument::startWork()
{
    return false;
}
void Instrument::haltWork() { }
void Instrument::end() { }
void Instrument::demo() { }

bool Instrument::reset()
{
    QHash<int, int> cleared;
    {
        QMutexLocker locker(&m_mutex);
        cleared.swap(m_statusCodes);
    }
    for (auto it = cleared.cbegin(); it != cleared.cend(); ++it)
        emit statusCodeChanged(0, it.key(), 0);
    return true;
}

void Instrument::runModuleSequence() { }
bool Instrument::sendReagentTable()
{
    return true;
}
void Instrument::readReagentVolumes() { }

void Instrument::beginAssay(Assay* assay)
{
    if (!assay)
        return;
    {
        QMutexLocker locker(&m_mutex);
        m_onInstrument.insert(static_cast<const QObject*>(assay));
    }
    // A deleted assay is taken off at once, from whichever thread deletes it.
    connect(assay, &QObject::destroyed, this, &Instrument::assayDestroyed,
            Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    emit assayBegun(assay);
}

void Instrument::endAssay(Assay* assay, bool ok)
{
    if (!assay)
        return;
    {
        QMutexLocker locker(&m_mutex);
        m_onInstrument.remove(static_cast<const QObject*>(assay));
    }
    assay->setFinished(true);
    if (assay->status() != tq::Finished)
        assay->setStatus(tq::Finished);
    emit assayEnded(assay, ok);
}

void Instrument::assayDestroyed(QObject* assay)
{
    // Called from QObject's destructor: the Assay part of the object is
    // gone already, so the pointer is compared as the QObject it still is.
    QMutexLocker locker(&m_mutex);
    m_onInstrument.remove(assay);
}

void Instrument::removeAssay(Assay* assay)
{
    QMutexLocker locker(&m_mutex);
    m_onInstrument.remove(static_cast<const QObject*>(assay));
}
