#pragma once

#include "core/core_global.h"

#include <QLocale>
#include <QString>
#include <QStringList>

// The language of the user interface. The system's own texts are written in
// Chinese; English comes from the translation files built beside the
// programs (translations/<domain>_en.qm), and the toolkit's standard texts
// (buttons, dates) from Qt's translations.

namespace tq {

// "zh_CN" or "en". The override, when not empty, is read as a locale name
// ("en", "en_GB", "zh", "de_DE" ...), else the system locale decides:
// Chinese for a Chinese locale and for an unknown one (C, POSIX), English
// for every other language.
CORE_EXPORT QString uiLanguageFor(const QString& override, const QLocale& system);

// uiLanguageFor with the environment variable VELA_LANG and the system locale.
CORE_EXPORT QString uiLanguage();

// Installs, on the application, the translators for language: Qt's own
// ("qt_<language>" from Qt's translations folder) and every
// "<domain>_<language>.qm" in dir. Makes the language's locale the default
// one (dates and numbers in the windows) unless the system locale already
// speaks it. Replaces the translators of an earlier call. Returns the
// translation files loaded. GUI thread only.
CORE_EXPORT QStringList installTranslations(const QString& language, const QString& dir);

// The folder of the system's translation files: "translations" beside the
// application.
CORE_EXPORT QString translationsDir();

} // namespace tq
