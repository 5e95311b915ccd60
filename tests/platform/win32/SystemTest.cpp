// What only the Windows build has: the manifest and fixed version of the executable, the
// device-change window, and the system code page the run chose. <windows.h> comes last and
// only Windows names are used beside the platform calls: its macros hide the platform's
// constants of the same names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DeviceChange.h"
#include "platform/Files.h"
#include "platform/Version.h"
#include "platform/win32/Windows.h"
#include <dbt.h>

namespace {

TEST(Win32System, TheExecutableCarriesItsManifestAndFixedVersion) {
    char path[512];
    ASSERT_GT(platform::GetModuleFileNameA(path, sizeof path), 0u);
    const uint32_t size = platform::GetFileVersionInfoSizeA(path);
    std::vector<char> block(size);
    ASSERT_TRUE(platform::GetFileVersionInfoA(path, size, block.data()));
    void* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(platform::VerQueryValueA(block.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030000u);

    HRSRC manifest = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(nullptr, manifest)));
    const std::string xml(text, SizeofResource(nullptr, manifest));
    EXPECT_NE(xml.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    // Not DPI aware, scaled by Windows. Wine reports per-monitor awareness whatever a manifest
    // says, so only the text is checked here; a real PC shows the effect.
    EXPECT_NE(xml.find(">false</dpiAware>"), std::string::npos);
    EXPECT_NE(xml.find(">unaware</dpiAwareness>"), std::string::npos);
    EXPECT_NE(xml.find(">true</gdiScaling>"), std::string::npos);
}

TEST(Win32System, TheWatcherSeesDeviceChangeBroadcasts) {
    platform::DeviceChangeWatcher watcher;
    ASSERT_NE(watcher.Event(), nullptr);
    EXPECT_FALSE(watcher.Consume());
    HWND window = FindWindowW(L"VeltraneDeviceChangeWatcher", nullptr);
    ASSERT_NE(window, nullptr);
    // Asking whether a device may go is no change; the device tree changing is one.
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 0);
    EXPECT_FALSE(watcher.Consume());
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(WaitForSingleObject(watcher.Event(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(watcher.Consume());
    EXPECT_FALSE(watcher.Consume());
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    EXPECT_TRUE(watcher.Consume());
}

// The backends convert with code page 932 themselves: the system's ANSI code page, which the
// run chooses through the locale (VELTRANE_EXPECT_ACP), changes nothing.
TEST(Win32System, JapaneseTextWhateverTheSystemCodePage) {
    if (const char* expected = std::getenv("VELTRANE_EXPECT_ACP")) {
        EXPECT_EQ(GetACP(), std::strtoul(expected, nullptr, 10));
    }
    auto utf16 = platform::Cp932ToUtf16("パソコン");
    ASSERT_TRUE(utf16);
    EXPECT_EQ(*utf16, u"\u30D1\u30BD\u30B3\u30F3");
    EXPECT_EQ(platform::Utf16ToCp932(u"\u5730\u56F3"), "地図");
    EXPECT_FALSE(platform::Utf16ToCp932(u"\u00E9"));  // CP932 has no é
}

}  // namespace
