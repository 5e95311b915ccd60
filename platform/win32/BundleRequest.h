// One HTTPS request to a server whose certificate only the program's bundle (ca-bundle.pem)
// vouches for, on WinHTTP: its status callback names the certificate of the connection at the
// moment the request is about to go out, and the request goes through a TlsGate, which lets no
// byte of it reach the server until that certificate has chained to the bundle for the host.
// WinINet offers neither: no certificate before its request is sent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/win32/BlockingCall.h"

namespace platform::win32 {

class BundleRequest {
public:
    // Ends a wait when `stop` answers true or after `stallMilliseconds` without a byte.
    BundleRequest(std::function<bool()> stop, uint32_t stallMilliseconds);
    ~BundleRequest();
    BundleRequest(const BundleRequest&) = delete;
    BundleRequest& operator=(const BundleRequest&) = delete;

    // The system's proxy for the server, if any, and the value of the Proxy-Authorization line
    // for it alone ("Basic ..."; empty without credentials).
    struct Proxy {
        std::wstring host;
        uint16_t port = 0;
        std::string authorization;
    };

    // Sends `verb` for `path` to https://host:port with the header lines and body, and waits
    // for the reply's header. False with Error() when none came or the certificate was refused;
    // true with the proxy's status when the proxy refused the way (407: it asks).
    bool Start(const std::wstring& verb, const std::wstring& host, uint16_t port, const std::wstring& path,
               const std::wstring& headers, const std::string& body, const std::string& bundle, const Proxy& proxy);

    int Status() const;
    // As InternetFile::Read: 0 at the end, -1 when the body failed, stalled or was stopped.
    long Read(void* buffer, size_t size);
    long long ContentLength() const;  // -1 when not sent
    std::wstring Url() const;         // as asked for
    std::wstring Header(const std::wstring& name) const;
    const std::string& Error() const { return error_; }

    struct Call;

private:
    bool Wait(std::function<void()> call);

    std::function<bool()> stop_;
    uint32_t stallMilliseconds_;
    BlockingCall calls_;
    std::shared_ptr<Call> call_;
    std::wstring url_;
    int proxyStatus_ = 0;  // the proxy's refusal of the way, if it refused
    std::string error_;
};

}  // namespace platform::win32
