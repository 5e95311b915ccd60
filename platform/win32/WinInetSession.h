// The WinINet internet session behind platform/Internet.h: one session handle for the whole
// program, so WinINet keeps its connections for reuse; the proxy credentials the user gave,
// sent with every later request and opened URL; the stall limit on every wait, and a stop
// check that ends a wait within a fraction of a second.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Internet.h"

namespace platform::win32 {

using StopCheck = std::function<bool()>;

struct OpenedUrl {
    std::unique_ptr<InternetFile> file;  // null unless opened with a status below 400
    int status = 0;                      // the reply's status (407: the proxy asks); 0: none
};

class WinInetSession {
public:
    // No byte for this long ends a request or a read.
    static constexpr uint32_t kDefaultStallMilliseconds = 30000;

    WinInetSession();
    ~WinInetSession();
    WinInetSession(const WinInetSession&) = delete;
    WinInetSession& operator=(const WinInetSession&) = delete;

    // Sends once, follows redirects, and reads the whole body.
    HttpReply Send(const HttpRequest& request, const StopCheck& stop);
    // Opens the URL and waits for the reply's header.
    OpenedUrl OpenUrl(const std::string& url, const TrustAnchors& trust, const StopCheck& stop);

    void SetProxyCredentials(const ProxyCredentials& credentials);
    std::optional<ProxyCredentials> KeptProxyCredentials() const;
    void SetStallLimit(uint32_t milliseconds);
    // Forgets the credentials and the kept connections; the stall limit returns to its default.
    void Reset();

    struct Shared;

private:
    std::shared_ptr<Shared> Current() const;

    mutable std::mutex lock_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace platform::win32
