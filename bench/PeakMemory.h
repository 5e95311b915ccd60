// Peak resident memory of a stretch of a benchmark: the kernel's high-water mark, cleared at
// the start, and the resident size sampled every 5 ms in case the kernel does not reset it.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

// A "VmRSS:"-style line of /proc/self/status, in KiB.
inline uint64_t StatusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    size_t length = std::char_traits<char>::length(key);
    while (std::getline(in, line))
        if (line.compare(0, length, key) == 0) return std::strtoull(line.c_str() + length, nullptr, 10);
    return 0;
}

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

class PeakMemory {
public:
    // Starts measuring at once unless told to wait for Start.
    explicit PeakMemory(bool start = true) {
        if (start) Start();
    }
    void Start() {
        before_ = StatusKiB("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        sampling_.store(true);
        sampler_ = std::thread([this] {
            while (sampling_.load()) {
                sampled_.store(std::max(sampled_.load(), StatusKiB("VmRSS:")));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~PeakMemory() { Stop(); }
    // Ends the sampling; the figures below are then final.
    void Stop() {
        sampling_.store(false);
        if (sampler_.joinable()) sampler_.join();
        if (highWater_ == 0) highWater_ = StatusKiB("VmHWM:");
    }
    uint64_t BeforeKiB() const { return before_; }
    uint64_t HighWaterKiB() const { return highWater_; }
    uint64_t SampledPeakKiB() const { return sampled_.load(); }

private:
    uint64_t before_ = 0;
    uint64_t highWater_ = 0;
    std::atomic<bool> sampling_{false};
    std::atomic<uint64_t> sampled_{0};
    std::thread sampler_;
};
