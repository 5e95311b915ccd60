// A system bus of the test's own (as root): dbus-daemon with the system policy on a socket in a
// temporary folder, made the process's system bus through $DBUS_SYSTEM_BUS_ADDRESS, so a bus
// the machine may run is left alone. Root may own and call any name on it, so a test's stand-in serves
// a daemon this machine does not have installed (UPower). Tests ask SkipReason() first.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/LoopDevice.h"

class TestSystemBus {
public:
    TestSystemBus() {
        if (::geteuid() != 0) {
            skip_ = "a system bus of the test's own needs root (dbus-daemon takes on its policy's user)";
            return;
        }
        if (!Shell("command -v dbus-daemon")) {
            skip_ = "dbus-daemon is missing (scripts/install-deps.sh installs dbus)";
            return;
        }
        folder_ = std::filesystem::temp_directory_path() / ("veltrane-bus-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        std::string address = "unix:path=" + folder_ + "/system_bus_socket";
        const std::string config = folder_ + "/system.conf";
        std::ofstream(config) << PolicyWithoutActivation()
                              << "<policy user=\"root\"><allow own=\"*\"/><allow send_destination=\"*\"/></policy>"
                                 "</busconfig>\n";
        std::string pid = ShellOutput("dbus-daemon --config-file=" + config + " --address=" + address +
                                      " --nopidfile --fork --print-pid");
        pid_ = std::atoi(pid.c_str());
        if (pid_ <= 0) {
            skip_ = "dbus-daemon could not start a system bus here";
            return;
        }
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }
    ~TestSystemBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    TestSystemBus(const TestSystemBus&) = delete;
    TestSystemBus& operator=(const TestSystemBus&) = delete;

    // Empty when the bus runs, else why not.
    const std::string& SkipReason() const { return skip_; }

private:
    // The machine's system bus configuration without its service activation, its closing tag
    // left to the caller. A service activated from here would run with the machine's own bus
    // address (the launch helper clears the environment): a udisksd or polkitd started that way
    // outlives the test on the machine's bus and watches the same loop devices as the test's.
    // A name nobody owns fails at once instead, and the test starts what it needs itself.
    static std::string PolicyWithoutActivation() {
        std::ifstream file("/usr/share/dbus-1/system.conf");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (const char* tag : {"<standard_system_servicedirs/>", "<servicehelper>", "<pidfile>"}) {
            const size_t start = text.find(tag);
            if (start != std::string::npos) text.erase(start, text.find('\n', start) - start);
        }
        // Its relative folder of service policies is read from the configuration's own folder.
        const std::string relative = "<includedir>system.d</includedir>";
        if (const size_t at = text.find(relative); at != std::string::npos)
            text.replace(at, relative.size(), "<includedir>/usr/share/dbus-1/system.d</includedir>");
        return text.substr(0, text.rfind("</busconfig>"));
    }

    std::string skip_;
    std::string folder_;
    int pid_ = 0;
};

// No system bus for the life of the object: $DBUS_SYSTEM_BUS_ADDRESS names a socket that does not
// exist, so the real PC's source works as on a PC without udisks2. A udisks2 the machine runs
// learns of a new loop device's partition only after udev, and meanwhile would deny a letter's
// node its volume; tests of the PC without udisks2 must not meet it.
class NoSystemBus {
public:
    NoSystemBus() {
        if (const char* given = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) saved_ = given;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/veltrane-no-system-bus", 1);
    }
    ~NoSystemBus() {
        if (saved_.empty())
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_.c_str(), 1);
    }
    NoSystemBus(const NoSystemBus&) = delete;
    NoSystemBus& operator=(const NoSystemBus&) = delete;

private:
    std::string saved_;
};
