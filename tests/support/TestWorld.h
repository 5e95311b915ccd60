// A world of its own for each test: a temporary folder with a machine folder, a program folder
// and the user's data folder ("user"), the fake clock, and the headless front end as the view. Native paths are UTF-8;
// on Windows they are Windows paths (the machine there is the real one, not a simulated one).
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/UserFolder.h"
#include "platform/View.h"
#if !defined(_WIN32)
#include "platform/sim/Machine.h"
#endif
#include "ui/headless/HeadlessView.h"

class TestWorld {
public:
    TestWorld() : clock(2026, 12, 6, 10, 30, 0) {
        root = MakeRoot();
        std::filesystem::create_directories(Path(root + "/machine"));
        std::filesystem::create_directories(Path(root + "/program"));
        platform::SetUserDataFolderForProcess(root + "/user");
#if !defined(_WIN32)
        platform::SetMachineFolder(root + "/machine");
        platform::ChooseMachine();  // the real PC until a test writes machine.ini and chooses again
#endif
        platform::SetClock(&clock);
        platform::SetView(&view);
    }
    ~TestWorld() {
        platform::SetView(nullptr);
        platform::SetClock(nullptr);
        platform::SetUserDataFolderForProcess("");
        std::error_code ignored;
        std::filesystem::remove_all(Path(root), ignored);
    }
    // The Windows path (CP932) of a native path inside the world.
    std::string Win(const std::string& native) const { return *platform::ToWindowsPath(native); }
    // A native (UTF-8) path for the standard library, whatever the system's code page.
    static std::filesystem::path Path(const std::string& native) {
        return std::filesystem::path(std::u8string(native.begin(), native.end()));
    }
    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(Path(path), std::ios::binary) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(Path(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string root;
    platform::FakeClock clock;
    HeadlessView view;

private:
    static std::string MakeRoot() {
#if defined(_WIN32)
        std::random_device random;
        for (;;) {
            auto folder = std::filesystem::temp_directory_path() / ("veltrane-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(folder)) {
                std::u8string utf8 = folder.u8string();
                return std::string(utf8.begin(), utf8.end());
            }
        }
#else
        char pattern[] = "/tmp/veltrane-test-XXXXXX";
        return mkdtemp(pattern);
#endif
    }
};
