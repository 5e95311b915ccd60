// A headless front end that also keeps the notifications posted to the main window, so a test
// can wait for a worker's end message without running the window.
#pragma once

// <condition_variable> brings the clocks and durations; <chrono> itself holds a "µs" that a
// CP932 test cannot compile.
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "ui/headless/HeadlessView.h"

class RecordingView : public HeadlessView {
public:
    using Notice = std::pair<uintptr_t, intptr_t>;

    void PostNotify(int window, uintptr_t wParam, intptr_t lParam) override {
        if (window == platform::IDD_MAIN_WINDOW) {
            std::lock_guard guard(lock_);
            if (posted_.empty()) firstAt_ = std::chrono::steady_clock::now();
            posted_.emplace_back(wParam, lParam);
            changed_.notify_all();
        }
        HeadlessView::PostNotify(window, wParam, lParam);
    }
    // The first notification, waiting up to `limit` for it; {0, -1} when none came.
    Notice First(std::chrono::steady_clock::duration limit = std::chrono::seconds(30)) {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, limit, [this] { return !posted_.empty(); });
        return posted_.empty() ? Notice{0, -1} : posted_.front();
    }
    std::chrono::steady_clock::time_point FirstAt() {
        std::lock_guard guard(lock_);
        return firstAt_;
    }
    std::vector<Notice> Notices() {
        std::lock_guard guard(lock_);
        return posted_;
    }
    size_t Count() {
        std::lock_guard guard(lock_);
        return posted_.size();
    }
    // The notifications so far are forgotten: the next job's are counted on their own.
    void Forget() {
        std::lock_guard guard(lock_);
        posted_.clear();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Notice> posted_;
    std::chrono::steady_clock::time_point firstAt_;
};
