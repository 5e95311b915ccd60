// Transcript lines stamped and written one by one.
#include "ui/script/Transcript.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/Clock.h"
#include "platform/CodePage.h"

namespace ui {
namespace {

// The transcript is UTF-8 with LF line ends on every system; its path is native (UTF-8), which
// the standard library takes as the system code page unless told.
std::ofstream OpenTranscript(const std::string& path, std::ios::openmode mode) {
    return std::ofstream(std::filesystem::path(std::u8string(path.begin(), path.end())), mode | std::ios::binary);
}

}  // namespace

Transcript::Transcript(std::string path) : path_(std::move(path)), start_(platform::GetTickCount64()) {
    if (!path_.empty()) OpenTranscript(path_, std::ios::trunc);
}

void Transcript::Note(const std::string& utf8) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", static_cast<double>(platform::GetTickCount64() - start_) / 1000.0);
    std::lock_guard guard(lock_);
    lines_.push_back(stamp + utf8);
    // Opened and closed for each line: nothing waits in a buffer when the process ends.
    if (!path_.empty()) OpenTranscript(path_, std::ios::app) << lines_.back() << '\n';
}

std::vector<std::string> Transcript::Lines() {
    std::lock_guard guard(lock_);
    return lines_;
}

std::string TranscriptText(const std::string& cp932) {
    std::string utf8 = platform::Cp932ToUtf8(cp932).value_or("(not CP932)");
    std::string shown;
    for (char c : utf8) {
        if (c == '\r') continue;
        if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return shown;
}

}  // namespace ui
