// The device-change watcher on the simulated machine: inotify on the machine folder, and a
// change is any rewrite of machine.ini. Without a simulated machine it watches the real PC's
// block devices and mounts (platform/linux/DeviceWatch).
#include "platform/DeviceChange.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/DeviceWatch.h"
#include "platform/sim/Machine.h"

namespace platform {

DeviceChangeWatcher::DeviceChangeWatcher() {
    if (!MachineSimulated()) {
        real_ = std::make_unique<linuxpc::DeviceWatch>();
        fd_ = real_->Fd();
        return;
    }
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    // The folder, not the file: machine.ini is rewritten by renaming a new file over it.
    if (inotify_add_watch(fd_, MachineFolder().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0) {
        close(fd_);
        fd_ = -1;
    }
}

DeviceChangeWatcher::~DeviceChangeWatcher() {
    if (!real_ && fd_ >= 0) close(fd_);
}

bool DeviceChangeWatcher::Consume() {
    if (real_) return real_->Consume();
    if (fd_ < 0) return false;
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t length = read(fd_, buffer, sizeof buffer);
        if (length <= 0) return changed;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->len > 0 && std::strcmp(event->name, "machine.ini") == 0) changed = true;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace platform
