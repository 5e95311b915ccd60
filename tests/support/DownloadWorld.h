// What the download tests and the download benchmark share: a front end that keeps the
// notifications posted to the main window, and the application set up for a download from a
// map service serving an update-set folder of the world.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "MapService.h"
#include "app/VeltraneApp.h"
#include "support/BindSha512.h"
#include "support/TestWorld.h"

class RecordingView : public HeadlessView {
public:
    using Notice = std::pair<uintptr_t, intptr_t>;

    void PostNotify(int window, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard guard(lock_);
        if (window != platform::IDD_MAIN_WINDOW) return;
        if (posted_.empty()) firstAt_ = std::chrono::steady_clock::now();
        posted_.emplace_back(wParam, lParam);
        changed_.notify_all();
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
    size_t Count() {
        std::lock_guard guard(lock_);
        return posted_.size();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Notice> posted_;
    std::chrono::steady_clock::time_point firstAt_;
};

// The application ready to download into <world>/maps from a service (port 0: a free one)
// serving <world>/set; no proxy from the environment gets between them.
inline void PrepareDownload(TestWorld& world, RecordingView& view, mapservice::ServiceConfig& config,
                            const char* binDir) {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    platform::SetView(&view);
    theApp.ResetState();
    theApp.ProgramFolder = world.Win(world.root + "/program") + "\\";
    theApp.ProductNumber = "VT-01";
    std::filesystem::create_directories(world.root + "/maps");
    theApp.MapFolder = world.Win(world.root + "/maps");
    BindSha512(binDir);
    config.httpPort = 0;
    config.updateSet = world.root + "/set";
    config.callLog = world.root + "/calls.jsonl";
}
