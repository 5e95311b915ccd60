// printf-style formatting into the program's strings, and the printf-format cut that never
// leaves half a conversion or half a double-byte character behind.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// The formats are checked as C99 has them: mingw's own printf (with __USE_MINGW_ANSI_STDIO)
// knows %zu and %lld, the checker only does when told it is not msvcrt's.
#if defined(__MINGW32__)
#define VELTRANE_PRINTF(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define VELTRANE_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif

std::string Format(const char* format, ...) VELTRANE_PRINTF(1, 2);
std::string FormatV(const char* format, va_list args);

// The longest prefix of a printf format that is at most maxBytes long and ends neither inside
// a conversion ("%", flags, width, precision, length, conversion) nor inside a double-byte
// character.
std::string_view CutFormat(std::string_view format, size_t maxBytes);
// A text with every "%" doubled, so a format shows it as it stands.
std::string EscapePercent(std::string_view text);
