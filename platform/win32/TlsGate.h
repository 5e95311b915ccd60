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

    // The certificate held: the client's records go on. Refused: the connection is dropped.
    void Open();
    void Refuse();

    struct State;

private:
    std::shared_ptr<State> state_;
    std::thread relay_;
};

}  // namespace platform::win32
