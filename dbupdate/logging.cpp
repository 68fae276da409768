#include "logging.h"

#include <QString>

#include <cstdlib>

std::FILE* logFile = nullptr;

void logMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    const char* format = nullptr;
    switch (type) {
    case QtDebugMsg: format = "Debug: %s\n"; break;
    case QtWarningMsg: format = "Warning: %s\n"; break;
    case QtCriticalMsg: format = "Critical: %s\n"; break;
    case QtFatalMsg: format = "Fatal: %s\n"; break;
    default: return;
    }
    if (logFile)
        std::fprintf(logFile, format, text.toLocal8Bit().constData());
    if (type == QtFatalMsg)
        std::abort();
}
