#pragma once

#include "platform/linewire/wireescape.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// Wire trace of the link to Linkhub. Every exchange is logged at debug level
// under "vela.link" as
//     -> "request" <- "reply" (N ms)
// with the bytes escaped by escapeBytes() (wireescape.h), the form every
// trace of the system uses; off by default, switched on in the field with
// QT_LOGGING_RULES="vela.link.debug=true". Failures of the link are logged
// as warnings under the same category.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
