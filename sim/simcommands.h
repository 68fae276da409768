#pragma once

#include <QByteArray>

class SimDevice;

// The analyzer's command lines. A request goes to the handler its
// two-character code names (simcommands.cpp holds the table); the handler
// reads the fields, asks or changes the device model and builds the reply.
namespace simcommands {

// The reply line (without CR LF) to one request line.
QByteArray reply(SimDevice& device, const QByteArray& request);

// "<code>XX", or "XX" when the code is not two upper-case hex digits.
QByteArray errorReply(const QByteArray& code);

} // namespace simcommands
