// The volume handles a front end's windows watch for removal, and the window watching each. The
// headless and Qt front ends keep them so that at each wake of their device-change watcher the
// simulated machine's removal requests reach the watching window, as Windows puts the tray's
// "safely remove" to it, with the events that follow.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/View.h"

namespace ui {

class RemovalWatches {
public:
    // Set and ended from any thread (the device layer holds and lets go of the volume). The
    // handle is open when its watch begins; the watch may outlive it.
    void Watch(platform::HANDLE volume, int window) {
        std::string unit = platform::RemovalUnitOf(volume);
        std::lock_guard guard(lock_);
        watches_[volume] = {window, unit};
    }
    void Stop(platform::HANDLE volume) {
        std::lock_guard guard(lock_);
        watches_.erase(volume);
    }

    // Answers the pending removal requests; `logicOf` gives an open window's logic, or null.
    void AnswerRequests(const std::function<platform::ViewHandler*(int window)>& logicOf) {
        // A window no longer open has no say, as a destroyed window has none on Windows.
        auto logic = [&](platform::HANDLE volume) -> platform::ViewHandler* {
            int window = 0;
            {
                std::lock_guard guard(lock_);
                if (auto watch = watches_.find(volume); watch != watches_.end()) window = watch->second.window;
            }
            return window != 0 ? logicOf(window) : nullptr;
        };
        platform::RemovalReceiver receiver;
        receiver.registered = [&] {
            std::vector<platform::RemovalWatch> registered;
            std::lock_guard guard(lock_);
            for (auto& [volume, watch] : watches_) registered.push_back({volume, watch.unit});
            return registered;
        };
        receiver.queryRemove = [&](platform::HANDLE volume) {
            platform::ViewHandler* window = logic(volume);
            return window == nullptr || window->OnQueryRemoveVolume(volume);
        };
        receiver.removeFailed = [&](platform::HANDLE volume) {
            if (platform::ViewHandler* window = logic(volume)) window->OnVolumeRemoveFailed(volume);
        };
        receiver.removeComplete = [&](platform::HANDLE volume) {
            if (platform::ViewHandler* window = logic(volume)) window->OnVolumeRemoved(volume);
        };
        platform::AnswerRemovalRequests(receiver);
    }

private:
    struct Watched {
        int window = 0;
        std::string unit;
    };
    std::mutex lock_;
    std::map<platform::HANDLE, Watched> watches_;
};

}  // namespace ui
