// The lead-byte aware helpers: the same on every system, whatever converts the text.
#include "platform/CodePage.h"

namespace platform {

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

size_t CharLength(std::string_view text, size_t pos) {
    return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

size_t FindChar(std::string_view text, char ch, size_t from) {
    for (size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (i >= from && text[i] == ch) return i;
    return std::string_view::npos;
}

size_t FindLastChar(std::string_view text, char ch) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (text[i] == ch) found = i;
    return found;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (!from.empty() && text.substr(i, from.size()) == from) {
            out += to;
            i += from.size();
            continue;
        }
        size_t n = CharLength(text, i);
        out += text.substr(i, n);
        i += n;
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (IsLeadByte(x)) {
            // The trail byte is compared as it stands: a trail "a" is not the letter a.
            if (x != y || i + 1 >= a.size() || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

size_t FindNoCase(std::string_view text, std::string_view part) {
    for (size_t pos = 0; pos + part.size() <= text.size(); pos += CharLength(text, pos))
        if (EqualsNoCase(text.substr(pos, part.size()), part)) return pos;
    return std::string_view::npos;
}

}  // namespace platform
