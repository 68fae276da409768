#pragma once

#include <QByteArray>
#include <QString>

#include <cstdarg>
#include <cstddef>

// Encodings of the analyzer command set. Pure functions: bytes and values in,
// bytes and values out; no link, no instrument object.

// Two-character position code of a position name such as "A1" or "Z2".
// Letters before 'P' move one letter on ('A' -> 'B', 'O' -> 'P'); 'P' and
// later stay. The number becomes one character: 0-9 as digits, 10 onward as
// 'A', 'B', ... (so "A12" -> "BC"). A name without a letter and a number
// from 0 to 35 gives empty bytes.
QByteArray positionCode(const QString& name);

// Position name of a code: the first character and the second read as a
// base-36 digit in decimal ("B1" -> "B1", "RC" -> "R12"); a character that is
// no base-36 digit counts 0. Codes shorter than two characters give an empty
// name. The letter shift of positionCode is not undone.
QString positionName(const QByteArray& code);

// Fill level (fraction of a bottle, 0 to 1) as two upper-case hexadecimal
// digits of x * 255, truncated and clamped to 00 .. FF.
QByteArray volumeToHex(double x);

// Inverse of volumeToHex: the hexadecimal value / 255, clamped to 0 .. 1;
// text that is no hexadecimal number gives 0.
double hexToVolume(const QByteArray& hex);

// Item code of a name in reagent commands: its first two characters, upper
// case ("Buffer" -> "BU").
QByteArray reagentItemCode(const QString& name);

// Text of at least width characters, padded on the left with '0' ("P" -> "0P").
QByteArray zeroPadded(const QByteArray& text, int width);

// True for an error reply of the analyzer or of the link: one matching
// "^(Err:|([0-9A-F]{2})?XX)", case-sensitive ("Err:...", "XX", "32XX").
// An empty reply is not an error reply.
bool matchesErrorReply(const QByteArray& reply);

// Value of the hexadecimal digits text[pos .. pos+count-1]; -1 when they are
// missing or not all upper-case hexadecimal digits.
int hexField(const QByteArray& text, int pos, int count);

// printf-style formatting of a command text, always with the C locale's
// digits and decimal point: the analyzer reads "37.50" whatever language the
// workstation runs in. Same contract as vsnprintf: writes at most size - 1
// characters and a terminating zero to buffer and returns the length of the
// whole text (negative on a format error).
int vformatCommand(char* buffer, std::size_t size, const char* format, va_list args);

// The whole text of a printf-style command format, with the C locale.
QByteArray formatCommand(const char* format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(1, 2);
