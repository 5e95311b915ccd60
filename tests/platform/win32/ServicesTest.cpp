// The Windows services beside the files: the named mutex, the version resource, drives,
// volumes and processes.
#include <gtest/gtest.h>
#include <process.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Drives.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Handle.h"
#include "platform/Mutex.h"
#include "platform/Processes.h"
#include "platform/Version.h"
#include "platform/Volumes.h"

namespace {

TEST(Win32Services, ASecondNamedMutexReportsThatItExists) {
    const char name[] = "Veltrane テスト mutex";
    platform::HANDLE first = platform::CreateMutexA(true, name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_SUCCESS);
    platform::HANDLE second = platform::CreateMutexA(false, name);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(platform::CloseHandle(second));
    EXPECT_TRUE(platform::CloseHandle(first));
    EXPECT_FALSE(platform::CloseHandle(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
}

TEST(Win32Services, TheExecutableCarriesItsVersion) {
    char path[512];
    ASSERT_GT(platform::GetModuleFileNameA(path, sizeof path), 0u);
    const uint32_t size = platform::GetFileVersionInfoSizeA(path);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(platform::GetFileVersionInfoA(path, size, block.data()));
    void* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(platform::VerQueryValueA(block.data(), "\\StringFileInfo\\041103a4\\FileVersion", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "1.0.3");
    EXPECT_EQ(length, 6u);
    EXPECT_FALSE(platform::VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
    EXPECT_EQ(platform::GetFileVersionInfoSizeA("C:\\no\\such.exe"), 0u);
}

TEST(Win32Services, DrivesAndTheirShellNames) {
    const uint32_t drives = platform::GetLogicalDrives();
    EXPECT_NE(drives & (1u << ('C' - 'A')), 0u);
    EXPECT_EQ(platform::GetDriveTypeA("C:\\"), platform::DRIVE_FIXED);
    int absent = 'Y';
    while (absent > 'D' && (drives & (1u << (absent - 'A')))) --absent;
    const std::string root = std::string(1, static_cast<char>(absent)) + ":\\";
    EXPECT_EQ(platform::GetDriveTypeA(root.c_str()), platform::DRIVE_NO_ROOT_DIR);
    platform::SHFILEINFOA info;
    ASSERT_NE(platform::SHGetFileInfoA("C:\\", 0, &info, sizeof info, platform::SHGFI_DISPLAYNAME), 0u);
    EXPECT_NE(std::string(info.szDisplayName).find("(C:)"), std::string::npos) << info.szDisplayName;
}

TEST(Win32Services, VolumeNamesAreGuidPaths) {
    char name[64];
    platform::HANDLE find = platform::FindFirstVolumeA(name, sizeof name);
    if (find == platform::INVALID_HANDLE_VALUE) GTEST_SKIP() << "the system lists no volume";
    EXPECT_EQ(std::string(name).substr(0, 11), "\\\\?\\Volume{");
    EXPECT_EQ(name[std::strlen(name) - 1], '\\');
    char small[8];
    while (platform::FindNextVolumeA(find, name, sizeof name))
        EXPECT_EQ(std::string(name).substr(0, 11), "\\\\?\\Volume{");
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NO_MORE_FILES);
    EXPECT_TRUE(platform::FindVolumeClose(find));
    EXPECT_FALSE(platform::GetVolumeNameForVolumeMountPointA("C:\\", small, sizeof small));
}

TEST(Win32Services, OurOwnProcessIsListedWithItsImageName) {
    std::vector<uint32_t> ids(4096);
    uint32_t bytes = 0;
    ASSERT_TRUE(platform::EnumProcesses(ids.data(), static_cast<uint32_t>(ids.size() * 4), &bytes));
    ids.resize(bytes / 4);
    const uint32_t self = static_cast<uint32_t>(_getpid());
    EXPECT_NE(std::find(ids.begin(), ids.end(), self), ids.end());
    platform::HANDLE process =
        platform::OpenProcess(platform::PROCESS_QUERY_INFORMATION | platform::PROCESS_VM_READ, false, self);
    ASSERT_NE(process, nullptr);
    platform::HMODULE module = nullptr;
    uint32_t needed = 0;
    ASSERT_TRUE(platform::EnumProcessModules(process, &module, sizeof module, &needed));
    char name[260];
    const uint32_t n = platform::GetModuleBaseNameA(process, module, name, sizeof name);
    EXPECT_TRUE(platform::EqualsNoCase(std::string(name, n), "platform_win32_tests.exe")) << name;
    EXPECT_TRUE(platform::CloseHandle(process));
}

}  // namespace
