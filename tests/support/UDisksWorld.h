// udisks2 for the real PC's tests, started by the test itself (as root): a system bus of its
// own, systemd-udevd when none runs (udisks2 takes the file-system type and UUID from udev's
// database) and udisksd on that bus. Given a folder of polkit rules, polkitd runs on the bus as
// well, with those rules in place of the machine's own (a private mount namespace binds the
// folder over /etc/polkit-1/rules.d), so tests can call udisks2 as a user who is not root.
// Tests ask SkipReason() first.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/linux/UDisks.h"
#include "support/LoopDevice.h"
#include "support/TestSystemBus.h"

class UDisksWorld {
public:
    static constexpr char kUDisksd[] = "/usr/libexec/udisks2/udisksd";
    static constexpr char kUdevd[] = "/lib/systemd/systemd-udevd";
    static constexpr char kPolkitd[] = "/usr/lib/polkit-1/polkitd";

    // Empty when the daemons could be started, else why not.
    const std::string& SkipReason() const { return skip_; }

    explicit UDisksWorld(const std::string& polkitRules = {}) {
        if (skip_ = LoopSkipReason(); !skip_.empty()) return;
        for (const char* tool : {"udevadm", "mkfs.ext4"})
            if (!Shell(std::string("command -v ") + tool)) {
                skip_ = std::string(tool) + " is missing (scripts/install-deps.sh installs udev, e2fsprogs)";
                return;
            }
        if (::access(kUDisksd, X_OK) != 0 || ::access(kUdevd, X_OK) != 0) {
            skip_ = "udisks2 or udev is not installed (scripts/install-deps.sh installs them)";
            return;
        }
        if (skip_ = bus_.SkipReason(); !skip_.empty()) return;
        if (!Shell("udevadm control --ping")) {
            if (!Shell(std::string(kUdevd) + " --daemon")) {
                skip_ = "systemd-udevd could not start here";
                return;
            }
            ownUdevd_ = true;
        }
        // udisksd asks polkitd from its start: polkitd must be on the bus first.
        if (!polkitRules.empty() && !StartPolkitd(polkitRules)) return;
        udisksPid_ = ::fork();
        if (udisksPid_ == 0) {
            // Its messages (no logind to inhibit sleep, partition rescans on loop devices) are noise here.
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl(kUDisksd, kUDisksd, "--no-debug", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (!WaitFor([] { return platform::linuxpc::UDisksList().has_value(); }))
            skip_ = "udisksd did not come up on the test's system bus";
    }
    ~UDisksWorld() {
        for (pid_t pid : {udisksPid_, polkitPid_}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (ownUdevd_) static_cast<void>(Shell("udevadm control --exit"));  // it ends with its last event
    }
    UDisksWorld(const UDisksWorld&) = delete;
    UDisksWorld& operator=(const UDisksWorld&) = delete;

    // Tells udev about a loop device just attached or changed and waits until udisks2 shows
    // it with `idType` ("" for whatever it holds).
    static bool Announce(const std::string& node, const std::string& idType = "") {
        static_cast<void>(Shell("udevadm trigger --action=change '" + node + "'"));  // waited for below
        static_cast<void>(Shell("udevadm settle -t 10"));
        return WaitFor([&] {
            auto objects = platform::linuxpc::UDisksList();
            if (!objects) return false;
            for (const auto& block : objects->blocks)
                if (block.device == node) return idType.empty() ? true : block.idType == idType;
            return false;
        });
    }

    // The block object udisks2 shows for a device node, or nullopt.
    static std::optional<platform::linuxpc::UDisksBlock> Block(const std::string& node) {
        auto objects = platform::linuxpc::UDisksList();
        if (!objects) return std::nullopt;
        for (const auto& block : objects->blocks)
            if (block.device == node) return block;
        return std::nullopt;
    }

    // Polls the daemons (real time: they run outside the fake clock) for up to ten seconds.
    static bool WaitFor(const std::function<bool()>& ready) {
        for (int i = 0; i < 200; ++i) {
            if (ready()) return true;
            ::usleep(50 * 1000);
        }
        return false;
    }

private:
    [[nodiscard]] bool StartPolkitd(const std::string& rules) {
        if (::access(kPolkitd, X_OK) != 0 || !Shell("command -v unshare")) {
            skip_ = "polkitd or unshare is missing (scripts/install-deps.sh installs polkitd and util-linux)";
            return false;
        }
        polkitPid_ = ::fork();
        if (polkitPid_ == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            const std::string command = "mount --bind '" + rules + "' /etc/polkit-1/rules.d && exec " + kPolkitd;
            ::execlp("unshare", "unshare", "-m", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (!WaitFor([] {
                return ShellOutput(
                           "gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                           "--method org.freedesktop.DBus.NameHasOwner org.freedesktop.PolicyKit1")
                           .find("true") != std::string::npos;
            })) {
            skip_ = "polkitd did not come up on the test's system bus (a private mount namespace needs root)";
            return false;
        }
        return true;
    }

    TestSystemBus bus_;
    std::string skip_;
    pid_t udisksPid_ = 0;
    pid_t polkitPid_ = 0;
    bool ownUdevd_ = false;
};
