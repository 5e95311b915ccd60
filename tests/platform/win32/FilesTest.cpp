// The file services on the system's own calls, with Japanese names in CP932 whatever the
// system code page is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Gzip.h"
#include "platform/Md5.h"
#include "support/TestWorld.h"

using namespace platform;

namespace {

// "パソコン" and "地図" hold 0x5C as a second byte and characters of two bytes.
const std::string kFolder = "パソコン";

std::string ReadAll(const std::string& path) {
    FILE* f = platform::fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    std::string bytes;
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

TEST(Win32Files, JapaneseNamesAreCreatedFoundCopiedAndRemoved) {
    TestWorld world;
    const std::string base = world.Win(world.root);
    const std::string folder = base + "\\" + kFolder;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str())) << GetLastError();
    EXPECT_FALSE(CreateDirectoryA(folder.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    const std::string file = folder + "\\地図.ini";
    FILE* f = platform::fopen(file.c_str(), "wt");
    ASSERT_NE(f, nullptr);
    fputs("line\r\n", f);  // "t" writes the bytes as they are, as on every system
    fclose(f);
    EXPECT_EQ(ReadAll(file), "line\r\n");
    // The native side holds the name in UTF-8.
    EXPECT_EQ(TestWorld::ReadFile(world.root +
                                  "/\xE3\x83\x91\xE3\x82\xBD\xE3\x82\xB3\xE3\x83\xB3/\xE5\x9C\xB0\xE5\x9B\xB3.ini"),
              "line\r\n");

    const std::string copy = folder + "\\コピー.ini";
    ASSERT_TRUE(CopyFileA(file.c_str(), copy.c_str(), true));
    EXPECT_FALSE(CopyFileA(file.c_str(), copy.c_str(), true));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_FALSE(MoveFileA(file.c_str(), copy.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    std::vector<FindData> found = FindFiles(folder + "\\*.ini");
    std::vector<std::string> names;
    for (const FindData& entry : found) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"コピー.ini", "地図.ini"}));
    EXPECT_EQ(found[0].size, 6u);
    EXPECT_TRUE(FindFiles(folder + "\\*.dat").empty());
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    ASSERT_TRUE(DeleteFileA(file.c_str()));
    ASSERT_TRUE(DeleteFileA(copy.c_str()));
    EXPECT_FALSE(DeleteFileA(copy.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The system matches the patterns the program uses ("*.*", "*.log", piece names) as the
// program's own wildcard rule does on Linux.
TEST(Win32Files, FindMatchesWildcardsAsTheProgramDoes) {
    TestWorld world;
    std::filesystem::create_directory(TestWorld::Path(world.root + "/found"));
    for (const char* name :
         {"README", "a.LOG", "a.log.bak", "LPA080.DAT.003", "\xE3\x83\x91\xE3\x82\xBD\xE3\x82\xB3\xE3\x83\xB3.txt"})
        TestWorld::WriteFile(world.root + "/found/" + name, "x");
    const std::string folder = world.Win(world.root) + "\\found\\";
    auto names = [&](const char* pattern) {
        std::vector<std::string> found;
        for (const FindData& entry : FindFiles(folder + pattern))
            if (entry.name != "." && entry.name != "..") found.push_back(entry.name);
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names("*.*").size(), 5u);
    EXPECT_EQ(names("*.log"), std::vector<std::string>{"a.LOG"});
    EXPECT_EQ(names("LPA080.DAT.???"), std::vector<std::string>{"LPA080.DAT.003"});
    EXPECT_EQ(names("??コン.*"), std::vector<std::string>{"パソコン.txt"});
    EXPECT_EQ(names("readme"), std::vector<std::string>{"README"});
}

TEST(Win32Files, TextThatIsNotCp932IsRefusedAsAName) {
    EXPECT_EQ(platform::fopen("C:\\\x82", "rb"), nullptr);  // a lone lead byte
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(CreateDirectoryA(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Win32Files, FreeSpaceAndTheProgramsOwnPath) {
    TestWorld world;
    uint32_t sectorsPerCluster = 0, bytesPerSector = 0;
    uint64_t freeClusters = 0, totalClusters = 0;
    const std::string folder = world.Win(world.root);  // a folder, not a root
    ASSERT_TRUE(GetDiskFreeSpaceA(folder.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters));
    EXPECT_GT(sectorsPerCluster * bytesPerSector, 0u);
    EXPECT_GT(totalClusters, 0u);
    EXPECT_LE(freeClusters, totalClusters);

    char path[512];
    const uint32_t n = GetModuleFileNameA(path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_TRUE(EqualsNoCase(std::string(path, n).substr(n - 24), "platform_win32_tests.exe")) << path;
    char tiny[4];
    EXPECT_EQ(GetModuleFileNameA(tiny, sizeof tiny), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(Win32Files, Md5FromTheCryptoService) {
    unsigned char digest[MD5_LENGTH];
    ASSERT_TRUE(Md5("abc", 3, digest));
    const unsigned char abc[MD5_LENGTH] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                           0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(0, std::memcmp(digest, abc, MD5_LENGTH));
    ASSERT_TRUE(Md5("", 0, digest));
    const unsigned char empty[MD5_LENGTH] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                             0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    EXPECT_EQ(0, std::memcmp(digest, empty, MD5_LENGTH));
}

TEST(Win32Files, GzipReadsAFileWithAJapaneseName) {
    TestWorld world;
    const std::string file = world.Win(world.root) + "\\地図.gz";
    gzFile out = platform::gzopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, "compressed", 10), 10);
    ASSERT_EQ(gzclose(out), Z_OK);
    EXPECT_EQ(TestWorld::ReadFile(world.root + "/\xE5\x9C\xB0\xE5\x9B\xB3.gz").substr(0, 2), "\x1f\x8b");
    gzFile in = platform::gzopen(file.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    char text[32] = {};
    EXPECT_EQ(gzread(in, text, sizeof text), 10);
    EXPECT_STREQ(text, "compressed");
    gzclose(in);
}

}  // namespace
