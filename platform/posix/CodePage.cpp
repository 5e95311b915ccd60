#include "platform/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace platform {
namespace {

// Bytes of the UTF-8 character that starts with `lead` (1 for a byte that starts none).
size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    return lead >= 0xC2 ? 2 : 1;
}

// One conversion through iconv. Without a replacement any invalid or incomplete sequence fails
// the whole text; with one, each UTF-8 character the target cannot hold becomes the
// replacement and the conversion goes on.
std::optional<std::string> Convert(const char* to, const char* from, const char* data, size_t size,
                                   const char* replacement = nullptr) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(size * 2 + 16, '\0');
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    size_t done = 0;
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = out.data() + done;
        size_t outLeft = out.size() - done;
        size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        done = out.size() - outLeft;
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (replacement == nullptr) {
            ok = false;
            break;
        }
        size_t skipped = std::min(Utf8Length(static_cast<unsigned char>(*in)), inLeft);
        in += skipped;
        inLeft -= skipped;
        out.replace(done, 0, replacement);
        done += std::char_traits<char>::length(replacement);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(done);
    return out;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
    return Convert("UTF-8", "CP932", cp932.data(), cp932.size());
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    return Convert("CP932", "UTF-8", utf8.data(), utf8.size());
}

std::string Utf8ToCp932Replacing(std::string_view utf8) {
    return Convert("CP932", "UTF-8", utf8.data(), utf8.size(), "?").value_or("");
}

std::optional<std::u16string> Cp932ToUtf16(std::string_view cp932) {
    auto bytes = Convert("UTF-16LE", "CP932", cp932.data(), cp932.size());
    if (!bytes) return std::nullopt;
    std::u16string out(bytes->size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>((*bytes)[2 * i]) |
                                       (static_cast<unsigned char>((*bytes)[2 * i + 1]) << 8));
    return out;
}

std::optional<std::string> Utf16ToCp932(std::u16string_view utf16) {
    std::string bytes;
    bytes.reserve(utf16.size() * 2);
    for (char16_t c : utf16) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return Convert("CP932", "UTF-16LE", bytes.data(), bytes.size());
}

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
