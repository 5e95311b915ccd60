// Device-change broadcasts. On the simulated machine every change of machine.ini is a device
// change (a unit plugged or pulled, a letter set or removed), so the front ends watch that file
// and hand each change to their open windows as WM_DEVICECHANGE would reach them. On Windows
// the watcher is a hidden top-level window of its own thread that receives the broadcasts; on a
// real Linux PC it watches udev's block-device events and the mount table.
#pragma once

#include <functional>
#include <vector>

#include "platform/Handle.h"

#if !defined(_WIN32)
#include <memory>

namespace platform::linuxpc {
class DeviceWatch;
}
#endif

namespace platform {

class DeviceChangeWatcher {
public:
    DeviceChangeWatcher();
    ~DeviceChangeWatcher();
    DeviceChangeWatcher(const DeviceChangeWatcher&) = delete;
    DeviceChangeWatcher& operator=(const DeviceChangeWatcher&) = delete;

#if defined(_WIN32)
    // Signalled while a change is pending (for a wait on handles); null when watching failed.
    void* Event() const { return event_; }
#else
    // Readable when a change is pending (for a socket notifier or poll); -1 when watching failed.
    int Fd() const { return fd_; }
#endif
    // Takes the pending events without waiting; true when the machine changed since last time.
    bool Consume();

private:
#if defined(_WIN32)
    void* event_ = nullptr;
    void* thread_ = nullptr;
    void* window_ = nullptr;
#else
    int fd_ = -1;
    std::unique_ptr<linuxpc::DeviceWatch> real_;  // the real PC's watch, which owns fd_
#endif
};

// The removals the user asked for on the simulated machine ("navisim eject"), put to the
// holders of the unit's volume as Windows puts the tray's "safely remove" to the windows that
// registered a handle to it. A front end calls this at each device change with the handles its
// windows watch; `ask` is the watching window's answer. Each request is answered in
// machine.ini: "refused" when a watcher refused, "in use" when a handle to the volume is still
// open afterwards, else "removed", and the unit goes as an eject takes it. Nothing on a real
// PC: Windows asks the registered windows itself, and Linux has no such request.
void AnswerRemovalRequests(const std::vector<HANDLE>& watched, const std::function<bool(HANDLE)>& ask);

}  // namespace platform
