#include "linktrace.h"

Q_LOGGING_CATEGORY(lcLink, "vela.link", QtInfoMsg)
