// A console speaks one language: every program's command-line help and
// errors, Qt's words in them and our own, are English in any locale.

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "testtime.h"

namespace {

// The languages a text shows: "zh" for any Chinese character or full-width
// punctuation, "en" for Qt's English words of the command line.
QStringList languagesIn(const QString& text)
{
    QStringList languages;
    static const QRegularExpression chinese(
        QStringLiteral("[\\x{3000}-\\x{303f}\\x{3400}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    static const QRegularExpression english(
        QStringLiteral("\\b(Usage|Options|Arguments|Displays help|Unknown option)\\b"));
    if (english.match(text).hasMatch())
        languages << QStringLiteral("en");
    if (chinese.match(text).hasMatch())
        languages << QStringLiteral("zh");
    return languages;
}

} // namespace

class tst_ConsoleLanguage : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
};

void tst_ConsoleLanguage::commandLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("lang"); // LANG; LC_ALL and VELA_LANG unset
    QTest::addColumn<int>("exitCode");

    const struct
    {
        const char* name;
        const char* path;
    } programs[] = {
        {"velahost", VELAHOST_PROGRAM},
        {"Linkhub", LINKHUB_PROGRAM},
        {"velasim", VELASIM_PROGRAM},
        {"dbupdate", DBUPDATE_PROGRAM},
    };
    const char* const locales[] = {"C", "zh_CN.UTF-8", "en_US.UTF-8"};
    for (const char* lang : locales) {
        for (const auto& p : programs)
            QTest::addRow("%s --help, LANG=%s", p.name, lang)
                << QString::fromLocal8Bit(p.path) << QStringList{QStringLiteral("--help")} << QString::fromLatin1(lang)
                << 0;
        // Its windows follow the locale; its command line does not.
        QTest::addRow("velahost service --help, LANG=%s", lang)
            << QStringLiteral(VELAHOST_PROGRAM) << QStringList{QStringLiteral("service"), QStringLiteral("--help")}
            << QString::fromLatin1(lang) << 0;
        QTest::addRow("velahost unknown option, LANG=%s", lang)
            << QStringLiteral(VELAHOST_PROGRAM) << QStringList{QStringLiteral("--no-such-option")}
            << QString::fromLatin1(lang) << 1;
    }
}

void tst_ConsoleLanguage::commandLine()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, lang);
    QFETCH(int, exitCode);

    QTemporaryDir dir; // as working folder: dbupdate's help must change nothing there either
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "VELA_LANG"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LANG"), lang);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    QVERIFY2(process.waitForFinished(testsupport::scaled(30000)), qPrintable(program));
    const QString output = QString::fromUtf8(process.readAll());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode, qPrintable(output));
    QVERIFY2(languagesIn(output) == QStringList{QStringLiteral("en")}, qPrintable(output));
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

QTEST_GUILESS_MAIN(tst_ConsoleLanguage)
#include "tst_consolelanguage.moc"
