// The logger at work: debugger.ini read once at start, old log files removed, and each line
// formatted safely into its bounded size and written to the three outputs.
#include "base/Logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/Text.h"
#include "platform/CodePage.h"
#include "platform/Clock.h"
#include "platform/Debug.h"
#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/UserFolder.h"

namespace {

constexpr size_t kTextSize = 256;
constexpr size_t kPatternSize = 256;
constexpr size_t kWriteLineSize = 3000;
constexpr size_t kPrintLineSize = 1000;
constexpr int kMaxRemovedPerStart = 100;

struct LoggerState {
    std::recursive_mutex lock;
    std::string sectionName;
    // Read by every call without the lock: logging that is off costs one flag test.
    std::atomic<int> debugMode{0};
    std::atomic<bool> fileOpen{false};
    int deleteOnStart = 0;
    int fileFixMode = 0;
    int logLevel = -1;
    std::string logPath;
    FILE* logFile = nullptr;
    // The kept log: open from LogInit on whatever debugger.ini says.
    std::atomic<bool> keptOpen{false};
    int keptLevel = LOG_ERROR;
    std::string keptFolder;
    FILE* keptFile = nullptr;
    size_t keptSize = 0;
};

LoggerState& State() {
    static LoggerState state;
    return state;
}

std::string ReadSetting(const std::string& iniPath, const char* key, const char* defaultValue) {
    char buffer[kTextSize] = {};
    platform::GetPrivateProfileStringA("debugger", key, defaultValue, buffer, sizeof buffer, iniPath.c_str());
    return buffer;
}

std::string Timestamp() {
    platform::SYSTEMTIME t{};
    platform::GetLocalTime(&t);
    return Format("%04d/%02d/%02d %02d:%02d:%02d:%03d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                  t.wMilliseconds);
}

std::string TodayDigits() {
    platform::SYSTEMTIME t{};
    platform::GetLocalTime(&t);
    return Format("%04d%02d%02d", t.wYear, t.wMonth, t.wDay);
}

// Seconds of a date text laid out as YYMMDDhhmmss (pairs that are not numbers count as 0),
// by the logger's own calendar formula in 32-bit arithmetic.
uint32_t SecondsOf(const std::string& text) {
    long pair[6];
    for (int i = 0; i < 6; ++i) {
        std::string two = text.size() > static_cast<size_t>(2 * i) ? text.substr(2 * i, 2) : "";
        pair[i] = atol(two.c_str());
    }
    static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int year = pair[0] < 70 ? 2000 + static_cast<int>(pair[0]) : 1900 + static_cast<int>(pair[0]);
    uint32_t days = static_cast<uint32_t>(year - 1900) * 365u;
    for (int y = 1970; y < year; ++y)
        if ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0) ++days;
    if (pair[1] >= 1 && pair[1] <= 12) days += static_cast<uint32_t>(kDaysBefore[pair[1] - 1]);
    days += static_cast<uint32_t>(pair[2]) - 25551u;
    return ((days * 24u + static_cast<uint32_t>(pair[3])) * 60u + static_cast<uint32_t>(pair[4])) * 60u +
           static_cast<uint32_t>(pair[5]);
}

// The program folder with its trailing backslash; "" when the module path cannot be read.
std::string ProgramFolder() {
    char module[kTextSize * 4] = {};
    std::string path(module, platform::GetModuleFileNameA(module, sizeof module));
    size_t slash = platform::FindLastChar(path, '\\');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// A log name without a drive or a leading backslash lies in the program folder.
std::string InFolder(const std::string& folder, const std::string& name) {
    bool absolute = (name.size() >= 2 && name[1] == ':') || (!name.empty() && name[0] == '\\');
    return absolute ? name : folder + name;
}

void RemoveOldLogFiles(const std::string& folder, uint32_t limitSeconds) {
    uint32_t today = SecondsOf((TodayDigits() + "000000").substr(2));
    int listed = 0;
    for (const platform::FindData& entry : platform::FindFiles(folder + "*.log")) {
        if (entry.name == "." || entry.name == "..") continue;
        if (++listed > kMaxRemovedPerStart) break;
        uint32_t fileSeconds = SecondsOf(entry.name.size() > 2 ? entry.name.substr(2) : "");
        if (static_cast<int32_t>(today - fileSeconds) >= static_cast<int32_t>(limitSeconds))
            (void)platform::DeleteFileA((folder + entry.name).c_str());  // tried again at the next start
    }
}

void OpenConsoleWindow(const LoggerState& state) {
    // A terminal that cannot be used as the console is simply not used.
    (void)platform::OpenConsole(Format("%s - %s", "ﾃﾞﾊﾞｯｸﾞ", state.sectionName.c_str()));
}

// The run before keeps its log; this run's starts empty.
void OpenKeptLog(LoggerState& state) {
    state.keptFolder = platform::GetUserDataFolder();
    if (state.keptFolder.empty()) return;
    const std::string current = state.keptFolder + kKeptLogName;
    const std::string previous = state.keptFolder + kPreviousKeptLogName;
    if (platform::GetFileAttributesA(current.c_str()) != platform::INVALID_FILE_ATTRIBUTES) {
        // A log that cannot be moved aside is written over: this run's lines matter more.
        (void)platform::DeleteFileA(previous.c_str());
        (void)platform::MoveFileA(current.c_str(), previous.c_str());
    }
    state.keptFile = platform::fopen(current.c_str(), "wb");
    state.keptSize = 0;
    state.keptOpen = state.keptFile != nullptr;
}

void CloseKeptLog(LoggerState& state) {
    if (state.keptFile) fclose(state.keptFile);
    state.keptFile = nullptr;
    state.keptOpen = false;
}

void KeptOutput(LoggerState& state, const std::string& text) {
    if (!state.keptFile) return;
    if (state.keptSize + text.size() > kKeptLogLimit) {
        // Started over rather than stopped: the lines before a failure are the ones wanted.
        fclose(state.keptFile);
        state.keptFile = platform::fopen((state.keptFolder + kKeptLogName).c_str(), "wb");
        static constexpr char kNote[] = "(ログが上限の大きさに達したため、それまでの行を消しました)\n";
        state.keptSize = 0;
        if (!state.keptFile) {
            state.keptOpen = false;
            return;
        }
        fputs(kNote, state.keptFile);
        state.keptSize = sizeof kNote - 1;
    }
    fputs(text.c_str(), state.keptFile);
    fflush(state.keptFile);
    state.keptSize += text.size();
}

// Writes one piece of text to the three outputs; the file reaches the disk at once.
void Output(LoggerState& state, const std::string& text) {
    platform::OutputDebugStringA(text.c_str());
    platform::WriteStdErr(text);
    if (state.logFile) {
        fputs(text.c_str(), state.logFile);
        fflush(state.logFile);
    }
}

// The caller's format is embedded in a pattern of at most kPatternSize - 1 bytes; an over-long
// format is cut before any conversion it would leave unfinished, so no missing argument is read.
std::string BuildPattern(const std::string& head, const char* format, const std::string& tail) {
    size_t room = kPatternSize - 1 > head.size() + tail.size() ? kPatternSize - 1 - head.size() - tail.size() : 0;
    return head + std::string(CutFormat(format, room)) + tail;
}

// Expands a pattern into at most lineSize - 1 bytes, cut at a character boundary; a cut
// LogWrite line keeps its line end.
std::string Expand(const std::string& pattern, size_t lineSize, bool keepLineEnd, va_list args) {
    std::string line = FormatV(pattern.c_str(), args);
    if (line.size() < lineSize) return line;
    size_t room = lineSize - 1 - (keepLineEnd ? 1 : 0);
    size_t cut = 0;
    while (cut < line.size() && cut + platform::CharLength(line, cut) <= room) cut += platform::CharLength(line, cut);
    line.resize(cut);
    if (keepLineEnd) line += '\n';
    return line;
}

void PrintV(LoggerState& state, const char* format, va_list args) {
    std::string pattern = BuildPattern(Timestamp() + ":", format, "");
    Output(state, Expand(pattern, kPrintLineSize, false, args));
}

}  // namespace

void LogInit() {
    LoggerState& state = State();
    std::lock_guard guard(state.lock);
    state.sectionName = "debugger";
    state.debugMode = 0;
    state.fileFixMode = 0;
    state.deleteOnStart = 0;
    state.logPath.clear();
    if (state.logFile) {
        fclose(state.logFile);
        state.logFile = nullptr;
        state.fileOpen = false;
    }
    CloseKeptLog(state);
    state.keptLevel = LOG_ERROR;
    OpenKeptLog(state);

    // The settings, the log and the old logs live in the program folder, which only
    // administrators can change: never in the working directory, which anyone may choose.
    const std::string folder = ProgramFolder();
    if (folder.empty()) return;
    std::string iniPath = folder + "debugger.ini";

    if (ReadSetting(iniPath, "DeleteOnStart", "No") == "Yes") state.deleteOnStart = 1;
    if (ReadSetting(iniPath, "DebugMode", "No") == "Yes") state.debugMode = 1;
    if (ReadSetting(iniPath, "ConsoleMode", "No") == "Yes" && state.debugMode) OpenConsoleWindow(state);
    if (ReadSetting(iniPath, "FileFixMode", "No") == "Yes" && state.debugMode) state.fileFixMode = 1;
    int days = atoi(ReadSetting(iniPath, "LogDays", "No").c_str());
    state.logLevel = atoi(ReadSetting(iniPath, "LogLevel", "").c_str());
    // Asked for more detail, the kept log gets it too; never less than the errors.
    if (state.debugMode && state.logLevel < LOG_ERROR) state.keptLevel = state.logLevel;
    std::string fileName = ReadSetting(iniPath, "LogFile", "");

    if (state.fileFixMode) {
        RemoveOldLogFiles(folder, static_cast<uint32_t>(days) * 86400u);
        state.logPath = InFolder(folder, TodayDigits() + fileName);
        if (state.deleteOnStart) {
            // A log that cannot be removed is written on after its old lines.
            (void)platform::DeleteFileA(state.logPath.c_str());
            (void)platform::DeleteFileA(InFolder(folder, fileName).c_str());
        }
    } else {
        state.logPath = fileName.empty() ? "" : InFolder(folder, fileName);
        if (state.deleteOnStart) (void)platform::DeleteFileA(state.logPath.c_str());  // else written on
    }

    if (state.debugMode && !state.logFile && !state.logPath.empty())
        state.logFile = platform::fopen(state.logPath.c_str(), "at");
    state.fileOpen = state.logFile != nullptr;
}

namespace {

void WriteLineV(LoggerState& state, const char* source, int level, bool job, int line, const char* format,
                va_list args) {
    if (!state.debugMode && state.fileOpen) {
        std::lock_guard guard(state.lock);
        if (state.logFile) fclose(state.logFile);
        state.logFile = nullptr;
        state.fileOpen = false;
    }
    const bool debugged = state.debugMode && level >= state.logLevel;
    if (!debugged && !state.keptOpen) return;
    std::lock_guard guard(state.lock);
    const bool kept = state.keptOpen && (job || level >= state.keptLevel);
    if (!debugged && !kept) return;
    std::string pattern =
        BuildPattern(Timestamp() + ":", format, "," + EscapePercent(source) + "," + std::to_string(line) + "\n");
    std::string text = Expand(pattern, kWriteLineSize, true, args);
    if (debugged) Output(state, text);
    if (kept) KeptOutput(state, text);
}

}  // namespace

void LogWrite(const char* source, int level, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLineV(State(), source, level, false, line, format, args);
    va_end(args);
}

void LogJobLine(const char* source, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLineV(State(), source, LOG_INFO, true, line, format, args);
    va_end(args);
}

std::string KeptLogPath() {
    std::lock_guard guard(State().lock);
    return State().keptFolder.empty() ? "" : State().keptFolder + kKeptLogName;
}

std::string PreviousKeptLogPath() {
    std::lock_guard guard(State().lock);
    return State().keptFolder.empty() ? "" : State().keptFolder + kPreviousKeptLogName;
}

void LogPrint(const char* format, ...) {
    LoggerState& state = State();
    if (!state.debugMode) return;
    std::lock_guard guard(state.lock);
    va_list args;
    va_start(args, format);
    PrintV(state, format, args);
    va_end(args);
}

void LogDump(const void* data) {
    LoggerState& state = State();
    if (!state.debugMode || data == nullptr) return;
    std::lock_guard guard(state.lock);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    LogPrint(" << %s >> ( %ld bytes )\n", "データ", 32L);
    LogPrint("ｱﾄﾞﾚｽ 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n");
    LogPrint("-----+-----------------------------------------------\n");
    for (int row = 0; row < 2; ++row) {
        LogPrint("%05X ", row * 16);
        std::string text;
        for (int i = 0; i < 16; ++i) text += Format("%02X ", bytes[row * 16 + i]);
        for (int i = 0; i < 16; ++i) {
            unsigned char c = bytes[row * 16 + i];
            text += (c >= 0x20 && c <= 0x7F) ? static_cast<char>(c) : '.';
        }
        Output(state, text + "\n");
    }
    LogPrint("-----------------------------------------------------\n");
}
