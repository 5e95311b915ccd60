// Where libraries come from in an administrator program: the program's own two by full path
// from the program folder and nowhere else, the system's from System32 only once the program
// has made its start call.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Library.h"
// After the platform headers, as <windows.h> must come.
#include "platform/win32/Windows.h"

namespace fs = std::filesystem;

// A program folder of the test's own, without the libraries: a bare name is not looked for in
// the working directory, the executable's real folder or on the path, where both libraries are.
TEST(DllSearch, ABareNameLoadsFromTheProgramFolderOnly) {
    const fs::path folder = fs::temp_directory_path() / "veltrane-dll-folder";
    fs::remove_all(folder);
    fs::create_directories(folder);
    platform::SetModuleFileNameForProcess((folder / "Veltrane.exe").string());
    EXPECT_EQ(platform::LoadLibraryA("Decode.dll"), nullptr);
    EXPECT_EQ(platform::GetLastError(), static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));

    fs::copy_file("Decode.dll", folder / "Decode.dll");
    platform::HMODULE decode = platform::LoadLibraryA("Decode.dll");
    ASSERT_NE(decode, nullptr) << platform::GetLastError();
    wchar_t loaded[MAX_PATH] = {};
    ::GetModuleFileNameW(static_cast<HMODULE>(decode), loaded, MAX_PATH);
    EXPECT_EQ(fs::path(loaded), folder / "Decode.dll");
    EXPECT_TRUE(platform::FreeLibrary(decode));
    platform::SetModuleFileNameForProcess("");
    fs::remove_all(folder);
}

// What the program does first: afterwards a library loaded by bare name comes from System32
// only, so sha512.dll beside the executable is not found that way, and xmllite.dll still is.
TEST(DllSearch, AfterTheStartCallBareNamesComeFromSystem32Only) {
    HMODULE before = ::LoadLibraryW(L"sha512.dll");
    ASSERT_NE(before, nullptr) << "the executable's folder is searched by default";
    ::FreeLibrary(before);
    ASSERT_TRUE(platform::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_EQ(::LoadLibraryW(L"sha512.dll"), nullptr);
    HMODULE xmllite = ::LoadLibraryW(L"xmllite.dll");
    EXPECT_NE(xmllite, nullptr);
    if (xmllite != nullptr) ::FreeLibrary(xmllite);
}
