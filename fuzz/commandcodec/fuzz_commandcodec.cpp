// Position names, fill levels and hex fields as the driver reads them from
// replies. Input: one selector byte, then the bytes to read.
//   positionName: the code's first character and a number 0 .. 35; codes the
//     analyzer sends for positions from "P" on map back through positionCode.
//   hexToVolume: always 0 .. 1, and two hex digits come back unchanged
//     through volumeToHex.
//   hexField: -1 or the value of exactly the digits asked for.
#include "instrument/commandcodec.h"

#include "fuzzcheck.h"

#include <cmath>
#include <cstring>

namespace {

int base36(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    return -1;
}

void checkPositionName(const QByteArray& code)
{
    const QString name = positionName(code);
    if (code.size() < 2) {
        FUZZ_CHECK(name.isEmpty());
        return;
    }
    FUZZ_CHECK(name.size() >= 2 && name.size() <= 3);
    FUZZ_CHECK(name.at(0) == QLatin1Char(code.at(0)));
    bool ok = false;
    const int number = name.mid(1).toInt(&ok);
    FUZZ_CHECK(ok && number >= 0 && number <= 35 && name.mid(1) == QString::number(number));
    const int digit = base36(code.at(1));
    FUZZ_CHECK(number == (digit < 0 ? 0 : digit));
    // Letters from 'P' on keep their place in a position code.
    const char letter = code.at(0);
    if (((letter >= 'P' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) && digit >= 0
        && !(code.at(1) >= 'a' && code.at(1) <= 'z'))
        FUZZ_CHECK(positionCode(name) == code.left(2));
}

void checkVolume(const QByteArray& hex)
{
    const double v = hexToVolume(hex);
    FUZZ_CHECK(v >= 0.0 && v <= 1.0);
    if (hex.size() == 2 && fuzz::hexValue(QString::fromLatin1(hex)) >= 0)
        FUZZ_CHECK(volumeToHex(v) == hex.toUpper());
    double x = 0.0;
    if (hex.size() >= qsizetype(sizeof x)) {
        std::memcpy(&x, hex.constData(), sizeof x);
        const QByteArray back = volumeToHex(x);
        FUZZ_CHECK(back.size() == 2 && fuzz::hexValue(QString::fromLatin1(back)) >= 0 && back == back.toUpper());
    }
}

void checkHexField(const QByteArray& text, int pos, int count)
{
    const int v = hexField(text, pos, count);
    const bool inside = pos >= 0 && count > 0 && count <= 7 && pos + count <= text.size();
    if (!inside) {
        FUZZ_CHECK(v == -1);
        return;
    }
    const QByteArray digits = text.mid(pos, count);
    const bool upper = std::all_of(digits.begin(), digits.end(),
                                   [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
    FUZZ_CHECK(v == (upper ? digits.toInt(nullptr, 16) : -1));
    FUZZ_CHECK(v < (1 << (4 * count)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    if (size < 1)
        return 0;
    const QByteArray rest = fuzz::bytes(data + 1, size - 1);
    checkPositionName(rest);
    checkVolume(rest);
    const int pos = int(int8_t(data[0])) >> 1;
    checkHexField(rest, pos, (data[0] & 7) + (data[0] & 0x80 ? 1 : 0));
    // A position name the host gives maps to a two-character code or none.
    const QByteArray code = positionCode(QString::fromUtf8(rest));
    FUZZ_CHECK(code.isEmpty() || code.size() == 2);
    return 0;
}
