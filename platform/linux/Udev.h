// libudev's reference-counted objects held by std::unique_ptr, so every path drops its references.
#pragma once

#include <libudev.h>

#include <memory>

namespace platform::linuxpc {

template <auto Unref>
struct UdevUnref {
    template <typename T>
    void operator()(T* object) const {
        Unref(object);
    }
};

using Udev = std::unique_ptr<udev, UdevUnref<udev_unref>>;
using UdevDevice = std::unique_ptr<udev_device, UdevUnref<udev_device_unref>>;
using UdevEnumerate = std::unique_ptr<udev_enumerate, UdevUnref<udev_enumerate_unref>>;
using UdevMonitor = std::unique_ptr<udev_monitor, UdevUnref<udev_monitor_unref>>;

}  // namespace platform::linuxpc
