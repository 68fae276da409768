// velahost's worklist reader on arbitrary file bytes. What must hold: a
// failure says why and leaves no entries; every accepted entry passes the
// checks the reader promises (a known position, an assay name, a dilution
// above 0 and at most 1, a known method); and the entries written back as
// a quoted CSV file read back the same.
#include "worklistfile.h"

#include "core/tqglobal.h"

#include "fuzzcheck.h"

#include <cmath>

namespace {

QString quoted(QString field)
{
    return QLatin1Char('"') + field.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

bool isAssayName(const QString& name)
{
    if (name.size() < 2)
        return false;
    for (QChar c : name) {
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

bool sameEntries(const QList<WorklistEntry>& a, const QList<WorklistEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].sample != b[i].sample || a[i].position != b[i].position || a[i].assay != b[i].assay
            || a[i].dilution != b[i].dilution || a[i].method != b[i].method)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray bytes = fuzz::bytes(data, size);
    QList<WorklistEntry> entries;
    QString error;
    if (!worklistfile::parseBytes(bytes, &entries, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        FUZZ_CHECK(entries.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!entries.isEmpty());

    const QStringList positions = worklistfile::samplePositions();
    const int lineCount = int(bytes.count('\n')) + 1;
    int lastLine = 1;
    for (const WorklistEntry& e : entries) {
        FUZZ_CHECK(!e.sample.isEmpty());
        FUZZ_CHECK(positions.contains(e.position));
        FUZZ_CHECK(isAssayName(e.assay));
        bool ok = false;
        const double d = fraction(e.dilution, &ok);
        FUZZ_CHECK(ok && std::isfinite(d) && d > 0.0 && d <= 1.0);
        FUZZ_CHECK(e.method.isEmpty() || e.method == QStringLiteral("光学法") || e.method == QStringLiteral("磁珠法"));
        FUZZ_CHECK(e.line > lastLine && e.line <= lineCount);
        lastLine = e.line;
    }

    QString text = QStringLiteral("sample,position,assay,dilution,method\n");
    for (const WorklistEntry& e : entries) {
        text += QStringList{quoted(e.sample), quoted(e.position), quoted(e.assay), quoted(e.dilution), quoted(e.method)}
                    .join(QLatin1Char(','))
                + QLatin1Char('\n');
    }
    QList<WorklistEntry> back;
    FUZZ_CHECK(worklistfile::parseBytes(text.toUtf8(), &back, &error));
    FUZZ_CHECK(sameEntries(back, entries));
    return 0;
}
