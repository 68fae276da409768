#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// Wire trace of the link to Linkhub. Every exchange is logged at debug level
// under "vela.link" as
//     -> "request" <- "reply" (N ms)
// with the bytes escaped; off by default, switched on in the field with
// QT_LOGGING_RULES="vela.link.debug=true". Failures of the link are logged
// as warnings under the same category.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// Printable form of raw line bytes: printable ASCII as it stands, '"' and
// '\' escaped with a backslash, CR, LF and TAB as \r \n \t, every other byte
// as \xHH.
QString escapeBytes(const QByteArray& bytes);
