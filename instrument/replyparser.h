#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// Pure parsers of the analyzer's replies to the result (32), curve (60),
// status (24) and temperature (73) commands. No I/O: each takes the reply
// bytes as they came from the link.
namespace ReplyParser {

// Reply to "32%08X". The fixed part (ASCII, counted from 0):
//   0-1 echo "32", 2-3 status (hex, 0F final), 5-12 test number,
//   13-14 sample position, 15-16 item code, 17-18 dilution factor,
//   19 method letter (L optical, other magnetic bead), 20-35 test date.
// Labelled fields may stand anywhere: a GBK label, optional white space and
// four hex digits. In a final reply the measuring channel stands 8 and 7
// characters before the test-time label, the error code 5 and 4 before it.
struct TestReply
{
    bool unknownTest = false; // "32XX": the analyzer does not know the test
    bool parsed = false;      // the status field reads as a number
    int status = -1;

    bool hasTestTime = false; // "测试时间:", hundredths of a second
    int testTime = 0;
    bool hasPrewarmTime = false; // "预温时间:"
    int prewarmTime = 0;
    bool hasPrewarmTimeout = false; // "预温超时时间:"
    int prewarmTimeout = 0;

    QString channel;   // final reply: two hex digits before the test-time label
    QString errorCode; // final reply: two hex digits before the test-time label
    QString text;      // the whole reply as text

    bool isFinal() const { return parsed && status == 0x0F; }
    // Characters from..from+count-1 of the reply (shorter near the end).
    QString field(int from, int count) const { return text.mid(from, count); }
    // Hex values of channel and error code; -1 when absent or not hex.
    int channelNumber() const;
    int errorNumber() const;
};

// The analyzer's 8-bit text (GBK) as a string. Labels written in the source
// compare equal to the decoded reply.
QString decodeReply(const QByteArray& reply);

TestReply parseTestReply(const QByteArray& reply);

// Reply to "60%08X%04X%02X": an echo, then "-", the points as four hex
// digits each, "-". A point 0 ends the curve; "6000..." means no curve.
struct CurveReply
{
    bool noCurve = false;   // reply begins with "6000"
    bool parsed = false;    // a field closed by "-" with hex groups only
    bool ended = false;     // a point 0 was met: the curve is complete
    QVector<double> points; // points before the end mark
    QByteArray field;       // raw text of the point field
};

CurveReply parseCurveReply(const QByteArray& reply);

// Reply to "24": pending error codes as groups of four upper-case hex
// digits, then "Sensor-", the sensor word in hex and "-".
struct StatusReply
{
    QList<int> errorCodes;
    bool hasSensorWord = false;
    quint16 sensorWord = 0;
};

StatusReply parseStatusReply(const QByteArray& reply);

// Reply to "73": three characters, then the nine zone temperatures as
// decimal texts separated by spaces. Returns the texts, empty parts dropped.
QStringList parseTemperatureTexts(const QByteArray& reply);

// Reply to "74": "74-" and the three set points (pre-warm, test area,
// cooling) as decimal texts separated by blanks. Empty parts are dropped; a
// part that does not read as a finite number counts 0.
struct SetPointReply
{
    bool valid = false;   // begins with "74-"
    QList<double> values; // one per non-empty part, in order
};

SetPointReply parseSetPointReply(const QByteArray& reply);

// Reply to "78<item>": two characters, then per bottle its position code
// (2 characters) and fill level (2 upper-case hex digits). A group whose
// fill level is no number is left out and its bytes listed in badGroups.
struct ReagentVolume
{
    QByteArray positionCode;
    double volume = 0.0; // fraction of the bottle, 0 .. 1
};

QList<ReagentVolume> parseReagentVolumes(const QByteArray& reply, QList<QByteArray>* badGroups = nullptr);

// Reply to "4C<address><count>": two characters, then the bytes read as hex
// digits (either case), two per byte; an odd last digit is ignored. Empty
// when there is no whole byte or anything but hex digits.
QByteArray parseMemoryReply(const QByteArray& reply);

// Reply to "31...": "3111" and the number of further tests the analyzer
// takes now (2 hex; 0 when it does not read); anything else refuses.
struct PlacementReply
{
    bool accepted = false;
    int freeCount = 0;
};

PlacementReply parsePlacementReply(const QByteArray& reply);

// True when a line got no reply at all (the link is down) or Linkhub's own
// "Err:..." (the analyzer did not answer on the line): a fault of the link,
// not an answer of the analyzer.
bool isLinkFault(const QByteArray& reply);

// Reply to "32..." asked again for a test whose placing went unanswered:
// the analyzer knows the test (a "32" reply that is no error reply).
bool isKnownTest(const QByteArray& reply);

// Whether a known test's "32" reply echoes these order fields: position
// code (characters 13-14), item code (15-16, as placed: padded on the left
// with '0'), dilution factor (17-18, two decimal digits) and method letter
// (19). A test the analyzer holds under our id with other fields is not ours.
bool echoesOrder(const QByteArray& reply, const QByteArray& positionCode, const QByteArray& itemCode,
                 int dilutionFactor, char method);

// Reply to "34...": "3400C0" refuses the release.
bool isReleaseRefused(const QByteArray& reply);

// Reply to "55<module>": "5500" idle; otherwise the module's pending codes
// as groups of four upper-case hex digits from character 4 on, up to the
// first group that is none.
struct ModuleStateReply
{
    bool idle = false;
    QList<int> codes;
};

ModuleStateReply parseModuleStateReply(const QByteArray& reply);

// Reply to "/010": the analyzers' identifiers separated by commas, empty
// parts dropped.
QStringList parseAnalyzerList(const QByteArray& reply);

} // namespace ReplyParser
