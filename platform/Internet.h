// The internet session: one HTTP(S) exchange with the whole reply, and an opened URL read
// piece by piece. One session serves the whole program, as the system's internet service
// does: it keeps the connections and TLS sessions for reuse, and the proxy credentials the
// user gave. Every wait is bounded by the stall limit and can be abandoned by the caller.
// Secure connections verify the peer against the system trust store plus an optional bundle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
[[nodiscard]] std::optional<UrlParts> CrackUrl(const std::string& url);
// An https URL is always secure; so is port 443, whatever the scheme says.
bool IsSecureUrl(const UrlParts& url);

// The proxy the environment names for a request ("" for none): https_proxy or HTTPS_PROXY for
// a secure request, http_proxy for a plain one, else all_proxy or ALL_PROXY; none when the
// host is named by no_proxy or NO_PROXY (comma separated; "*" names every host, a name also
// covers its subdomains).
std::string ProxyFromEnvironment(const UrlParts& url, bool secure);

// Where certificates are checked: the system store plus `caBundle` (a native PEM file; an
// empty path or a missing file adds nothing).
struct TrustAnchors {
    std::string caBundle;
};

// Asked while a request waits and while an opened URL is read; true abandons the transfer.
using StopCheck = std::function<bool()>;

struct HttpRequest {
    std::string verb;  // GET or POST
    UrlParts url;
    bool secure = false;      // TLS to url.host:url.port, whatever url.scheme says
    std::string headerLines;  // extra header lines, CR LF separated, sent as they are
    std::string body;
    TrustAnchors trust;
    size_t maxBodyBytes = 16 * 1024 * 1024;  // a longer reply is a transport failure
    StopCheck stop;
};

struct HttpReply {
    bool sent = false;       // false: no reply (connection, TLS, send, size, stall or stop)
    bool noSession = false;  // the session itself could not be created
    int status = 0;
    std::string body;
    std::string error;  // why nothing came back
};

// The rest of a file from `offset` on, asked for only while the server still holds the version
// `validator` names (sent as If-Range: an ETag or a Last-Modified date): a server that holds
// another version, or ignores ranges, answers 200 with the whole file instead of 206.
struct ByteRange {
    uint64_t offset = 0;
    std::string validator;
};

// An opened URL (GET) whose body is read piece by piece.
class InternetFile {
public:
    virtual ~InternetFile() = default;
    // Up to `size` bytes; 0 at the end of the body. -1 when the transfer failed, stalled for
    // the stall limit, or was stopped.
    virtual long Read(void* buffer, size_t size) = 0;
    // The length the server announced, or -1.
    virtual long long ContentLength() const = 0;
    // The URL of the resource after redirects.
    virtual std::string EffectiveUrl() const = 0;
    // The value of a header of the reply ("ETag", "Content-Range"); "" when it has none.
    virtual std::string Header(const char* name) const = 0;
};

struct OpenedUrl {
    std::unique_ptr<InternetFile> file;  // null unless opened with a status below 400
    int status = 0;                      // the reply's status (407: the proxy asks); 0: none
};

class InternetSession {
public:
    // No byte for this long ends a request or a read.
    static constexpr uint32_t kDefaultStallMilliseconds = 30000;

    InternetSession();
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // Sends once, follows redirects, and reads the whole body.
    [[nodiscard]] HttpReply Send(const HttpRequest& request);
    // Opens the URL and waits for the reply's header. No file when the URL does not parse,
    // the connection fails or stalls, or the server answers with a status of 400 or more.
    // With `range`, asks only for that part (206; 416 when it lies beyond the end).
    [[nodiscard]] OpenedUrl OpenUrl(const std::string& url, const TrustAnchors& trust, StopCheck stop,
                                    const std::optional<ByteRange>& range = std::nullopt);

    // The proxy a request to `url` goes through, as its settings name it; "" when it goes direct.
    // The credential prompt names it: the credentials are the proxy's, not the server's.
    std::string ProxyName(const UrlParts& url) const;
    // Credentials for the proxy, used by every later request and opened URL.
    void SetProxyCredentials(const ProxyCredentials& credentials);
    std::optional<ProxyCredentials> KeptProxyCredentials() const;
    void SetStallLimit(uint32_t milliseconds);
    // Every request and opened URL waiting now gives up at once; later ones run as usual.
    void AbandonTransfers();
    // Forgets the credentials and the kept connections; the stall limit returns to its default.
    void Reset();

    struct Shared;

private:
    std::shared_ptr<Shared> Current() const;

    mutable std::mutex lock_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace platform
