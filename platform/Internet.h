// The internet session: one HTTP(S) exchange with the whole reply, and an opened URL read
// piece by piece. The proxy comes from the environment, as for every Linux program. Secure
// connections verify the peer against the system trust store plus an optional CA bundle.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/View.h"

namespace platform {

// The parts of an absolute http or https URL; nullopt when it does not parse.
struct UrlParts {
    std::string scheme;
    std::string host;  // an IPv6 address keeps its brackets
    int port = 0;      // the scheme's default when the URL names none
    std::string path;  // object path with its query, at least "/"
};
std::optional<UrlParts> CrackUrl(const std::string& url);
// An https URL is always secure; so is port 443, whatever the scheme says.
bool IsSecureUrl(const UrlParts& url);

// Where certificates are checked: the system store plus `caBundle` (a native PEM file; an
// empty path or a missing file adds nothing).
struct TrustAnchors {
    std::string caBundle;
};

struct HttpRequest {
    std::string verb;         // GET or POST
    UrlParts url;
    bool secure = false;      // TLS to url.host:url.port, whatever url.scheme says
    std::string headerLines;  // extra header lines, CR LF separated, sent as they are
    std::string body;
    TrustAnchors trust;
    std::optional<ProxyCredentials> proxyCredentials;  // after a 407
    size_t maxBodyBytes = 16 * 1024 * 1024;            // a longer reply is a transport failure
};

struct HttpReply {
    bool sent = false;  // false: no reply (connection, TLS, send or size failure)
    bool noSession = false;  // the session itself could not be created
    int status = 0;
    std::string body;
    std::string error;  // why nothing came back
};

// Sends once, follows redirects, and reads the whole body.
HttpReply SendHttpRequest(const HttpRequest& request);

// An opened URL (GET) whose body is read piece by piece.
class InternetFile {
public:
    virtual ~InternetFile() = default;
    // Up to `size` bytes; 0 at the end of the body. -1 when the transfer failed.
    virtual long Read(void* buffer, size_t size) = 0;
    // The length the server announced, or -1.
    virtual long long ContentLength() const = 0;
    // The URL of the resource after redirects.
    virtual std::string EffectiveUrl() const = 0;
};

// Opens the URL and waits for the reply's header. Null when the URL does not parse, the
// connection fails, or the server answers with a status of 400 or more.
std::unique_ptr<InternetFile> OpenUrl(const std::string& url, const TrustAnchors& trust);

}  // namespace platform
