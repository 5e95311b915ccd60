// CP932, UTF-8 and UTF-16 converted through iconv, with a replacing variant for text that
// must come out whole (a CP932 name for a UTF-8 one it cannot hold).
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

}  // namespace platform
