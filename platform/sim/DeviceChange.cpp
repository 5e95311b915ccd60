// The device-change watch of the simulated machine: inotify on the machine folder, and a change
// is any rewrite of machine.ini.
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

#include "platform/sim/Services.h"

namespace platform::sim {
namespace {

class MachineIniWatch : public MachineWatch {
public:
    MachineIniWatch() {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) return;
        // The folder, not the file: machine.ini is rewritten by renaming a new file over it.
        if (inotify_add_watch(fd_, MachineFolder().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~MachineIniWatch() override {
        if (fd_ >= 0) close(fd_);
    }
    MachineIniWatch(const MachineIniWatch&) = delete;
    MachineIniWatch& operator=(const MachineIniWatch&) = delete;

    int Fd() const override { return fd_; }

    bool Consume() override {
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

private:
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<MachineWatch> WatchChanges() { return std::make_unique<MachineIniWatch>(); }

}  // namespace platform::sim
