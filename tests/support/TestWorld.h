// A world of its own for each test: a temporary folder with a machine folder and a program
// folder, the fake clock, and the headless front end as the view.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/View.h"
#include "platform/sim/Machine.h"
#include "ui/headless/HeadlessView.h"

class TestWorld {
public:
    TestWorld() : clock(2026, 12, 6, 10, 30, 0) {
        char pattern[] = "/tmp/veltrane-test-XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root + "/machine");
        std::filesystem::create_directories(root + "/program");
        platform::SetMachineFolder(root + "/machine");
        platform::SetClock(&clock);
        platform::SetView(&view);
    }
    ~TestWorld() {
        platform::SetView(nullptr);
        platform::SetClock(nullptr);
        std::filesystem::remove_all(root);
    }
    // The Windows path (CP932) of a native path inside the world.
    std::string Win(const std::string& native) const { return *platform::ToWindowsPath(native); }
    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string root;
    platform::FakeClock clock;
    HeadlessView view;
};
