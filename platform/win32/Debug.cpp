// The debugger channel as OutputDebugStringW, and the console the logger opens for a program of
// the Windows subsystem; text written to a pipe or file goes out as UTF-8.
#include "platform/Debug.h"

#include <cstdio>
#include <string>

#include "platform/CodePage.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

HANDLE console = nullptr;  // the console OpenConsole opened; the logger writes its lines there

std::wstring WideText(std::string_view cp932) {
    auto utf16 = Cp932ToUtf16(cp932);
    if (utf16) return std::wstring(utf16->begin(), utf16->end());
    return std::wstring(cp932.begin(), cp932.end());  // not CP932: show the bytes as they are
}

}  // namespace

void OutputDebugStringA(const char* text) {
    if (text != nullptr) ::OutputDebugStringW(WideText(text).c_str());
}

void WriteStdErr(std::string_view cp932) {
    const std::wstring text = WideText(cp932);
    DWORD written = 0;
    if (console != nullptr && ::WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return;
    // Not a console (a pipe or a file, as in tests): UTF-8, as the other systems write it.
    const std::string utf8 = win32::NarrowNative(text);
    fwrite(utf8.data(), 1, utf8.size(), stderr);
    fflush(stderr);
}

bool OpenConsole(std::string_view cp932Title) {
    // A program of the Windows subsystem has no console until it makes one.
    if (!::AllocConsole() && ::GetConsoleWindow() == nullptr) return false;
    console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        console = nullptr;
        return false;
    }
    ::SetConsoleTitleW(WideText(cp932Title).c_str());
    ::SetConsoleTextAttribute(console, BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE);
    CONSOLE_CURSOR_INFO cursor{1, FALSE};
    ::SetConsoleCursorInfo(console, &cursor);
    return true;
}

}  // namespace platform
