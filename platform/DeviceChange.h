// Device-change broadcasts. On the simulated machine every change of machine.ini is a device
// change (a unit plugged or pulled, a letter set or removed), so the front ends watch that file
// and hand each change to their open windows as WM_DEVICECHANGE would reach them.
#pragma once

namespace platform {

class DeviceChangeWatcher {
public:
    DeviceChangeWatcher();
    ~DeviceChangeWatcher();
    DeviceChangeWatcher(const DeviceChangeWatcher&) = delete;
    DeviceChangeWatcher& operator=(const DeviceChangeWatcher&) = delete;

    // Readable when a change is pending (for a socket notifier or poll); -1 when watching failed.
    int Fd() const { return fd_; }
    // Takes the pending events without waiting; true when the machine changed since last time.
    bool Consume();

private:
    int fd_ = -1;
};

}  // namespace platform
