// The conversions between the program's CP932 text, UTF-8 native paths and the wide text of
// the W calls, and the copy of a result into a caller's buffer.
#include "platform/win32/Wide.h"

#include <cstring>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/win32/Windows.h"

namespace platform::win32 {

std::optional<std::wstring> Wide(const char* cp932) {
    if (cp932 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    auto utf16 = Cp932ToUtf16(cp932);
    if (!utf16) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    return std::wstring(utf16->begin(), utf16->end());
}

std::optional<std::wstring> WideNative(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    const int size = static_cast<int>(utf8.size());
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n <= 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), n) != n) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> Narrow(std::wstring_view wide) {
    return Utf16ToCp932(std::u16string(wide.begin(), wide.end()));
}

std::string NarrowNative(std::wstring_view wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size) {
    if (buffer == nullptr || text.size() + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

}  // namespace platform::win32
