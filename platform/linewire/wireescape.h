#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The one printable form of line bytes in every trace of the system: the
// driver's "vela.link" category, Linkhub's wire trace and its ring, and
// velasim's messages about a recording.
//
// Printable ASCII stays as it is, except '"' and '\', which get a
// backslash before them ('"' so that escaped bytes may stand between
// double quotes, as in the driver's  -> "request" <- "reply"). CR, LF and
// tab become \r \n \t, every other byte \xHH (upper-case hex).
QByteArray escapeBytes(QByteArrayView bytes);

// The bytes back from their printable form. Any character after a
// backslash other than r, n, t and x stands for itself, so traces written
// before '"' was escaped read the same; a \x without two hex digits, or a
// backslash at the end, is kept as it stands.
QByteArray unescapeBytes(QByteArrayView text);
