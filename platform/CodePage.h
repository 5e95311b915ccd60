// Code page 932 text and its conversions. CP932 is the program's text; UTF-8 is the native
// side (file names, terminals, syslog, Qt), UTF-16 where a Windows call would take wide text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

[[nodiscard]] std::optional<std::string> Cp932ToUtf8(std::string_view cp932);
[[nodiscard]] std::optional<std::string> Utf8ToCp932(std::string_view utf8);
// As Windows converts with its default character: each character CP932 cannot hold (and each
// byte that is not UTF-8) becomes "?", and the rest of the text is kept.
std::string Utf8ToCp932Replacing(std::string_view utf8);
[[nodiscard]] std::optional<std::u16string> Cp932ToUtf16(std::string_view cp932);
[[nodiscard]] std::optional<std::string> Utf16ToCp932(std::u16string_view utf16);

// Lead-byte aware scanning: 0x5C ("\") is also the second byte of characters such as "ソ",
// so every search for a single-byte character must step over double-byte characters.
bool IsLeadByte(unsigned char c);
// Length in bytes of the character that starts at text[pos] (1 or 2; 1 at a cut lead byte).
size_t CharLength(std::string_view text, size_t pos);
// Position of the first / last single-byte character ch, or npos.
size_t FindChar(std::string_view text, char ch, size_t from = 0);
size_t FindLastChar(std::string_view text, char ch);
// Every occurrence of `from` replaced by `to`, matching only at character boundaries.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// Windows name comparison: ASCII letters compare without case, double-byte characters exactly.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Position of the first occurrence of `part` in `text` compared as EqualsNoCase does, starting
// at a character boundary; npos when there is none.
size_t FindNoCase(std::string_view text, std::string_view part);

}  // namespace platform
