#include "worklistfile.h"

#include "core/tqglobal.h"

#include <QFile>
#include <QRegularExpression>

#include <cmath>

namespace worklistfile {

namespace {

const QString optical = QStringLiteral("光学法");
const QString bead = QStringLiteral("磁珠法");

// Splits one CSV line; false on an unterminated quote.
bool splitLine(const QString& line, QStringList* fields)
{
    fields->clear();
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            quoted = true;
            wasQuoted = true;
            field.clear();
        } else if (c == QLatin1Char(',')) {
            fields->append(wasQuoted ? field : field.trimmed());
            field.clear();
            wasQuoted = false;
        } else {
            field += c;
        }
    }
    if (quoted)
        return false;
    fields->append(wasQuoted ? field : field.trimmed());
    return true;
}

QString normalisedMethod(const QString& text, bool* ok)
{
    *ok = true;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QString();
    if (t == optical || t.compare(QLatin1String("optical"), Qt::CaseInsensitive) == 0
        || t.compare(QLatin1String("L"), Qt::CaseInsensitive) == 0)
        return optical;
    if (t == bead || t.compare(QLatin1String("bead"), Qt::CaseInsensitive) == 0
        || t.compare(QLatin1String("C"), Qt::CaseInsensitive) == 0)
        return bead;
    *ok = false;
    return QString();
}

} // namespace

QStringList samplePositions()
{
    QStringList names;
    for (const char letter : {'A', 'B'}) {
        for (int i = 1; i <= 20; ++i)
            names << QStringLiteral("%1%2").arg(QLatin1Char(letter)).arg(i);
    }
    return names;
}

bool parse(const QString& text, QList<WorklistEntry>* entries, QString* error)
{
    entries->clear();
    QString body = text;
    if (body.startsWith(QChar(0xFEFF)))
        body.remove(0, 1);
    const QStringList lines = body.split(QLatin1Char('\n'));
    const QStringList positions = samplePositions();
    static const QRegularExpression assayName(QStringLiteral("^[A-Za-z0-9]{2,}$"));
    const QStringList header = {QStringLiteral("sample"), QStringLiteral("position"), QStringLiteral("assay"),
                                QStringLiteral("dilution"), QStringLiteral("method")};
    bool haveHeader = false;
    int columns = 0;
    QList<WorklistEntry> result;

    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        const int lineNo = n + 1;
        auto fail = [&](const QString& message) {
            *error = QStringLiteral("line %1: %2").arg(lineNo).arg(message);
            return false;
        };
        QStringList fields;
        if (!splitLine(line, &fields))
            return fail(QStringLiteral("unterminated quote"));

        if (!haveHeader) {
            QStringList names;
            for (const QString& f : std::as_const(fields))
                names << f.trimmed().toLower();
            if (names != header && names != header.mid(0, 4))
                return fail(QStringLiteral("header must be \"%1\", found \"%2\"")
                                .arg(header.join(QLatin1Char(',')), line.trimmed()));
            haveHeader = true;
            columns = int(names.size());
            continue;
        }

        if (fields.size() != columns)
            return fail(QStringLiteral("%1 fields, expected %2").arg(fields.size()).arg(columns));
        WorklistEntry e;
        e.line = lineNo;
        e.sample = fields.at(0);
        e.position = fields.at(1).toUpper();
        e.assay = fields.at(2);
        e.dilution = fields.at(3).isEmpty() ? QStringLiteral("1/1") : fields.at(3);
        if (e.sample.isEmpty())
            return fail(QStringLiteral("empty sample"));
        if (!positions.contains(e.position))
            return fail(
                QStringLiteral("unknown position '%1' (sample positions are A1..A20 and B1..B20)").arg(fields.at(1)));
        if (!assayName.match(e.assay).hasMatch())
            return fail(QStringLiteral("bad assay name '%1'").arg(e.assay));
        bool ok = false;
        const double d = fraction(e.dilution, &ok);
        if (!ok || !std::isfinite(d) || !(d > 0.0) || d > 1.0)
            return fail(QStringLiteral("bad dilution '%1' (want a/b between 0 and 1, e.g. 1/2)").arg(e.dilution));
        if (columns == 5) {
            e.method = normalisedMethod(fields.at(4), &ok);
            if (!ok)
                return fail(QStringLiteral("unknown method '%1' (光学法/optical or 磁珠法/bead)").arg(fields.at(4)));
        }
        result.append(e);
    }
    if (!haveHeader) {
        *error = QStringLiteral("no header line");
        return false;
    }
    if (result.isEmpty()) {
        *error = QStringLiteral("no assays in the worklist");
        return false;
    }
    *entries = result;
    return true;
}

bool read(const QString& fileName, QList<WorklistEntry>* entries, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        return false;
    }
    QString message;
    if (!parseBytes(file.readAll(), entries, &message)) {
        *error = QStringLiteral("%1: %2").arg(fileName, message);
        return false;
    }
    return true;
}

bool parseBytes(const QByteArray& bytes, QList<WorklistEntry>* entries, QString* error)
{
    const QString text = QString::fromUtf8(bytes);
    if (text.contains(QChar::ReplacementCharacter)) {
        entries->clear();
        *error = QStringLiteral("not UTF-8 text");
        return false;
    }
    return parse(text, entries, error);
}

QList<WorklistEntry> demo(int firstSample)
{
    struct Row
    {
        int sample;
        const char* assay;
        const char* dilution;
        bool bead;
    };
    static const Row rows[] = {
        {0, "PT", "1/1", false}, {0, "APTT", "1/1", false}, {0, "TT", "1/1", true},  {0, "FIB", "1/10", false},
        {1, "PT", "1/2", true},  {1, "APTT", "1/1", true},  {1, "TT", "1/2", false}, {1, "FIB", "1/5", false},
        {2, "PT", "1/1", false}, {2, "APTT", "1/2", false}, {2, "TT", "1/1", false}, {2, "FIB", "1/10", true},
        {3, "PT", "1/4", false}, {3, "APTT", "1/1", true},  {3, "TT", "1/1", true},  {3, "FIB", "1/8", false},
    };
    QList<WorklistEntry> list;
    for (const Row& r : rows) {
        WorklistEntry e;
        e.sample = QString::number(firstSample + r.sample);
        e.position = QStringLiteral("A%1").arg(r.sample + 1);
        e.assay = QString::fromLatin1(r.assay);
        e.dilution = QString::fromLatin1(r.dilution);
        e.method = r.bead ? bead : optical;
        list.append(e);
    }
    return list;
}

} // namespace worklistfile
