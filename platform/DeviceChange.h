// Device-change broadcasts. On the simulated machine every change of machine.ini is a device
// change (a unit plugged or pulled, a letter set or removed), so the front ends watch that file
// and hand each change to their open windows as WM_DEVICECHANGE would reach them. On Windows
// the watcher is a hidden top-level window of its own thread that receives the broadcasts; on a
// real Linux PC it watches udev's block-device events and the mount table.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Handle.h"

#if !defined(_WIN32)
#include <memory>

namespace platform {
class MachineWatch;
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
    std::unique_ptr<MachineWatch> watch_;  // the source's watch, which owns fd_
#endif
};

// The removals the user asked for on the simulated machine ("navisim eject"), put to the windows
// that registered a handle to the unit's volume as Windows puts the tray's "safely remove" to
// them (Microsoft, "Processing a Request to Remove a Device"): DBT_DEVICEQUERYREMOVE to each
// handle registered for the unit until one refuses, then DBT_DEVICEQUERYREMOVEFAILED, or
// DBT_DEVICEREMOVECOMPLETE once the unit went, to each handle asked that is still registered.
// Events reach only registrations: a handle unregistered meanwhile hears nothing more. A
// registration outlives its handle's close, as on Windows. A front end calls this whenever its
// device-change watcher wakes; requests and answers are no device change themselves. Each
// request is answered in the machine folder: "refused" when a watcher refused, "in use" when a
// handle to the volume is still open afterwards or a program holds the device, else
// "removed", and the unit goes as an eject takes it. Nothing on a real PC: Windows asks the
// registered windows itself, and Linux has no such request.
struct RemovalWatch {
    HANDLE volume = nullptr;
    std::string unit;  // RemovalUnitOf(volume) when the watch began
};
struct RemovalReceiver {
    std::function<std::vector<RemovalWatch>()> registered;
    std::function<bool(HANDLE)> queryRemove;  // true lets the unit go; the handle is closed by then
    std::function<void(HANDLE)> removeFailed;
    std::function<void(HANDLE)> removeComplete;
};
void AnswerRemovalRequests(const RemovalReceiver& receiver);
// The unit an open raw volume handle belongs to, empty for any other handle; asked when its
// watch begins, while the handle is open.
std::string RemovalUnitOf(HANDLE volume);

}  // namespace platform
