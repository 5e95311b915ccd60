// Saving a profile on the system's own file calls while another program holds the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Profile.h"
#include "support/TestWorld.h"
#include "platform/win32/Windows.h"

// A scanner holding the profile file for a moment: the save waits for it, up to about a second.
TEST(Win32Profile, SavingAProfileWaitsForAScannerThatHoldsTheFile) {
    TestWorld world;
    const std::string file = world.Win(world.root) + "\\Veltrane.ini";
    ASSERT_TRUE(platform::WritePrivateProfileStringA("S", "K", "old", file.c_str()));
    const std::wstring wide = std::filesystem::path(world.root + "/Veltrane.ini").wstring();
    struct ScannerClock : platform::FakeClock {
        ScannerClock() : FakeClock(2026, 12, 6, 10, 30, 0) {}
        void Sleep(uint32_t milliseconds) override {
            pauses.push_back(milliseconds);
            if (pauses.size() == releaseAfter && scanner != INVALID_HANDLE_VALUE) {
                ::CloseHandle(scanner);
                scanner = INVALID_HANDLE_VALUE;
            }
            FakeClock::Sleep(milliseconds);
        }
        HANDLE scanner = INVALID_HANDLE_VALUE;
        size_t releaseAfter = 0;
        std::vector<uint32_t> pauses;
    } clock;
    platform::SetClock(&clock);
    auto holdFile = [&] {
        return ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    };

    clock.scanner = holdFile();
    ASSERT_NE(clock.scanner, INVALID_HANDLE_VALUE);
    clock.releaseAfter = 3;
    EXPECT_TRUE(platform::WritePrivateProfileStringA("S", "K", "new", file.c_str())) << platform::GetLastError();
    EXPECT_EQ(clock.pauses, (std::vector<uint32_t>{50, 50, 50}));
    char value[16] = {};
    platform::GetPrivateProfileStringA("S", "K", "", value, sizeof value, file.c_str());
    EXPECT_STREQ(value, "new");

    // Held for good: twenty tries, then the save fails and the old file stays whole.
    clock.pauses.clear();
    clock.scanner = holdFile();
    clock.releaseAfter = 0;
    EXPECT_FALSE(platform::WritePrivateProfileStringA("S", "K", "newer", file.c_str()));
    EXPECT_EQ(clock.pauses.size(), 19u);
    ::CloseHandle(clock.scanner);
    platform::GetPrivateProfileStringA("S", "K", "", value, sizeof value, file.c_str());
    EXPECT_STREQ(value, "new");
    platform::SetClock(&world.clock);
}
