// A relay on loopback for one HTTPS connection whose server certificate the program checks
// itself: the client reaches the server through it as through a proxy (CONNECT), and it passes
// the TLS handshake both ways but holds back every record of application data the client
// sends until the certificate that connection received has been checked. A refused
// certificate drops the connection: no byte of the request reaches the server. TLS 1.3 sends
// the client's last handshake message as such a record too; held with the rest, it goes on
// once the check holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace platform::win32 {

class TlsGate {
public:
    // Relays to `host` (a name or an address without brackets) on `port`, whatever the client
    // asks for; serves one connection.
    TlsGate(std::wstring host, uint16_t port);
    ~TlsGate();
    TlsGate(const TlsGate&) = delete;
    TlsGate& operator=(const TlsGate&) = delete;

    // The loopback port to name as the client's proxy; 0 when no port could be opened.
    uint16_t Port() const;

    // Opens the way to the server before the client comes: directly, or through the system's
    // `proxy` (a CONNECT with the `Proxy-Authorization` value, if any, for the proxy alone).
    // 200 when open, else the proxy's status (407: it asks for credentials); 0 when it failed.
    int Reach(const std::wstring& proxy, uint16_t proxyPort, const std::string& proxyAuthorization);

    // The certificate held: the client's records go on. Refused: the connection is dropped.
    void Open();
    void Refuse();

    struct State;

private:
    std::shared_ptr<State> state_;
    std::thread relay_;
};

}  // namespace platform::win32
