// Windows paths mapped to native ones and back: "Z:" and the machine's letters, Japanese names,
// names found without case, and letters that come and go.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestWorld.h"

using namespace platform;

TEST(Paths, ZIsTheRootAndOtherLettersComeFromTheMachine) {
    TestWorld world;
    std::filesystem::create_directories(world.root + "/c");
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "[Drive C]\r\nFolder=" + world.root + "/c\r\n");
    ChooseMachine();
    EXPECT_EQ(ToNativePath("Z:\\tmp"), "/tmp");
    EXPECT_EQ(ToNativePath("Z:\\"), "/");
    EXPECT_EQ(ToNativePath("c:\\Maps\\a.txt"), world.root + "/c/Maps/a.txt");
    EXPECT_FALSE(ToNativePath("Q:\\x"));
    EXPECT_EQ(ToWindowsPath(world.root + "/c/Maps"), "C:\\Maps");
    EXPECT_EQ(ToWindowsPath(world.root + "/c"), "C:\\");
    EXPECT_EQ(ToWindowsPath("/usr/lib"), "Z:\\usr\\lib");
}

TEST(Paths, JapaneseNamesMapToUtf8AndBack) {
    TestWorld world;
    std::string folder = world.root + "/\xE3\x83\x91\xE3\x82\xBD\xE3\x82\xB3\xE3\x83\xB3";
    std::filesystem::create_directories(folder);
    std::string windows = world.Win(folder);
    EXPECT_EQ(windows.substr(windows.size() - 8), "パソコン");
    EXPECT_EQ(ToNativePath(windows + "\\x"), folder + "/x");
}

TEST(Paths, ExistingNamesAreFoundWithoutCase) {
    TestWorld world;
    std::filesystem::create_directories(world.root + "/Maps/FLASH2");
    EXPECT_EQ(ToNativePath(world.Win(world.root) + "\\maps\\flash2\\new.dat"), world.root + "/Maps/FLASH2/new.dat");
}

TEST(Paths, ALetterThatComesOrGoesIsSeenAtOnce) {
    TestWorld world;
    std::string ini = world.root + "/machine/machine.ini";
    TestWorld::WriteFile(ini, "[Drive E]\r\nFolder=" + world.root + "/e\r\n");
    ChooseMachine();
    EXPECT_EQ(ToNativePath("E:\\UPDATE"), world.root + "/e/UPDATE");
    TestWorld::WriteFile(ini, "[Drive F]\r\nFolder=" + world.root + "/e\r\n");  // the unit moved to F:
    EXPECT_FALSE(ToNativePath("E:\\UPDATE"));
    EXPECT_EQ(ToNativePath("F:\\UPDATE"), world.root + "/e/UPDATE");
}
