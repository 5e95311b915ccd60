// The real PC's device changes: udev's block-device events (a disk or partition added, removed
// or changed) and the mount table's changes, behind one descriptor for the front ends to watch.
#pragma once

#include <string>

#include "platform/linux/Udev.h"
#include "platform/posix/MachineSource.h"

namespace platform::linuxpc {

class DeviceWatch : public MachineWatch {
public:
    DeviceWatch();
    ~DeviceWatch() override;
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Readable while a change is pending; -1 when watching failed.
    int Fd() const override { return epollFd_; }
    // Takes the pending events without waiting; true when a block device or a mount changed.
    [[nodiscard]] bool Consume() override;

private:
    Udev context_;
    UdevMonitor monitor_;
    int mountsFd_ = -1;
    int epollFd_ = -1;
    std::string mounts_;  // the mount table as last seen
};

}  // namespace platform::linuxpc
