#pragma once

#include <QtGlobal>

#include <cstdio>

// The open log file, or null while messages go to standard error.
extern std::FILE* logFile;

// Writes each message as one line "Debug: ...", "Warning: ...",
// "Critical: ..." or "Fatal: ..." into the log file; a fatal message then
// aborts the process. Other message types are dropped.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);
