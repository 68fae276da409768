// The English translation files against the sources as they are now.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

QList<Message> readTs(const QString& file, QString* error)
{
    QList<Message> messages;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return messages;
    }
    QXmlStreamReader xml(&f);
    QString context;
    Message m;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            m = Message{context, {}, {}, {}};
        } else if (xml.name() == QLatin1String("source")) {
            m.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            m.type = xml.attributes().value(QLatin1String("type")).toString();
            m.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            messages.append(m);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

// The %1 .. %99 placeholders of a text, sorted.
QStringList placeholders(const QString& text)
{
    static const QRegularExpression marker(QStringLiteral("%L?\\d{1,2}"));
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found.append(it.next().captured().remove(QLatin1Char('L')));
    found.sort();
    return found;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void englishComplete_data();
    void englishComplete();
};

void TestTranslations::englishComplete_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("folder");
    const QStringList entries = QStringLiteral(VELA_TRANSLATION_DOMAINS).split(QLatin1Char(','), Qt::SkipEmptyParts);
    QVERIFY(!entries.isEmpty());
    for (const QString& entry : entries) {
        const QStringList pair = entry.split(QLatin1Char('='));
        QTest::newRow(qPrintable(pair.value(0))) << pair.value(0) << pair.value(1);
    }
}

// The domain's .ts, brought up to date with the sources in a scratch copy,
// holds a finished translation, with the same placeholders, of every text.
void TestTranslations::englishComplete()
{
    QFETCH(QString, domain);
    QFETCH(QString, folder);
    const QString root = QStringLiteral(VELA_SOURCE_DIR);
    const QString ts = root + QStringLiteral("/translations/") + domain + QStringLiteral("_en.ts");
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString copy = scratch.filePath(domain + QStringLiteral("_en.ts"));
    QVERIFY2(QFile::copy(ts, copy), qPrintable(ts));

    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(VELA_LUPDATE),
                  {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                   QStringLiteral("-no-obsolete"), QStringLiteral("-I"), root, QStringLiteral("-I"),
                   root + QStringLiteral("/platform"), root + QLatin1Char('/') + folder, QStringLiteral("-ts"), copy});
    QVERIFY2(lupdate.waitForFinished(90000), "lupdate did not finish");
    QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

    QString error;
    const QList<Message> messages = readTs(copy, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!messages.isEmpty());
    QStringList untranslated;
    for (const Message& m : messages) {
        if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete"))
            continue;
        if (m.type == QLatin1String("unfinished") || m.translation.isEmpty())
            untranslated << QStringLiteral("%1: \"%2\"").arg(m.context, m.source);
        else if (placeholders(m.source) != placeholders(m.translation))
            untranslated
                << QStringLiteral("%1: \"%2\" -> \"%3\" (placeholders differ)").arg(m.context, m.source, m.translation);
    }
    QVERIFY2(untranslated.isEmpty(),
             qPrintable(QStringLiteral("%1 text(s) without a finished English translation (run the "
                                       "update_translations target, then translate in %2):\n")
                            .arg(untranslated.size())
                            .arg(ts)
                        + untranslated.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
