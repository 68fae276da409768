// The service windows in each interface language: every text translated,
// none cut off, and the toolkit's own texts (standard buttons, dates) in the
// same language.

#include "rig.h"

#include "manualtest.h"
#include "navigatedialog.h"
#include "probepositionpage.h"

#include "core/uilanguage.h"

#include <tqcore/counterdialog.h>
#include <tqcore/optionframe.h>

#include <QAbstractButton>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTreeWidget>

namespace {

bool hasCjk(const QString& text)
{
    for (QChar c : text) {
        if ((c.unicode() >= 0x3000 && c.unicode() <= 0x9fff) || (c.unicode() >= 0xff00 && c.unicode() <= 0xffef))
            return true;
    }
    return false;
}

bool hasLatinLetter(const QString& text)
{
    for (QChar c : text) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))
            return true;
    }
    return false;
}

// The text a widget shows and the width it needs for it; no text: empty.
QString shownText(QWidget* w, int* needed)
{
    if (auto* label = qobject_cast<QLabel*>(w)) {
        *needed = label->wordWrap() ? 0 : label->sizeHint().width();
        return label->textFormat() == Qt::PlainText ? label->text()
                                                    : QTextDocumentFragment::fromHtml(label->text()).toPlainText();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        *needed = button->sizeHint().width();
        return button->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        *needed = group->minimumSizeHint().width();
        return group->title();
    }
    return QString();
}

// What is wrong with the visible texts of window in language.
QStringList problems(QWidget* window, const QString& language)
{
    QStringList found;
    const bool english = language == QLatin1String("en");
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : std::as_const(widgets)) {
        if (!w->isVisibleTo(window) && w != window)
            continue;
        const QString where = QStringLiteral("%1/%2").arg(window->objectName(), w->objectName());
        if (english && hasCjk(w->windowTitle()) && w->isWindow())
            found << where + QStringLiteral(" title untranslated: ") + w->windowTitle();
        int needed = 0;
        const QString text = shownText(w, &needed);
        if (text.isEmpty())
            continue;
        if (english && hasCjk(text))
            found << where + QStringLiteral(" untranslated: ") + text;
        if (w->width() < needed)
            found << where + QStringLiteral(" cut off (%1 of %2 px): ").arg(w->width()).arg(needed) + text;
        if (!english && qobject_cast<QDialogButtonBox*>(w->parentWidget()) && hasLatinLetter(text))
            found << where + QStringLiteral(" standard button not in Chinese: ") + text;
    }
    if (!english) {
        for (QDateEdit* date : window->findChildren<QDateEdit*>()) {
            if (hasLatinLetter(date->text()))
                found << window->objectName() + QStringLiteral(" date not in Chinese: ") + date->text();
        }
    }
    return found;
}

void showSmallest(QWidget* window)
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->resize(window->minimumSizeHint());
    QCoreApplication::processEvents();
}

} // namespace

class TestPageLanguages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        openSettingsInTemporaryFolder();
        // Sample numbers of the manual test are looked up here.
        QSqlQuery(Profile::instance().dataDatabase())
            .exec(QStringLiteral("create table patient (sampleNo text, date date)"));
    }
    void cleanupTestCase() { tq::installTranslations(QStringLiteral("zh_CN"), QString()); }
    void language_data();
    void language();
    void windows_data();
    void windows();
};

void TestPageLanguages::language_data()
{
    QTest::addColumn<QString>("override");
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("language");

    QTest::newRow("Chinese system") << QString() << "zh_CN"
                                    << "zh_CN";
    QTest::newRow("Taiwanese system") << QString() << "zh_TW"
                                      << "zh_CN";
    QTest::newRow("unknown system (C)") << QString() << "C"
                                        << "zh_CN";
    QTest::newRow("English system") << QString() << "en_GB"
                                    << "en";
    QTest::newRow("German system") << QString() << "de_DE"
                                   << "en";
    QTest::newRow("override English on Chinese") << "en"
                                                 << "zh_CN"
                                                 << "en";
    QTest::newRow("override Chinese on English") << "zh_CN"
                                                 << "en_US"
                                                 << "zh_CN";
    QTest::newRow("override zh") << "zh"
                                 << "de_DE"
                                 << "zh_CN";
}

void TestPageLanguages::language()
{
    QFETCH(QString, override);
    QFETCH(QString, system);
    QFETCH(QString, language);
    QCOMPARE(tq::uiLanguageFor(override, QLocale(system)), language);
}

void TestPageLanguages::windows_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << QStringLiteral("zh_CN");
    QTest::newRow("English") << QStringLiteral("en");
}

// The option pages in the host's options window, the manual test dialog,
// the adjustment dialog and the countdown, each at the smallest size its
// layout allows: no text may be cut off even there.
void TestPageLanguages::windows()
{
    QFETCH(QString, language);
    const QString dir = qEnvironmentVariable("VELA_BIN_DIR") + QStringLiteral("/translations");
    const QStringList loaded = tq::installTranslations(language, dir);
    if (language == QLatin1String("en")) {
        QVERIFY2(loaded.size() >= 3, qPrintable(QStringLiteral("translations in %1: %2").arg(dir, loaded.join(' '))));
    } else {
        QVERIFY2(loaded.size() == 1 && loaded.first().contains(QStringLiteral("qt_zh_CN")),
                 "needs Qt's own translations (Debian package qt6-translations-l10n)");
    }

    PageRig rig;
    rig.workbench->setInstrument(rig.instrument.data());
    QStringList found;

    OptionFrame frame;
    frame.setObjectName(QStringLiteral("options"));
    rig.instrument->addOptionPages(&frame);
    showSmallest(&frame);
    auto* stack = frame.findChild<QStackedWidget*>();
    QVERIFY(stack);
    for (QWidget* page : frame.pages()) {
        stack->setCurrentWidget(page);
        QCoreApplication::processEvents();
        found += problems(page, language);
    }
    for (QTreeWidgetItemIterator it(frame.tree()); *it; ++it) {
        if (language == QLatin1String("en") && hasCjk((*it)->text(0)))
            found << QStringLiteral("options tree untranslated: ") + (*it)->text(0);
    }
    const QAbstractItemView* tree = frame.tree();
    if (tree->viewport()->width() < tree->sizeHintForColumn(0))
        found << QStringLiteral("options tree titles cut off (%1 of %2 px)")
                     .arg(tree->viewport()->width())
                     .arg(tree->sizeHintForColumn(0));

    ManualTest manual(rig.workbench.data(), nullptr);
    showSmallest(&manual);
    found += problems(&manual, language);

    auto* probePage = qobject_cast<ProbePositionPage*>(frame.pages().value(2));
    QVERIFY(probePage);
    NavigateDialog navigate(probePage);
    showSmallest(&navigate);
    found += problems(&navigate, language);

    CounterDialog counter(10);
    counter.setObjectName(QStringLiteral("counter"));
    showSmallest(&counter);
    found += problems(&counter, language);

    QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestPageLanguages)
#include "tst_pagelanguages.moc"
