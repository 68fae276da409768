// The commands about the analyzer itself: status, arms, memory, channels,
// temperatures, reagents, work mode, light.

#include "sim/simdevice.h"
#include "sim/simhandlers.h"
#include "sim/simhex.h"

#include <QMap>

namespace simcommands {

// 24: "24 " + each error code as four hex digits and a blank + "Sensor-" +
// the sensor word in hex without leading zeros (at most two digits, so it
// never reads as a code) + "-".
QByteArray status24(SimDevice& device, const QByteArray& r)
{
    if (r.size() != 2)
        return "24XX";
    QByteArray reply = "24 ";
    for (quint16 code : device.config().statusCodes)
        reply += simhex::field(code, 4) + ' ';
    reply += "Sensor-" + QByteArray::number(device.sensorWord(), 16).toUpper() + '-';
    return reply;
}

// code(2) arm(1: 1 or 2) probe(1: 3 or 4) [suffix]: "<code>00" when taken
// on; the arm is then busy for the action's time, reported by 53/54/55.
QByteArray probe(SimDevice& device, const QByteArray& r)
{
    const QByteArray code = r.left(2);
    if (r.size() < 4 || (r.at(2) != '1' && r.at(2) != '2') || (r.at(3) != '3' && r.at(3) != '4'))
        return code + "XX";
    const QByteArray suffix = r.mid(4);
    quint32 a = 0, b = 0;
    if (code == "4B") {
        if (suffix.size() != 2 || !simhex::read(suffix, 0, 2, &a) || a == 0)
            return code + "XX";
    } else if (code == "4F") {
        if (suffix.size() != 6 || suffix.at(0) != 'X' || suffix.at(3) != 'Y' || !simhex::read(suffix, 1, 2, &a)
            || !simhex::read(suffix, 4, 2, &b))
            return code + "XX";
    } else if (!suffix.isEmpty()) {
        return code + "XX";
    }
    const int arm = r.at(2) - '1';
    if (device.armBusy(arm))
        return code + "XX"; // still busy with the previous action
    static const QMap<QByteArray, int> busyMs{
        {"40", 30000},  {"41", 40000}, {"42", 10000}, {"43", 30000}, {"44", 10000}, {"46", 10000},
        {"49", 150000}, {"4B", 15000}, {"4E", 5000},  {"4F", 0},     {"50", 3000},  {"51", 6000},
    };
    device.occupyArm(arm, busyMs.value(code));
    return code + "00";
}

// 53/54/55 + arm (module) 1 or 2: "<code>00" idle, "<code>01" + "0000"
// while busy (code 0 = no fault to report).
QByteArray poll(SimDevice& device, const QByteArray& r)
{
    const QByteArray code = r.left(2);
    if (r.size() != 3 || (r.at(2) != '1' && r.at(2) != '2'))
        return code + "XX";
    return device.armBusy(r.at(2) - '1') ? code + "010000" : code + "00";
}

// 4C addr(4) count(2, 1..64): "4C" + the bytes in upper-case hex, clipped
// at the end of memory.
QByteArray memoryRead4C(SimDevice& device, const QByteArray& r)
{
    quint32 address = 0, count = 0;
    if (r.size() != 8 || !simhex::read(r, 2, 4, &address) || !simhex::read(r, 6, 2, &count) || count < 1 || count > 64)
        return "4CXX";
    return "4C" + device.memory().read(int(address), int(count)).toHex().toUpper();
}

// 4D addr(4) count(2, 1..64) data(2 x count hex): "4D00".
QByteArray memoryWrite4D(SimDevice& device, const QByteArray& r)
{
    quint32 address = 0, count = 0;
    if (r.size() < 8 || !simhex::read(r, 2, 4, &address) || !simhex::read(r, 6, 2, &count) || count < 1 || count > 64
        || r.size() != 8 + 2 * int(count))
        return "4DXX";
    QByteArray data;
    for (int i = 0; i < int(count); ++i) {
        quint32 byte = 0;
        if (!simhex::read(r, 8 + 2 * i, 2, &byte))
            return "4DXX";
        data += char(byte);
    }
    if (!device.memory().write(int(address), data))
        return "4DXX";
    return "4D00";
}

// 5C/5D channel(1 hex digit, 1..A): "5C00"/"5D00" (enable/disable).
QByteArray channelSwitch(SimDevice& device, const QByteArray& r)
{
    const QByteArray code = r.left(2);
    quint32 channel = 0;
    if (r.size() != 3 || !simhex::read(r, 2, 1, &channel) || channel < 1 || channel > SimDevice::channelCount)
        return code + "XX";
    device.setChannelEnabled(int(channel), code == "5C");
    return code + "00";
}

// 73: "73 " + nine temperatures with one decimal, blank separated.
QByteArray temperatures73(SimDevice& device, const QByteArray& r)
{
    if (r.size() != 2)
        return "73XX";
    const QVector<double> v = device.temperatures();
    QByteArray reply = "73 ";
    for (int i = 0; i < v.size(); ++i) {
        if (i)
            reply += ' ';
        reply += QByteArray::number(v.at(i), 'f', 1);
    }
    return reply;
}

// 74: "74-" + the three set points (pre-warm, test area, cooling) with two
// decimals, blank separated.
QByteArray setPoints74(SimDevice& device, const QByteArray& r)
{
    if (r.size() != 2)
        return "74XX";
    return "74-" + QByteArray::number(device.setPoint(0), 'f', 2) + ' ' + QByteArray::number(device.setPoint(1), 'f', 2)
           + ' ' + QByteArray::number(device.setPoint(2), 'f', 2);
}

// 75 three decimal numbers, blank separated (fields may be blank padded):
// "7500"; "75XX" when unreadable or outside what the heaters and the cooler
// reach (pre-warm and test 20..45, cooling 2..30).
QByteArray setSetPoints75(SimDevice& device, const QByteArray& r)
{
    const QList<QByteArray> parts = r.mid(2).simplified().split(' ');
    if (parts.size() != 3)
        return "75XX";
    double v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        v[i] = parts.at(i).toDouble(&ok);
        if (!ok)
            return "75XX";
    }
    if (v[0] < 20 || v[0] > 45 || v[1] < 20 || v[1] > 45 || v[2] < 2 || v[2] > 30)
        return "75XX";
    device.setSetPoints(v[0], v[1], v[2]);
    return "7500";
}

// 77 item(2) then pairs of position code(2) and volume(2 hex): "7700". The
// table replaces what was known for that item.
QByteArray reagentTable77(SimDevice& device, const QByteArray& r)
{
    if (r.size() < 4 || (r.size() - 4) % 4 != 0)
        return "77XX";
    QList<SimBottle> bottles;
    for (int i = 4; i < r.size(); i += 4) {
        quint32 volume = 0;
        if (!simhex::read(r, i + 2, 2, &volume))
            return "77XX";
        bottles << SimBottle{r.mid(i, 2), int(volume)};
    }
    device.setBottles(r.mid(2, 2), bottles);
    return "7700";
}

// 78 item(2): "78" + pairs of position code(2) and volume(2 hex); "78XX"
// for an item the table does not hold.
QByteArray reagentVolumes78(SimDevice& device, const QByteArray& r)
{
    if (r.size() != 4)
        return "78XX";
    const QList<SimBottle>* bottles = device.bottles(r.mid(2, 2));
    if (!bottles)
        return "78XX";
    QByteArray reply = "78";
    for (const SimBottle& b : *bottles)
        reply += printable(b.position, 2) + simhex::field(quint32(b.volume), 2);
    return reply;
}

// FB0 simulation mode (nothing is used up), FB1 normal work: "FB00"/"FB10".
QByteArray workMode(SimDevice& device, const QByteArray& r)
{
    if (r == "FB0" || r == "FB1") {
        device.setSimulationMode(r == "FB0");
        return r + '0';
    }
    return "FBXX";
}

// FD: "FD00"; no cup goes onto a channel while the light is calibrated.
QByteArray calibrateLight(SimDevice& device, const QByteArray& r)
{
    if (r != "FD")
        return "FDXX";
    device.calibrateLight();
    return "FD00";
}

} // namespace simcommands
