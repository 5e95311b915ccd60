// Profile files read and written with Windows rules: values cut by the buffer, writes in place, a
// failed rewrite that leaves the old file whole, and the lists for enumeration.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "platform/Profile.h"
#include "support/TestWorld.h"

using namespace platform;

namespace {
std::string Get(const std::string& file, const char* section, const char* key, uint32_t size = 512,
                const char* def = "dflt") {
    std::vector<char> buffer(size);
    GetPrivateProfileStringA(section, key, def, buffer.data(), size, file.c_str());
    return buffer.data();
}
}  // namespace

TEST(Profile, ReadsWithWindowsRules) {
    TestWorld world;
    TestWorld::WriteFile(world.root + "/a.ini",
                         "; comment\r\n[Velt]\r\n  Key One =  spaced value  \r\nQuoted=\"  q  \"\r\n"
                         "[Other]\nKey One=other\n");
    std::string file = world.Win(world.root + "/a.ini");
    EXPECT_EQ(Get(file, "VELT", "key one"), "spaced value");
    EXPECT_EQ(Get(file, "Velt", "Quoted"), "  q  ");
    EXPECT_EQ(Get(file, "Other", "KEY ONE"), "other");
    EXPECT_EQ(Get(file, "Velt", "Missing"), "dflt");
    EXPECT_EQ(Get(world.Win(world.root + "/none.ini"), "Velt", "Key One"), "dflt");
}

TEST(Profile, TheBufferSizeCutsTheValueButNeverInsideACharacter) {
    TestWorld world;
    std::string file = world.Win(world.root + "/b.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "K", "abcdef", file.c_str()));
    char buffer[4];
    EXPECT_EQ(GetPrivateProfileStringA("S", "K", "", buffer, sizeof buffer, file.c_str()), 3u);
    EXPECT_STREQ(buffer, "abc");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "K", "aパソ", file.c_str()));
    EXPECT_EQ(Get(file, "S", "K", 5), "aパ");
    EXPECT_EQ(Get(file, "S", "K", 6), "aパソ");
}

TEST(Profile, WritesCreateUpdateAndDeleteInPlace) {
    TestWorld world;
    std::string native = world.root + "/c.ini";
    std::string file = world.Win(native);
    ASSERT_TRUE(WritePrivateProfileStringA("VELTRANE", "VERSION", "01000003", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("VELTRANE", "MAPFOLDER", "C:\\パソコン\\地図", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("velTRANE", "version", "01000004", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("HISTORY1", "NAME", "x", file.c_str()));
    EXPECT_EQ(TestWorld::ReadFile(native),
              "[VELTRANE]\r\nversion=01000004\r\nMAPFOLDER=C:\\パソコン\\地図\r\n[HISTORY1]\r\nNAME=x\r\n");
    EXPECT_EQ(Get(file, "VELTRANE", "MAPFOLDER"), "C:\\パソコン\\地図");
    ASSERT_TRUE(WritePrivateProfileStringA("VELTRANE", "version", nullptr, file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("HISTORY1", nullptr, nullptr, file.c_str()));
    EXPECT_EQ(TestWorld::ReadFile(native), "[VELTRANE]\r\nMAPFOLDER=C:\\パソコン\\地図\r\n");
}

TEST(Profile, AFailedRewriteLeavesTheOldFileWhole) {
    TestWorld world;
    std::string native = world.root + "/d.ini";
    std::string file = world.Win(native);
    ASSERT_TRUE(WritePrivateProfileStringA("S", "K", "old", file.c_str()));
    // The rewrite's temporary file cannot be made: a folder holds its name.
    std::string temp = native + ".tmp" + std::to_string(getpid());
    std::filesystem::create_directory(TestWorld::Path(temp));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "new", file.c_str()));
    EXPECT_EQ(TestWorld::ReadFile(native), "[S]\r\nK=old\r\n");
    std::filesystem::remove(TestWorld::Path(temp));
    EXPECT_TRUE(WritePrivateProfileStringA("S", "K", "new", file.c_str()));
    EXPECT_EQ(Get(file, "S", "K"), "new");
}

TEST(Profile, SectionAndKeyListsForEnumeration) {
    TestWorld world;
    TestWorld::WriteFile(world.root + "/e.ini", "[A]\nx=1\ny=2\n[B]\n");
    std::string file = world.Win(world.root + "/e.ini");
    char buffer[16];
    uint32_t n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, n), std::string("A\0B\0", 4));
    n = GetPrivateProfileStringA("A", nullptr, "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(std::string(buffer, n), std::string("x\0y\0", 4));
}
