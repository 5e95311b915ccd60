// The seam between the program's CP932 text and the W functions: every Windows backend
// converts here, so the program does not depend on the system code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::win32 {

// CP932 to UTF-16 for a W call; nullopt with ERROR_INVALID_PARAMETER for null and
// ERROR_INVALID_NAME for text that is not CP932.
std::optional<std::wstring> Wide(const char* cp932);
// A native path (UTF-8) to UTF-16; nullopt with ERROR_INVALID_NAME when it is not UTF-8.
std::optional<std::wstring> WideNative(std::string_view utf8);
// UTF-16 from the system to CP932; nullopt when a character has no CP932 form.
std::optional<std::string> Narrow(std::wstring_view wide);
// UTF-16 from the system to UTF-8 (a native path).
std::string NarrowNative(std::wstring_view wide);

// Copies CP932 text with its NUL into a caller's buffer of `size` bytes. The text's length
// when it fits; else 0 with ERROR_INSUFFICIENT_BUFFER.
uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size);

}  // namespace platform::win32
