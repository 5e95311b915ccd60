// The percent-coding of the web-service bodies and header values, both ways.
#include "net/UrlCoding.h"

#include <optional>

#include "base/Logger.h"
#include "base/Text.h"
#include "platform/CodePage.h"

namespace {

static constexpr char kLogSource[] = ".\\ExternalInterface";

bool CopiedAsIs(unsigned char c) {
    return (c >= 0x40 && c <= 0x5A) || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' || c == '-' ||
           c == '.' || c == '_';
}

// The digit value of an upper-case hexadecimal digit, as the service's coder writes them.
int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

}  // namespace

void URLEncodeUTF8(std::string* text) {
    VLOG(LOG_TRACE, "URLEncodeUTF8開始");
    std::optional<std::string> utf8 = platform::Cp932ToUtf8(*text);
    if (!utf8) {
        VLOG(LOG_ERROR, "文字コード変換エラー");
        return;
    }
    std::string encoded;
    encoded.reserve(utf8->size() * 3);
    for (unsigned char c : *utf8) {
        if (CopiedAsIs(c))
            encoded += static_cast<char>(c);
        else if (c == ' ')
            encoded += '+';
        else
            encoded += Format("%%%02X", c);
    }
    *text = std::move(encoded);
}

void URLDecode(std::string* text) {
    std::string& s = *text;
    size_t out = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            s[out++] = ' ';
        } else if (s[i] == '%' && i + 2 < s.size()) {
            s[out++] = static_cast<char>(HexValue(s[i + 1]) << 4 | (HexValue(s[i + 2]) & 0x0F));
            i += 2;
        } else {
            s[out++] = s[i];
        }
    }
    s.resize(out);
}
