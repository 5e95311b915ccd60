// A TCP relay on loopback that holds every byte for a fixed delay in each direction: a line
// with that much added latency and loopback's bandwidth (this kernel has no netem). Each
// accepted connection gets its own connection to the target; bytes keep their order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class DelayRelay {
public:
    DelayRelay(uint16_t targetPort, std::chrono::milliseconds delay);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    uint16_t Port() const { return port_; }
    // Connections accepted so far.
    int Accepted() const { return accepted_.load(); }

private:
    void AcceptLoop();

    uint16_t targetPort_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex lock_;
    std::vector<std::thread> pumps_;
    std::vector<int> sockets_;
};
