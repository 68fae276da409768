#pragma once

#include <QtCore/qglobal.h>

#if defined(TQCORE_LIBRARY)
#define TQCORE_EXPORT Q_DECL_EXPORT
#else
#define TQCORE_EXPORT Q_DECL_IMPORT
#endif
