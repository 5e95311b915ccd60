// A worker thread as the window keeps it: null when none runs, joined without a time limit
// and nulled once the worker has reported its end.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

class ThreadHandle {
public:
    // Starts the worker; false when one is already held or the system gives no thread.
    bool Start(std::function<void()> body) {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) return false;
        try {
            thread_ = std::thread(std::move(body));
        } catch (const std::system_error&) {
            return false;
        }
        running_ = true;
        return true;
    }
    bool IsNull() const { return !running_; }
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
};
