#pragma once

// The handlers of the command table (simcommands.cpp), one per command or
// family of commands. Each takes the whole request line and returns the
// reply line; byte layouts are given beside each one.

#include <QByteArray>

class SimDevice;

namespace simcommands {

using Handler = QByteArray (*)(SimDevice& device, const QByteArray& request);

// Bytes echoed into fixed-position fields, kept single printable ASCII
// characters so that positions read the same in bytes and in text.
QByteArray printable(QByteArray field, int width);

// Tests and their results (simcommands_tests.cpp).
QByteArray place31(SimDevice& device, const QByteArray& request);
QByteArray result32(SimDevice& device, const QByteArray& request);
QByteArray release34(SimDevice& device, const QByteArray& request);
QByteArray manualSetUp5E(SimDevice& device, const QByteArray& request);
QByteArray manualStart5F(SimDevice& device, const QByteArray& request);
QByteArray curve60(SimDevice& device, const QByteArray& request);

// The rest of the analyzer (simcommands_device.cpp).
QByteArray status24(SimDevice& device, const QByteArray& request);
QByteArray probe(SimDevice& device, const QByteArray& request);
QByteArray poll(SimDevice& device, const QByteArray& request);
QByteArray memoryRead4C(SimDevice& device, const QByteArray& request);
QByteArray memoryWrite4D(SimDevice& device, const QByteArray& request);
QByteArray channelSwitch(SimDevice& device, const QByteArray& request);
QByteArray temperatures73(SimDevice& device, const QByteArray& request);
QByteArray setPoints74(SimDevice& device, const QByteArray& request);
QByteArray setSetPoints75(SimDevice& device, const QByteArray& request);
QByteArray reagentTable77(SimDevice& device, const QByteArray& request);
QByteArray reagentVolumes78(SimDevice& device, const QByteArray& request);
QByteArray workMode(SimDevice& device, const QByteArray& request);
QByteArray calibrateLight(SimDevice& device, const QByteArray& request);

} // namespace simcommands
