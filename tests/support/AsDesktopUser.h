// The real PC's source as a desktop user sees it: a user who is not root and not in the "disk"
// group (nobody), whose device opens the kernel refuses, so every privilege goes through
// udisks2 and polkit. The test, as root, starts the daemons (UDisksWorld with the rules below)
// and runs one of its own disabled tests again as that user (runuser), which reads what it
// needs from the environment.
//
// The test-only polkit rule lets that user do whatever udisks2 offers, records every udisks2
// request polkit is asked about (one line each, the action's id), and answers the raw open
// (org.freedesktop.udisks2.open-device, -system for loop devices) as the answer file says.
// Unmounting a file system another user mounted is always refused.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "support/LoopDevice.h"
#include "support/TestWorld.h"
#include "support/UDisksWorld.h"

class DesktopUserRules {
public:
    static constexpr char kUser[] = "nobody";

    DesktopUserRules()
        : folder_(std::filesystem::temp_directory_path() / ("veltrane-polkit-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(folder_ + "/rules");
        TestWorld::WriteFile(folder_ + "/rules/10-veltrane-test.rules", Rule());
        ForgetRequests();
        AnswerOpenDevice(true);
        // polkitd reads the rules as its own user; the rule's helpers write as root.
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_read |
                                                  std::filesystem::perms::others_exec);
        std::filesystem::permissions(folder_ + "/rules", std::filesystem::perms::owner_all |
                                                             std::filesystem::perms::others_read |
                                                             std::filesystem::perms::others_exec);
    }
    ~DesktopUserRules() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    DesktopUserRules(const DesktopUserRules&) = delete;
    DesktopUserRules& operator=(const DesktopUserRules&) = delete;

    std::string RulesFolder() const { return folder_ + "/rules"; }
    void AnswerOpenDevice(bool grant) const { TestWorld::WriteFile(folder_ + "/answer", grant ? "yes\n" : "no\n"); }
    // polkitd's helpers run as its own user and append here.
    void ForgetRequests() const {
        TestWorld::WriteFile(Requests(), "");
        std::filesystem::permissions(Requests(), std::filesystem::perms::all & ~(std::filesystem::perms::owner_exec |
                                                                                 std::filesystem::perms::group_exec |
                                                                                 std::filesystem::perms::others_exec));
    }
    // How many requests polkit was asked about whose action id starts with `prefix`.
    int Asked(const std::string& prefix) const {
        std::ifstream in(Requests());
        int count = 0;
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) ++count;
        return count;
    }
    int OpenDeviceRequests() const { return Asked("org.freedesktop.udisks2.open-device"); }

private:
    std::string Requests() const { return folder_ + "/requests"; }
    std::string Rule() const {
        return "// Test only (never installed): what the unprivileged tests' user may do through udisks2.\n"
               "polkit.addRule(function(action, subject) {\n"
               "    if (subject.user != '" +
               std::string(kUser) +
               "' || action.id.indexOf('org.freedesktop.udisks2.') != 0)\n"
               "        return polkit.Result.NOT_HANDLED;\n"
               "    polkit.spawn(['/bin/sh', '-c', 'echo \"$0\" >> " +
               Requests() +
               "', action.id]);\n"
               "    if (action.id.indexOf('org.freedesktop.udisks2.filesystem-unmount-others') == 0)\n"
               "        return polkit.Result.NO;\n"
               "    if (action.id.indexOf('org.freedesktop.udisks2.open-device') == 0)\n"
               "        return polkit.spawn(['/bin/cat', '" +
               folder_ +
               "/answer']).trim() == 'yes' ? polkit.Result.YES\n"
               "                                                                       : polkit.Result.NO;\n"
               "    return polkit.Result.YES;\n"
               "});\n";
    }

    std::string folder_;
};

// The command prefix that runs what follows it as DesktopUserRules' user, with the test's
// system bus and preload library and `environment` added.
inline std::string AsDesktopUserCommand(const std::map<std::string, std::string>& environment) {
    std::string command = std::string("runuser -u ") + DesktopUserRules::kUser + " -- env";
    for (const char* inherited : {"DBUS_SYSTEM_BUS_ADDRESS", "LD_PRELOAD"})
        if (const char* value = std::getenv(inherited)) command += std::string(" ") + inherited + "='" + value + "'";
    for (const auto& [name, value] : environment) command += " " + name + "='" + value + "'";
    return command;
}

// Runs `test` (a disabled test of this program, "Suite.DISABLED_Name") as DesktopUserRules'
// user with `environment` added; its exit status (0: passed), its output in *output.
inline int RunAsDesktopUser(const std::string& test, std::map<std::string, std::string> environment,
                            std::string* output) {
    // No machine folder: the real PC's source.
    environment.emplace("VELTRANE_MACHINE", "/nonexistent");
    const std::string command = AsDesktopUserCommand(environment) + " '" +
                                std::filesystem::read_symlink("/proc/self/exe").string() + "' --gtest_filter=" + test +
                                " --gtest_also_run_disabled_tests 2>&1";
    output->clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output->append(chunk, n);
    return ::pclose(pipe);
}

// A suite of tests that act as the desktop user on a partitioned loop device: the rules and the
// daemons live for the suite, and each test starts with polkit's record empty and the raw open
// granted.
class DesktopUserSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rules = new DesktopUserRules;
        daemons = new UDisksWorld(rules->RulesFolder());
    }
    static void TearDownTestSuite() {
        delete daemons;
        delete rules;
    }
    void SetUp() override {
        if (!daemons->SkipReason().empty()) GTEST_SKIP() << daemons->SkipReason();
        if (std::string reason = PartitionSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
        if (!Shell("command -v runuser")) GTEST_SKIP() << "runuser is missing (util-linux)";
        rules->ForgetRequests();
        rules->AnswerOpenDevice(true);
    }

    static inline DesktopUserRules* rules = nullptr;
    static inline UDisksWorld* daemons = nullptr;
};
