// The WSSE header's fields read, percent-decoded once more, and its password digest checked.
#include "Wsse.h"

#include "Digest.h"
#include "PercentCoding.h"

namespace mapservice {
namespace {

// The quoted value of `name="…"` in the header, percent-decoded. A "+" stays: the client
// sends it as %2B, and our HTTP server has already decoded header values once.
std::optional<std::string> Field(std::string_view value, std::string_view name) {
    std::string key = std::string(name) + "=\"";
    for (std::size_t at = value.find(key); at != std::string_view::npos; at = value.find(key, at + 1)) {
        // Username= must not match inside another field's name.
        if (at > 0 && value[at - 1] != ' ' && value[at - 1] != ',') continue;
        std::size_t begin = at + key.size();
        std::size_t end = value.find('"', begin);
        if (end == std::string_view::npos) return std::nullopt;
        return PercentDecode(value.substr(begin, end - begin), false);
    }
    return std::nullopt;
}

}  // namespace

std::optional<WsseToken> ParseWsseHeader(std::string_view value) {
    if (!value.starts_with("UsernameToken ")) return std::nullopt;
    auto username = Field(value, "Username");
    auto digest = Field(value, "PasswordDigest");
    auto nonce = Field(value, "Nonce");
    auto created = Field(value, "Created");
    if (!username || !digest || !nonce || !created) return std::nullopt;
    auto rawNonce = Base64Decode(*nonce);
    if (!rawNonce) return std::nullopt;
    return WsseToken{*username, *digest, *rawNonce, *created};
}

bool VerifyWsse(std::string_view headerValue, const std::string& username, const std::string& password) {
    auto token = ParseWsseHeader(headerValue);
    return token && token->username == username &&
           token->passwordDigest == Sha512Base64(token->nonce + token->created + password);
}

}  // namespace mapservice
