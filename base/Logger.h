// The diagnostic logger: off unless debugger.ini in the program folder switches it on; then
// each line goes to the debugger channel, the standard error stream and a log file (a name
// without a drive lies in the program folder).
#pragma once

#include "base/Text.h"

constexpr int LOG_TRACE = 2;
constexpr int LOG_INFO = 3;
constexpr int LOG_ERROR = 4;
constexpr int LOG_EXCEPTION = 5;

void LogInit();
void LogWrite(const char* source, int level, int line, const char* format, ...) VELTRANE_PRINTF(4, 5);
void LogPrint(const char* format, ...) VELTRANE_PRINTF(1, 2);
void LogDump(const void* data);

// Each source file names itself once (static constexpr char kLogSource[] = ".\\Common";)
// and logs through this macro, which adds the line number.
#define VLOG(level, ...) LogWrite(kLogSource, (level), __LINE__, __VA_ARGS__)
