// The wide command line in UTF-8, and the caller's console.
#include "ui/win32/CommandLine.h"

#include <cstdio>

#include "platform/win32/Windows.h"
#include <shellapi.h>

namespace ui::win32 {
namespace {

std::string Utf8(const wchar_t* wide) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string text(static_cast<size_t>(size - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    return text;
}

bool HasOutput(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

std::vector<std::string> ProgramArguments() {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (words == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf8(words[i]));
    ::LocalFree(words);
    return arguments;
}

void AttachCallerConsole() {
    const bool output = HasOutput(STD_OUTPUT_HANDLE), errors = HasOutput(STD_ERROR_HANDLE);
    if ((output && errors) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // Only the streams the caller left without a target go to its console (best effort: a
    // stream that cannot be opened writes nowhere, as before).
    if (!output) static_cast<void>(std::freopen("CONOUT$", "w", stdout));
    if (!errors) static_cast<void>(std::freopen("CONOUT$", "w", stderr));
}

}  // namespace ui::win32
