#include "tqcore/tqapp.h"

#include "core/profile.h"

#include <QAtomicInt>
#include <QHash>
#include <QLoggingCategory>
#include <QReadWriteLock>

namespace {

// One table of temporary values per process, shared by TqApp and Workbench.
struct TmpValues
{
    QReadWriteLock lock;
    QHash<QString, QVariant> values;
};

TmpValues& tmpValues()
{
    static TmpValues table;
    return table;
}

QAtomicInt soundCounter;
QAtomicInt headlessFlag;

Q_LOGGING_CATEGORY(lcSound, "tq.sound")

} // namespace

TqApp::TqApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

TqApp::~TqApp() = default;

QVariant TqApp::value(const QString& key, const QVariant& defaultValue)
{
    return Profile::instance().value(key, defaultValue);
}

QVariant TqApp::tmpValue(const QString& key, const QVariant& defaultValue)
{
    TmpValues& t = tmpValues();
    const QReadLocker locker(&t.lock);
    return t.values.value(key, defaultValue);
}

void TqApp::setTmpValue(const QString& key, const QVariant& value)
{
    TmpValues& t = tmpValues();
    const QWriteLocker locker(&t.lock);
    if (value.isValid())
        t.values.insert(key, value);
    else
        t.values.remove(key);
}

void TqApp::playSound(int frequency, int duration, int pause, int count)
{
    soundCounter.fetchAndAddRelaxed(1);
    qCDebug(lcSound, "sound %d Hz, %d ms, pause %d ms, %d times", frequency, duration, pause, count);
}

int TqApp::soundCount()
{
    return soundCounter.loadRelaxed();
}

bool TqApp::isHeadless()
{
    return headlessFlag.loadRelaxed() != 0;
}

void TqApp::setHeadless(bool headless)
{
    headlessFlag.storeRelaxed(headless ? 1 : 0);
}
