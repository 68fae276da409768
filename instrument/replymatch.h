#pragma once

#include <QByteArray>

// Whether a line read from the link can be the reply to the request that is
// waiting for it. Pure function: the talk thread uses it to tell a stray
// line (a repeated frame, a reply that came after its request had given up)
// from the reply it waits for.
//
// Only what the analyzer's replies are known to echo is compared:
//   31, 34, 55, 74   the reply begins with the command code ("3111", "3400",
//                    "5500", "74-");
//   32               the code, and the test number in characters 5-12 when
//                    they hold eight hexadecimal digits;
//   60               the code, and the test number (and the first point
//                    after it) in the echo before the first "-".
// An error reply is taken as it is ("Err:...", "XX"), except one that
// echoes another command's code ("31XX" while a 32 waits); so is a blank
// line. The talk thread reports a blank line as a line that came: Linkhub
// answers /010 with one when it finds no analyzer, while the callers of an
// analyzer command, which never has a blank answer, read it as none. Every
// other request, the Linkhub control lines among them, takes the next line.
namespace ReplyMatch {

bool answers(const QByteArray& request, const QByteArray& reply);

} // namespace ReplyMatch
