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
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                            n) != n)
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

// What the system's conversion does with its default character: each character code page 932
// cannot hold becomes "?", and the rest of the text is kept.
std::string Utf8ToCp932Replacing(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > 0x7FFFFFFF) return std::string();
    const int size = static_cast<int>(utf8.size());
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (n <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n) != n) return std::string();
    // A character outside the BMP is one character: its surrogate pair gives one "?", not two.
    std::wstring characters;
    for (size_t i = 0; i < wide.size(); ++i) {
        bool pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]);
        characters.push_back(pair ? L'\xFFFD' : wide[i]);
        if (pair) ++i;
    }
    wide = std::move(characters);
    n = static_cast<int>(wide.size());
    int m = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, "?", nullptr);
    if (m <= 0) return std::string();
    std::string out(static_cast<size_t>(m), '\0');
    if (WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, "?", nullptr) != m)
        return std::string();
    return out;
}

}  // namespace platform
