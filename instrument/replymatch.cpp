#include "replymatch.h"

#include "commandcodec.h"

namespace ReplyMatch {

namespace {

bool isHexText(const QByteArray& text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return !text.isEmpty();
}

bool isCommandCode(const QByteArray& code)
{
    return code.size() == 2 && isHexText(code);
}

// 60: "60" and an echo before the first "-" that names the test (and the
// first point asked for right after it).
bool answersCurve(const QByteArray& request, const QByteArray& reply)
{
    const QByteArray id = request.mid(2, 8);
    const QByteArray first = request.mid(10, 4);
    const int dash = reply.indexOf('-');
    const QByteArray head = dash < 0 ? reply : reply.left(dash);
    if (head.size() < 2 + 8 || id.size() < 8)
        return true; // too short to echo the test ("6000": no curve)
    const int at = head.indexOf(id, 2);
    if (at < 0)
        return false;
    const QByteArray echoedFirst = head.mid(at + 8, 4);
    return echoedFirst.size() < 4 || first.size() < 4 || echoedFirst == first;
}

} // namespace

bool answers(const QByteArray& request, const QByteArray& reply)
{
    const QByteArray code = request.left(2);
    // A blank line is taken: an empty analyzer list to /010, no answer to
    // the callers of an analyzer command.
    if (reply.isEmpty())
        return true;
    if (matchesErrorReply(reply)) {
        // "NNXX" carries the code of the command it refuses.
        const QByteArray echoed = reply.left(2);
        if (reply.size() >= 4 && reply.mid(2, 2) == "XX" && isCommandCode(echoed) && isCommandCode(code))
            return echoed == code;
        return true;
    }
    if (code == "31" || code == "34" || code == "55" || code == "74")
        return reply.startsWith(code);
    if (code == "32") {
        if (!reply.startsWith(code))
            return false;
        const QByteArray number = reply.mid(5, 8);
        const QByteArray asked = request.mid(2, 8);
        return asked.size() < 8 || number.size() < 8 || !isHexText(number) || number == asked;
    }
    if (code == "60")
        return reply.startsWith(code) && answersCurve(request, reply);
    return true;
}

} // namespace ReplyMatch
