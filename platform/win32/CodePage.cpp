// CP932 <-> UTF-16 with the system's own tables for code page 932, whatever the system code
// page is; UTF-8 goes through UTF-16.
#include "platform/CodePage.h"

#include "platform/win32/Windows.h"

namespace platform {
namespace {

constexpr UINT kCp932 = 932;

// Every invalid sequence fails the whole text rather than turning into a default character.
std::optional<std::u16string> ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return std::u16string();
    if (text.size() > 0x7FFFFFFF) return std::nullopt;
    const int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::u16string out(static_cast<size_t>(n), u'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size,
                            reinterpret_cast<wchar_t*>(out.data()), n) != n)
        return std::nullopt;
    return out;
}

std::optional<std::string> FromWide(UINT codePage, std::u16string_view text) {
    if (text.empty()) return std::string();
    if (text.size() > 0x3FFFFFFF) return std::nullopt;
    const int size = static_cast<int>(text.size());
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    // CP932 has no WC_ERR_INVALID_CHARS; an unmappable character shows as a used default.
    BOOL usedDefault = FALSE;
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL* defaultFlag = codePage == CP_UTF8 ? nullptr : &usedDefault;
    int n = WideCharToMultiByte(codePage, flags, wide, size, nullptr, 0, nullptr, defaultFlag);
    if (n <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(codePage, flags, wide, size, out.data(), n, nullptr, defaultFlag) != n || usedDefault)
        return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::u16string> Cp932ToUtf16(std::string_view cp932) { return ToWide(kCp932, cp932); }

std::optional<std::string> Utf16ToCp932(std::u16string_view utf16) { return FromWide(kCp932, utf16); }

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
    auto wide = ToWide(kCp932, cp932);
    return wide ? FromWide(CP_UTF8, *wide) : std::nullopt;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    auto wide = ToWide(CP_UTF8, utf8);
    return wide ? FromWide(kCp932, *wide) : std::nullopt;
}

}  // namespace platform
