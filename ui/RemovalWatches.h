// The volume handles a front end's windows watch for removal, and the window watching each. The
// headless and Qt front ends keep them so that at each device change the simulated machine's
// removal requests reach the watching window, as Windows puts the tray's "safely remove" to it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/View.h"

namespace ui {

class RemovalWatches {
public:
    // Set and ended from any thread (the device layer holds and lets go of the volume).
    void Watch(platform::HANDLE volume, int window) {
        std::lock_guard guard(lock_);
        windows_[volume] = window;
    }
    void Stop(platform::HANDLE volume) {
        std::lock_guard guard(lock_);
        windows_.erase(volume);
    }

    // Answers the pending removal requests; `logicOf` gives an open window's logic, or null.
    void AnswerRequests(const std::function<platform::ViewHandler*(int window)>& logicOf) {
        std::vector<platform::HANDLE> watched;
        {
            std::lock_guard guard(lock_);
            for (auto& [volume, window] : windows_) watched.push_back(volume);
        }
        platform::AnswerRemovalRequests(watched, [&](platform::HANDLE volume) {
            int window = 0;
            {
                std::lock_guard guard(lock_);
                if (auto watch = windows_.find(volume); watch != windows_.end()) window = watch->second;
            }
            // A window no longer open has no say, as a destroyed window has none on Windows.
            platform::ViewHandler* logic = window != 0 ? logicOf(window) : nullptr;
            return logic == nullptr || logic->OnQueryRemoveVolume();
        });
    }

private:
    std::mutex lock_;
    std::map<platform::HANDLE, int> windows_;
};

}  // namespace ui
