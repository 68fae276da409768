#pragma once

#include "tqcore/tqcore_global.h"

#include <QApplication>
#include <QString>
#include <QVariant>

// The host's application object. The statics work with or without a TqApp
// (tests make none).
class TQCORE_EXPORT TqApp : public QApplication
{
    Q_OBJECT

public:
    TqApp(int& argc, char** argv);
    ~TqApp() override;

    // A setting of Profile::instance().
    static QVariant value(const QString& key, const QVariant& defaultValue = QVariant());
    // The process's temporary values (the same table as Workbench::tmpValue);
    // any thread.
    static QVariant tmpValue(const QString& key, const QVariant& defaultValue = QVariant());
    static void setTmpValue(const QString& key, const QVariant& value);

    // Sound of frequency (Hz) and duration (ms), repeated count times with
    // pause (ms) in between. This host has no sound device: the call is
    // counted (soundCount()) and logged at debug level.
    static void playSound(int frequency, int duration, int pause = 0, int count = 1);
    static int soundCount();

    // Headless: no window is ever shown (the command-line host, tests).
    static bool isHeadless();
    static void setHeadless(bool headless);
};
