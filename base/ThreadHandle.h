// A worker thread as the window keeps it: null when none runs, joined without a time limit
// and nulled once the worker has reported its end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/Clock.h"

class ThreadHandle {
public:
    // Starts the worker; false when one is already held or the system gives no thread.
    bool Start(std::function<void()> body) {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) return false;
        try {
            thread_ = std::thread([this, body = std::move(body)] {
                const uint64_t start = platform::GetTickCount64();
                body();
                lastRun_ = static_cast<int64_t>(platform::GetTickCount64() - start);
            });
        } catch (const std::system_error&) {
            return false;
        }
        running_ = true;
        return true;
    }
    bool IsNull() const { return !running_; }
    // Milliseconds of the platform clock the last worker ran, from its start to its return
    // (none before one has returned).
    std::optional<uint64_t> LastRunMilliseconds() const {
        const int64_t run = lastRun_;
        return run < 0 ? std::nullopt : std::optional(static_cast<uint64_t>(run));
    }
    // Waits for the worker without a time limit, then closes and nulls the handle.
    void JoinAndClose() {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) thread_.join();
        running_ = false;
    }
    ~ThreadHandle() { JoinAndClose(); }

private:
    std::mutex lock_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int64_t> lastRun_{-1};
};
