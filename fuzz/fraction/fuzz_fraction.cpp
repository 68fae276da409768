// fraction() on arbitrary text (as UTF-8, the way worklists and settings
// reach it). What must hold: it finds the first place where a signed
// decimal number, optional blanks, ':' or '/', optional blanks and a second
// signed decimal number stand, and returns the ratio of those two numbers as
// the C library reads them; with no such place, 0.0 and the flag false.
// The expected match is found by a scanner written apart from the
// regular expression.
#include "core/tqglobal.h"

#include "fuzzcheck.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isBlank(QChar c)
{
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// A signed decimal number at i: [+-]?digits(.digits*)?; its end, or -1.
int numberEnd(const QString& s, int i)
{
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    const int digits = i;
    while (i < s.size() && isDigit(s.at(i)))
        ++i;
    if (i == digits)
        return -1;
    if (i < s.size() && s.at(i) == u'.') {
        ++i;
        while (i < s.size() && isDigit(s.at(i)))
            ++i;
    }
    return i;
}

struct Match
{
    QString first, second;
};

bool findRatio(const QString& s, Match* m)
{
    for (int start = 0; start < s.size(); ++start) {
        int end = numberEnd(s, start);
        if (end < 0)
            continue;
        // The fraction part is optional: "1./2" reads "1." and "/2".
        for (int firstEnd : {end, s.lastIndexOf(u'.', end - 1) >= start ? int(s.lastIndexOf(u'.', end - 1)) : -1}) {
            if (firstEnd < 0)
                continue;
            int i = firstEnd;
            while (i < s.size() && isBlank(s.at(i)))
                ++i;
            if (i >= s.size() || (s.at(i) != u':' && s.at(i) != u'/'))
                continue;
            ++i;
            while (i < s.size() && isBlank(s.at(i)))
                ++i;
            const int secondEnd = numberEnd(s, i);
            if (secondEnd < 0)
                continue;
            m->first = s.mid(start, firstEnd - start);
            m->second = s.mid(i, secondEnd - i);
            return true;
        }
    }
    return false;
}

double cRead(const QString& number, bool* range)
{
    const QByteArray text = number.toLatin1();
    errno = 0;
    const double v = std::strtod(text.constData(), nullptr);
    if (errno == ERANGE)
        *range = true;
    return v;
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    static const bool cLocale = (std::setlocale(LC_NUMERIC, "C"), true);
    Q_UNUSED(cLocale);
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));

    bool ok = true;
    const double value = fraction(text, &ok);
    FUZZ_CHECK(same(value, fraction(text)));
    Match m;
    FUZZ_CHECK(ok == findRatio(text, &m));
    if (!ok) {
        FUZZ_CHECK(value == 0.0 && !std::signbit(value));
        return 0;
    }
    bool range = false;
    const double expected = cRead(m.first, &range) / cRead(m.second, &range);
    if (!range)
        FUZZ_CHECK(same(value, expected));
    return 0;
}
