// The gate's relay: one thread, one connection, both sockets polled in 50 ms slices so that
// the check's verdict and the gate's end are acted on at once.
#include "platform/win32/TlsGate.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "platform/win32/Windows.h"
// After it: WIN32_LEAN_AND_MEAN keeps the old Winsock out.
#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform::win32 {

struct TlsGate::State {
    enum Verdict { kWaiting, kOpen, kRefused };
    std::wstring host;
    uint16_t port = 0;
    uint16_t listening = 0;  // the loopback port
    SOCKET listener = INVALID_SOCKET;
    std::atomic<SOCKET> server{INVALID_SOCKET};  // the way to the server, once reached
    std::atomic<int> verdict{kWaiting};
    std::atomic<bool> done{false};
};

namespace {

constexpr unsigned char kApplicationData = 23;  // the TLS record type
constexpr size_t kRecordHeader = 5;
constexpr size_t kMaxHead = 8192;

// Waits up to 50 ms for `socket` to be readable; false when the gate ends first.
bool Readable(SOCKET socket, const std::atomic<bool>& done) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval slice{0, 50000};
    return !done && select(0, &readable, nullptr, nullptr, &slice) == 1;
}

bool SendAll(SOCKET socket, const char* bytes, size_t size) {
    while (size > 0) {
        int sent = send(socket, bytes, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
        if (sent <= 0) return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

SOCKET Connect(const std::wstring& host, uint16_t port) {
    ADDRINFOW hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    if (GetAddrInfoW(host.c_str(), std::to_wstring(port).c_str(), &hints, &found) != 0) return INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    for (ADDRINFOW* at = found; at != nullptr && server == INVALID_SOCKET; at = at->ai_next) {
        server = socket(at->ai_family, at->ai_socktype, at->ai_protocol);
        if (server != INVALID_SOCKET && connect(server, at->ai_addr, static_cast<int>(at->ai_addrlen)) != 0) {
            closesocket(server);
            server = INVALID_SOCKET;
        }
    }
    FreeAddrInfoW(found);
    return server;
}

// A request's or reply's head, read to its blank line; empty when it never came whole.
std::string ReadHead(SOCKET from, const std::atomic<bool>& done) {
    std::string head;
    char byte = 0;
    // A byte at a time: what follows the head is the tunnel's, not ours to take.
    while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
        if (head.size() > kMaxHead) return {};
        if (!Readable(from, done)) {
            if (done) return {};
            continue;
        }
        if (recv(from, &byte, 1, 0) != 1) return {};
        head += byte;
    }
    return head;
}

// Passes the client's complete records before the first one of application data (all of them
// once the gate is open) from `held` to the server.
bool PassRecords(std::string& held, SOCKET server, bool open) {
    size_t passed = open ? held.size() : 0;
    while (!open && held.size() - passed >= kRecordHeader) {
        const auto* header = reinterpret_cast<const unsigned char*>(held.data() + passed);
        const size_t length = kRecordHeader + (size_t{header[3]} << 8 | header[4]);
        if (header[0] == kApplicationData || held.size() - passed < length) break;
        passed += length;
    }
    if (!SendAll(server, held.data(), passed)) return false;
    held.erase(0, passed);
    return true;
}

void Relay(const std::shared_ptr<TlsGate::State>& state) {
    SOCKET client = INVALID_SOCKET;
    while (client == INVALID_SOCKET && !state->done)
        if (Readable(state->listener, state->done)) client = accept(state->listener, nullptr, nullptr);
    // One connection only: whatever the client tries next fails.
    closesocket(state->listener);
    if (client == INVALID_SOCKET) return;
    const bool asked = ReadHead(client, state->done).compare(0, 8, "CONNECT ") == 0;
    SOCKET server = state->server.exchange(INVALID_SOCKET);
    static const char kEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (asked && server != INVALID_SOCKET && SendAll(client, kEstablished, sizeof kEstablished - 1)) {
        std::string held;
        char piece[16384];
        for (;;) {
            const int verdict = state->verdict;
            if (verdict == TlsGate::State::kRefused || state->done) break;
            if (!PassRecords(held, server, verdict == TlsGate::State::kOpen)) break;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(client, &readable);
            FD_SET(server, &readable);
            timeval slice{0, 50000};
            if (select(0, &readable, nullptr, nullptr, &slice) <= 0) continue;
            if (FD_ISSET(server, &readable)) {
                int got = recv(server, piece, sizeof piece, 0);
                if (got <= 0 || !SendAll(client, piece, static_cast<size_t>(got))) break;
            }
            if (FD_ISSET(client, &readable)) {
                int got = recv(client, piece, sizeof piece, 0);
                if (got <= 0) break;
                held.append(piece, static_cast<size_t>(got));
            }
        }
    }
    if (server != INVALID_SOCKET) closesocket(server);
    closesocket(client);
}

}  // namespace

TlsGate::TlsGate(std::wstring host, uint16_t port) : state_(std::make_shared<State>()) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    state_->host = std::move(host);
    state_->port = port;
    state_->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (state_->listener == INVALID_SOCKET ||
        bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(state_->listener, 1) != 0) {
        if (state_->listener != INVALID_SOCKET) closesocket(state_->listener);
        state_->listener = INVALID_SOCKET;
        return;
    }
    int size = sizeof address;
    getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &size);
    state_->listening = ntohs(address.sin_port);
    relay_ = std::thread(Relay, state_);
}

TlsGate::~TlsGate() {
    state_->done = true;
    if (relay_.joinable()) relay_.join();
    SOCKET unused = state_->server.exchange(INVALID_SOCKET);
    if (unused != INVALID_SOCKET) closesocket(unused);
    WSACleanup();
}

uint16_t TlsGate::Port() const { return state_->listening; }

int TlsGate::Reach(const std::wstring& proxy, uint16_t proxyPort, const std::string& proxyAuthorization) {
    SOCKET server = Connect(proxy.empty() ? state_->host : proxy, proxy.empty() ? state_->port : proxyPort);
    if (server == INVALID_SOCKET) return 0;
    int status = 200;
    if (!proxy.empty()) {
        const std::wstring& host = state_->host;
        std::string target;
        for (wchar_t c : host) target += static_cast<char>(c < 0x80 ? c : '?');
        if (host.find(L':') != std::wstring::npos) target.insert(0, 1, '[').push_back(']');
        target.append(1, ':').append(std::to_string(state_->port));
        std::string request;
        request.append("CONNECT ").append(target).append(" HTTP/1.1\r\nHost: ").append(target).append("\r\n");
        if (!proxyAuthorization.empty())
            request.append("Proxy-Authorization: ").append(proxyAuthorization).append("\r\n");
        request += "\r\n";
        const std::string reply =
            SendAll(server, request.data(), request.size()) ? ReadHead(server, state_->done) : std::string();
        // "HTTP/1.1 200 ...": the status is the second word.
        status = reply.compare(0, 5, "HTTP/") == 0 && reply.find(' ') != std::string::npos
                     ? std::atoi(reply.c_str() + reply.find(' ') + 1)
                     : 0;
    }
    if (status == 200) server = state_->server.exchange(server);
    if (server != INVALID_SOCKET) closesocket(server);
    return status;
}

void TlsGate::Open() { state_->verdict = State::kOpen; }

void TlsGate::Refuse() { state_->verdict = State::kRefused; }

}  // namespace platform::win32
