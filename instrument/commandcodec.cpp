#include "commandcodec.h"

#include <QRegularExpression>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <locale.h>

QByteArray positionCode(const QString& name)
{
    if (name.size() < 2)
        return QByteArray();
    const QChar letter = name.at(0);
    if (letter.unicode() > 0x7f || !letter.isLetter())
        return QByteArray();
    bool ok = false;
    const int number = QStringView(name).mid(1).toInt(&ok);
    if (!ok || number < 0 || number > 35)
        return QByteArray();

    char code[2];
    const char c = char(letter.unicode());
    code[0] = c < 'P' ? char(c + 1) : c;
    code[1] = number < 10 ? char('0' + number) : char('A' + number - 10);
    return QByteArray(code, 2);
}

static int base36Digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    return 0;
}

QString positionName(const QByteArray& code)
{
    if (code.size() < 2)
        return QString();
    return QString(QLatin1Char(code.at(0))) + QString::number(base36Digit(code.at(1)));
}

QByteArray volumeToHex(double x)
{
    int v = 0;
    if (!std::isnan(x)) {
        const double scaled = std::trunc(x * 255.0);
        v = scaled <= 0.0 ? 0 : scaled >= 255.0 ? 255 : int(scaled);
    }
    return QByteArray::number(v, 16).toUpper().rightJustified(2, '0');
}

double hexToVolume(const QByteArray& hex)
{
    bool ok = false;
    const uint v = hex.toUInt(&ok, 16);
    if (!ok)
        return 0.0;
    const double x = v / 255.0;
    return x > 1.0 ? 1.0 : x;
}

QByteArray reagentItemCode(const QString& name)
{
    return name.left(2).toUpper().toLatin1();
}

QByteArray zeroPadded(const QByteArray& text, int width)
{
    return text.rightJustified(width, '0');
}

bool matchesErrorReply(const QByteArray& reply)
{
    // One compiled copy per thread: replies are tested from the GUI, the
    // worker and the polling threads at the same time.
    thread_local const QRegularExpression errorReply(QStringLiteral("^(Err:|([0-9A-F]{2})?XX)"));
    return errorReply.match(QString::fromLatin1(reply)).hasMatch();
}

int hexField(const QByteArray& text, int pos, int count)
{
    if (pos < 0 || count <= 0 || count > 7 || pos + count > text.size())
        return -1;
    int value = 0;
    for (int i = pos; i < pos + count; ++i) {
        const char c = text.at(i);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return -1;
        value = value * 16 + d;
    }
    return value;
}

int vformatCommand(char* buffer, std::size_t size, const char* format, va_list args)
{
    // The process locale follows the system's once the application object
    // exists; this thread formats with the C locale for the one call only.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = cLocale ? uselocale(cLocale) : locale_t(nullptr);
    const int n = std::vsnprintf(buffer, size, format, args);
    if (previous)
        uselocale(previous);
    return n;
}

QByteArray formatCommand(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int n = vformatCommand(nullptr, 0, format, sizing);
    va_end(sizing);
    QByteArray text;
    if (n > 0) {
        text.resize(n);
        vformatCommand(text.data(), std::size_t(n) + 1, format, args);
    }
    va_end(args);
    return text;
}
