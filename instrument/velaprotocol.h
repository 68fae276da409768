#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdarg>

// Every line the driver sends: the analyzer's commands and Linkhub's control
// lines, each built from typed arguments. Pure functions, no link; numbers
// are written with the C locale's digits whatever language the workstation
// runs in. Replies are read by ReplyParser.
namespace VelaProtocol {

// ---- Linkhub control lines: "/" and a two-digit code ----
QByteArray usePort(const QByteArray& port);      // "/00<port>"
QByteArray listAnalyzers();                      // "/010"
QByteArray selectAnalyzer(const QByteArray& id); // "/02<id>"

// ---- tests ----
// Method letter of a test: C magnetic bead ("磁珠法"), L optical otherwise.
char methodLetter(const QString& method);
// 31: test id (8 hex), sample position code and item code (2 each, a shorter
// one padded on the left with '0'), dilution factor (2 decimal), method.
QByteArray placeTest(quint32 id, const QByteArray& positionCode, const QByteArray& itemCode, int dilutionFactor,
                     char method);
QByteArray queryTest(quint32 id);   // 32: progress or result
QByteArray releaseTest(quint32 id); // 34: cancel or release
// 60: test id (8 hex), first point (4 hex), points asked for (2 hex).
constexpr int curvePointsPerCommand = 55;
QByteArray readCurve(quint32 id, int firstPoint, int count = curvePointsPerCommand);

// ---- analyzer memory: 16-bit address, 1 to 64 bytes ----
QByteArray readMemory(quint16 address, int count);                // 4C address count
QByteArray writeMemory(quint16 address, const QByteArray& bytes); // 4D address count hex

// ---- modules ----
// 51 and an action code in two hex digits (13, 23, 24 are those the driver
// runs), 55 and a module number in hex.
QByteArray moduleAction(int action);
QByteArray moduleState(int module);

// ---- measuring channels 1..10 (10 is "A") ----
QByteArray switchChannel(int channel, bool on); // 5C enable, 5D disable

// ---- manual test ----
// 5E: channel (hex), test id (8 hex), sample position, item code, dilution
// factor (its low 8 bits as 2 hex), method letter.
QByteArray setUpManualTest(int channel, quint32 id, const QByteArray& position, const QByteArray& itemCode,
                           int dilutionFactor, char method);
QByteArray startManualTest(int channel); // 5F channel

// ---- monitoring and temperatures ----
QByteArray readStatus();       // 24
QByteArray readTemperatures(); // 73
QByteArray readSetPoints();    // 74
// 75: pre-warm, test area and cooling set points, each "%5.2f", blank-separated.
QByteArray writeSetPoints(double prewarm, double testArea, double cooling);

// ---- reagents ----
struct ReagentBottle
{
    QString position;    // position name, such as "R1"
    double volume = 0.0; // fraction of the bottle, 0 .. 1
};
// The text of a 77 line: the reagent's item code, then per bottle its
// position code and fill level ("PTR17FR2FF").
QByteArray reagentTableText(const QString& reagent, const QList<ReagentBottle>& bottles);
QByteArray reagentTable(const QString& reagent, const QList<ReagentBottle>& bottles); // 77 text
QByteArray readReagentVolumes(const QString& reagent);                                // 78 item code

// ---- work mode and service ----
QByteArray workMode(bool simulation); // FB0 simulation, FB1 normal work
QByteArray calibrateLight();          // FD

// ---- probes ----
// A probe step: position code (2 hex), arm digit, probe digit and a suffix.
QByteArray probeStep(int code, char arm, char probe, const QByteArray& suffix = QByteArray());
// Suffixes: a relative move, each offset's low 8 bits as 2 hex ("X14YEC");
// a dispense volume's low 8 bits as 2 hex.
QByteArray probeOffset(int dx, int dy);
QByteArray probeVolume(int volume);
// A suffix printed from a caller's printf-style format, cut to 31 characters.
constexpr int maxProbeSuffix = 31;
QByteArray probeSuffix(const char* format, va_list args);
// Completion poll of a probe step: poll code (2 hex) and arm digit; the
// reply that says done begins with the poll code and "00".
QByteArray probePoll(int pollCode, char arm);
bool isProbeDone(const QByteArray& reply, int pollCode);

} // namespace VelaProtocol
