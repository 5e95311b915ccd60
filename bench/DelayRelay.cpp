// The delay relay's threads: an accept loop, and for each connection one pump per direction that
// sends each piece on once the delay has passed.
#include "DelayRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <string>

namespace {

using Steady = std::chrono::steady_clock;

// One direction: a reader takes what arrives and stamps it, a writer sends each piece once it
// is `delay` old, so the delay is latency and not a limit on throughput.
void Pump(int from, int to, std::chrono::milliseconds delay) {
    struct Piece {
        Steady::time_point due;
        std::string bytes;
    };
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Piece> queue;
    bool ended = false;
    std::thread writer([&] {
        for (;;) {
            std::unique_lock guard(lock);
            arrived.wait(guard, [&] { return ended || !queue.empty(); });
            if (queue.empty()) break;
            Piece piece = std::move(queue.front());
            queue.pop_front();
            guard.unlock();
            std::this_thread::sleep_until(piece.due);
            for (size_t sent = 0; sent < piece.bytes.size();) {
                ssize_t n = ::send(to, piece.bytes.data() + sent, piece.bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    ::shutdown(from, SHUT_RDWR);
                    return;
                }
                sent += static_cast<size_t>(n);
            }
        }
        ::shutdown(to, SHUT_WR);
    });
    char buffer[256 * 1024];
    for (;;) {
        ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        std::lock_guard guard(lock);
        queue.push_back({Steady::now() + delay, std::string(buffer, static_cast<size_t>(n))});
        arrived.notify_one();
    }
    {
        std::lock_guard guard(lock);
        ended = true;
    }
    arrived.notify_one();
    writer.join();
}

int Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

void NoDelay(int fd) {
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

}  // namespace

DelayRelay::DelayRelay(uint16_t targetPort, std::chrono::milliseconds delay) : targetPort_(targetPort), delay_(delay) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("relay: cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

DelayRelay::~DelayRelay() {
    stopping_ = true;
    acceptor_.join();
    {
        std::lock_guard guard(lock_);
        for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& pump : pumps_) pump.join();
    for (int fd : sockets_) ::close(fd);
    ::close(listener_);
}

void DelayRelay::AcceptLoop() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) continue;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        int target = Connect(targetPort_);
        if (target < 0) {
            ::close(client);
            continue;
        }
        NoDelay(client);
        NoDelay(target);
        ++accepted_;
        std::lock_guard guard(lock_);
        sockets_.push_back(client);
        sockets_.push_back(target);
        pumps_.emplace_back(Pump, client, target, delay_);
        pumps_.emplace_back(Pump, target, client, delay_);
    }
}
