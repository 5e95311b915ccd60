// The debugger channel as syslog, and the console as the terminal behind the standard error
// stream (titled, cleared); CP932 text leaves as UTF-8.
#include "platform/Debug.h"

#include <cstdio>
#include <string>
#include <syslog.h>
#include <unistd.h>

#include "platform/CodePage.h"

namespace platform {
namespace {

std::string ForTerminal(std::string_view cp932) {
    auto utf8 = Cp932ToUtf8(cp932);
    return utf8 ? *utf8 : std::string(cp932);
}

}  // namespace

void OutputDebugStringA(const char* text) {
    if (text == nullptr) return;
    syslog(LOG_USER | LOG_DEBUG, "%s", ForTerminal(text).c_str());
}

void WriteStdErr(std::string_view cp932) {
    std::string text = ForTerminal(cp932);
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
}

bool OpenConsole(std::string_view cp932Title) {
    if (!::isatty(STDERR_FILENO)) return false;
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    std::string title = ForTerminal(cp932Title);
    fprintf(stderr, "\033]0;%s\007\033[?25l\033[30;47m\033[2J\033[H", title.c_str());
    return true;
}

}  // namespace platform
