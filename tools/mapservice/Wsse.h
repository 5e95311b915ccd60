// The X-WSSE UsernameToken header of the web-service calls and its check.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

// The four fields with their percent-encoding removed; the nonce also Base64-decoded.
struct WsseToken {
    std::string username;
    std::string passwordDigest;
    std::string nonce;
    std::string created;
};

// Reads a value of the form
//   UsernameToken Username="…", PasswordDigest="…", Nonce="…", Created="…"
std::optional<WsseToken> ParseWsseHeader(std::string_view value);

// The digest is Base64 of SHA-512 over nonce, Created and password joined. Created is the
// client's local time marked "Z", so it is not compared with our clock.
bool VerifyWsse(std::string_view headerValue, const std::string& username, const std::string& password);

}  // namespace mapservice
