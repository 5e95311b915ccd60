// Device changes on the real PC: an epoll descriptor over a udev monitor of the block subsystem
// and /proc/self/mountinfo, which the kernel flags on every mount and unmount.
#include "platform/linux/DeviceWatch.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace platform::linuxpc {
namespace {

std::string MountTable(int fd) {
    std::string text;
    char buffer[4096];
    for (off_t offset = 0;;) {
        ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0) return text;
        text.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
}

[[nodiscard]] bool Watch(int epollFd, int fd, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    return ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

DeviceWatch::DeviceWatch() {
    context_.reset(udev_new());
    if (context_) monitor_.reset(udev_monitor_new_from_netlink(context_.get(), "udev"));
    if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_.get()) < 0)
        return;
    mountsFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (mountsFd_ < 0) return;
    mounts_ = MountTable(mountsFd_);
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) return;
    if (!Watch(epollFd_, udev_monitor_get_fd(monitor_.get()), EPOLLIN) || !Watch(epollFd_, mountsFd_, EPOLLPRI)) {
        ::close(epollFd_);
        epollFd_ = -1;
    }
}

DeviceWatch::~DeviceWatch() {
    if (epollFd_ >= 0) ::close(epollFd_);
    if (mountsFd_ >= 0) ::close(mountsFd_);
}

bool DeviceWatch::Consume() {
    if (epollFd_ < 0) return false;
    bool changed = false;
    while (UdevDevice device{udev_monitor_receive_device(monitor_.get())}) changed = true;
    // Polling the mount table clears its flag, and whoever polled our descriptor may have
    // cleared it already: the table itself tells whether a mount changed. The wait only clears
    // the flag; what it returns is not needed.
    epoll_event events[2];
    static_cast<void>(::epoll_wait(epollFd_, events, 2, 0));
    std::string mounts = MountTable(mountsFd_);
    if (mounts != mounts_) {
        mounts_ = std::move(mounts);
        changed = true;
    }
    return changed;
}

}  // namespace platform::linuxpc
