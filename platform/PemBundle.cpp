// PEM certificate blocks to DER: find each block, decode its Base64 body strictly.
#include "platform/PemBundle.h"

#include <cstdint>
#include <optional>

namespace platform {
namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The bytes of a Base64 body, or nullopt when it is not clean Base64.
std::optional<std::string> DecodeBase64(std::string_view body) {
    std::string digits;
    for (char c : body)
        if (!IsBlank(c)) digits += c;
    if (digits.empty() || digits.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && digits[digits.size() - 1 - padding] == '=') ++padding;
    std::string bytes;
    for (size_t quad = 0; quad < digits.size(); quad += 4) {
        uint32_t bits = 0;
        for (size_t i = 0; i < 4; ++i) {
            const size_t at = quad + i;
            const bool padded = at >= digits.size() - padding;
            const int value = padded ? 0 : Sextet(digits[at]);
            if (value < 0) return std::nullopt;
            bits = (bits << 6) | static_cast<uint32_t>(value);
        }
        const size_t count = quad + 4 == digits.size() ? 3 - padding : 3;
        for (size_t i = 0; i < count; ++i) bytes += static_cast<char>((bits >> (16 - 8 * i)) & 0xFF);
    }
    return bytes;
}

}  // namespace

std::vector<std::string> PemCertificates(std::string_view pem) {
    std::vector<std::string> certificates;
    for (size_t begin = pem.find(kBegin); begin != std::string_view::npos; begin = pem.find(kBegin, begin + 1)) {
        const size_t bodyStart = begin + kBegin.size();
        const size_t end = pem.find(kEnd, bodyStart);
        if (end == std::string_view::npos) break;
        if (auto der = DecodeBase64(pem.substr(bodyStart, end - bodyStart)); der && !der->empty())
            certificates.push_back(std::move(*der));
    }
    return certificates;
}

}  // namespace platform
