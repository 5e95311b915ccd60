// The diagnostic logger: off unless debugger.ini in the program folder switches it on; then
// each line goes to the debugger channel, the standard error stream and a log file (a name
// without a drive lies in the program folder). Beside it, a kept log is always written in the
// user's data folder (Veltrane.log, and Veltrane.prev.log from the run before, each bounded):
// errors and the jobs' start and end lines, or as much as debugger.ini asks for.
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
// A job's start or end: written where a LOG_INFO line goes, and always to the kept log.
void LogJobLine(const char* source, int line, const char* format, ...) VELTRANE_PRINTF(3, 4);

// The kept logs, as Windows paths ("" while there is no user data folder).
constexpr char kKeptLogName[] = "Veltrane.log";
constexpr char kPreviousKeptLogName[] = "Veltrane.prev.log";
// A kept log that would pass this size starts over with a note: the newest lines are the ones
// a support report needs.
constexpr size_t kKeptLogLimit = 2u * 1024u * 1024u;
std::string KeptLogPath();
std::string PreviousKeptLogPath();

// Each source file names itself once (static constexpr char kLogSource[] = ".\\Common";)
// and logs through this macro, which adds the line number.
#define VLOG(level, ...) LogWrite(kLogSource, (level), __LINE__, __VA_ARGS__)
#define VLOG_JOB(...) LogJobLine(kLogSource, __LINE__, __VA_ARGS__)
