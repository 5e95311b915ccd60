// The program's printf-style formatting into std::string, the format cut that stops before a
// half conversion or character, and the escaping of "%" in text used as a format.
#include "base/Text.h"

#include <cstdio>
#include <cstring>

#include "platform/CodePage.h"

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return {};
    std::string out(static_cast<size_t>(needed) + 1, '\0');
    vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(needed));
    return out;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatV(format, args);
    va_end(args);
    return out;
}

std::string_view CutFormat(std::string_view format, size_t maxBytes) {
    size_t safe = 0;  // end of the last complete piece
    size_t i = 0;
    while (i < format.size()) {
        size_t end;
        if (format[i] == '%') {
            end = i + 1;
            if (end < format.size() && format[end] == '%') {
                ++end;
            } else {
                while (end < format.size() && strchr("-+ #0123456789.*hlLqjzt'", format[end])) ++end;
                if (end < format.size())
                    ++end;  // the conversion character
                else
                    end = format.size() + 1;  // a format that ends inside a conversion
            }
        } else {
            end = i + platform::CharLength(format, i);
        }
        if (end > maxBytes || end > format.size()) break;
        safe = end;
        i = end;
    }
    return format.substr(0, safe);
}

std::string EscapePercent(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}
