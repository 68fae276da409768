#include "core/uilanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace tq {

QString uiLanguageFor(const QString& override, const QLocale& system)
{
    const QLocale locale = override.isEmpty() ? system : QLocale(override);
    switch (locale.language()) {
    case QLocale::AnyLanguage:
    case QLocale::C:
    case QLocale::Chinese: return QStringLiteral("zh_CN");
    default: return QStringLiteral("en");
    }
}

QString uiLanguage()
{
    return uiLanguageFor(qEnvironmentVariable("VELA_LANG"), QLocale::system());
}

QString translationsDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
}

QStringList installTranslations(const QString& language, const QString& dir)
{
    // The translators of the previous call, replaced by this one's.
    static QList<QPointer<QTranslator>> installed;
    for (const QPointer<QTranslator>& t : std::as_const(installed)) {
        if (t) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
    installed.clear();

    QStringList loaded;
    auto install = [&loaded](const QString& name, const QString& folder) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(name, folder) && QCoreApplication::installTranslator(translator)) {
            loaded.append(translator->filePath());
            installed.append(translator);
            return;
        }
        delete translator;
    };

    const QLocale locale(language);
    QLocale::setDefault(QLocale::system().language() == locale.language() ? QLocale::system() : locale);

    // Qt's own texts are English: only other languages need them.
    if (locale.language() != QLocale::English)
        install(QStringLiteral("qt_") + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath));

    const QString suffix = QLatin1Char('_') + language + QStringLiteral(".qm");
    const QStringList files = QDir(dir).entryList({QLatin1Char('*') + suffix}, QDir::Files, QDir::Name);
    for (const QString& file : files)
        install(file, dir);
    return loaded;
}

} // namespace tq
