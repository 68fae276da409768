#include "sim/simcommands.h"

#include "sim/simhandlers.h"
#include "sim/simhex.h"

#include <algorithm>
#include <iterator>

namespace simcommands {

namespace {

struct Entry
{
    char code[3];
    Handler handler;
};

// Sorted by code (checked below), for the binary search in reply().
constexpr Entry table[] = {
    {"24", status24},
    {"31", place31},
    {"32", result32},
    {"34", release34},
    {"40", probe},
    {"41", probe},
    {"42", probe},
    {"43", probe},
    {"44", probe},
    {"46", probe},
    {"49", probe},
    {"4B", probe},
    {"4C", memoryRead4C},
    {"4D", memoryWrite4D},
    {"4E", probe},
    {"4F", probe},
    {"50", probe},
    {"51", probe},
    {"53", poll},
    {"54", poll},
    {"55", poll},
    {"5C", channelSwitch},
    {"5D", channelSwitch},
    {"5E", manualSetUp5E},
    {"5F", manualStart5F},
    {"60", curve60},
    {"73", temperatures73},
    {"74", setPoints74},
    {"75", setSetPoints75},
    {"77", reagentTable77},
    {"78", reagentVolumes78},
    {"FB", workMode},
    {"FD", calibrateLight},
};

constexpr bool before(const Entry& a, const Entry& b)
{
    return a.code[0] < b.code[0] || (a.code[0] == b.code[0] && a.code[1] < b.code[1]);
}

constexpr bool tableSorted()
{
    for (std::size_t i = 1; i < std::size(table); ++i)
        if (!before(table[i - 1], table[i]))
            return false;
    return true;
}
static_assert(tableSorted(), "the command table must stay sorted by code");

} // namespace

QByteArray reply(SimDevice& device, const QByteArray& request)
{
    const QByteArray code = request.left(2);
    if (code.size() == 2) {
        const Entry key{{code.at(0), code.at(1), 0}, nullptr};
        const auto it = std::lower_bound(std::begin(table), std::end(table), key, before);
        if (it != std::end(table) && !before(key, *it))
            return it->handler(device, request);
    }
    return errorReply(code);
}

QByteArray errorReply(const QByteArray& code)
{
    if (code.size() == 2 && simhex::isUpperHex(code.at(0)) && simhex::isUpperHex(code.at(1)))
        return code + "XX";
    return "XX";
}

QByteArray printable(QByteArray field, int width)
{
    field = field.left(width).rightJustified(width, '0');
    for (char& c : field)
        if (quint8(c) < 0x20 || quint8(c) > 0x7E)
            c = '?';
    return field;
}

} // namespace simcommands
