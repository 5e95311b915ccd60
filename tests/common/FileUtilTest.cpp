// Whole-file reads and writes, wildcard deletion, the download folders, free space in gigabytes,
// the lead-byte-aware path splitters and the result-to-message-code table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "state/ResultTable.h"
#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "platform/RawVolume.h"
#include "support/TestWorld.h"

namespace fs = std::filesystem;

class FileUtilTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.ResetState();
        theApp.MapFolder = world.Win(world.root);
        folder = theApp.MapFolder + "\\";
    }
    TestWorld world;
    std::string folder;
};

TEST_F(FileUtilTest, ReadGivesTheBytesFollowedByZeros) {
    TestWorld::WriteFile(world.root + "/empty.dat", "");
    TestWorld::WriteFile(world.root + "/data.dat", std::string("ab\0c", 4));
    unsigned char* buffer = nullptr;
    unsigned long size = 99;
    ASSERT_EQ(FileRead(folder, "empty.dat", &buffer, &size), 0);
    EXPECT_EQ(size, 0u);
    ASSERT_NE(buffer, nullptr);
    for (int i = 0; i < 513; ++i) ASSERT_EQ(buffer[i], 0);
    free(buffer);
    buffer = nullptr;
    ASSERT_EQ(FileRead(folder, "data.dat", &buffer, &size), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), std::string("ab\0c\0", 5));
    free(buffer);
    buffer = nullptr;
    EXPECT_EQ(FileRead(folder, "missing.dat", &buffer, &size), kFileReadFailed);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer, nullptr);
}

// One block serves a run of reads: it is replaced only when a file does not fit, and a failed
// read leaves it with its owner.
TEST_F(FileUtilTest, ReadReusingKeepsItsBlockWhileTheFilesFit) {
    TestWorld::WriteFile(world.root + "/long.dat", std::string(1000, 'L'));
    TestWorld::WriteFile(world.root + "/short.dat", "sss");
    TestWorld::WriteFile(world.root + "/longer.dat", std::string(2000, 'M'));
    unsigned char* block = nullptr;
    size_t capacity = 0;
    unsigned long size = 0;
    ASSERT_EQ(FileReadReusing(folder, "long.dat", &block, &capacity, &size), 0);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(capacity, 1513u);
    unsigned char* first = block;

    ASSERT_EQ(FileReadReusing(folder, "short.dat", &block, &capacity, &size), 0);
    EXPECT_EQ(block, first);
    EXPECT_EQ(capacity, 1513u);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 5), "sssLL");  // not cleared again

    EXPECT_EQ(FileReadReusing(folder, "missing.dat", &block, &capacity, &size), kFileReadFailed);
    EXPECT_EQ(block, first);

    ASSERT_EQ(FileReadReusing(folder, "longer.dat", &block, &capacity, &size), 0);
    EXPECT_EQ(capacity, 2513u);
    EXPECT_EQ(size, 2000u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 2001), std::string(2000, 'M') + '\0');
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4096, 0u);  // it goes to the raw volume as it is
    platform::FreeRawBuffer(block);
}

TEST_F(FileUtilTest, WriteReplacesALongerFileAndFailsInAMissingFolder) {
    TestWorld::WriteFile(world.root + "/f.dat", "a much longer old content");
    unsigned long size = 3;
    ASSERT_EQ(FileWrite(folder, "f.dat", "new", &size), 0);
    EXPECT_EQ(TestWorld::ReadFile(world.root + "/f.dat"), "new");
    EXPECT_EQ(FileWrite(folder + "nowhere\\", "f.dat", "new", &size), kFileWriteFailed);
}

TEST_F(FileUtilTest, WriteThatRunsOutOfSpaceIsAFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP();
    unsigned long size = 1 << 20;
    std::string data(size, 'x');
    EXPECT_EQ(FileWrite("Z:\\dev\\", "full", data.data(), &size), kFileWriteFailed);
}

TEST_F(FileUtilTest, DeleteRemovesMatchingFilesOnly) {
    fs::create_directories(world.root + "/sub.dat");
    TestWorld::WriteFile(world.root + "/a.DAT", "");
    TestWorld::WriteFile(world.root + "/b.dat", "");
    TestWorld::WriteFile(world.root + "/c.txt", "");
    EXPECT_EQ(FileDelete(folder + "*.dat"), 0);
    EXPECT_FALSE(fs::exists(world.root + "/a.DAT"));
    EXPECT_FALSE(fs::exists(world.root + "/b.dat"));
    EXPECT_TRUE(fs::exists(world.root + "/c.txt"));
    EXPECT_TRUE(fs::exists(world.root + "/sub.dat"));
    EXPECT_EQ(FileDelete(folder + "*.none"), 0);
}

TEST_F(FileUtilTest, DownloadFolderIsCreatedAndCheckedWithItsFiveSubFolders) {
    EXPECT_EQ(DownloadFolderCheck("2026041"), 1);
    ASSERT_EQ(DownloadFolderCreate("2026041"), 0);
    for (const char* sub : {"CONF", "RENEWAL", "FLASH", "FLASH/RENEWAL", "FLASH2"})
        EXPECT_TRUE(fs::is_directory(world.root + "/2026041/" + sub)) << sub;
    EXPECT_EQ(DownloadFolderCheck("2026041"), 0);
    EXPECT_EQ(DownloadFolderCreate("2026041"), 0);
    fs::remove(world.root + "/2026041/FLASH2");
    EXPECT_EQ(DownloadFolderCheck("2026041"), 1);
    TestWorld::WriteFile(world.root + "/blocked", "");
    theApp.MapFolder = world.Win(world.root + "/blocked");
    EXPECT_EQ(DownloadFolderCreate("2026041"), kFolderCreateFailed);
}

// A folder another user made a link would take the download wherever it points.
TEST_F(FileUtilTest, ADownloadFolderThatIsALinkIsNotUsed) {
    fs::create_directories(world.root + "/elsewhere");
    std::error_code error;
    fs::create_directory_symlink(world.root + "/elsewhere", world.root + "/2026041", error);
    // Wine's CreateSymbolicLinkW reports success and makes nothing.
    if (error || !fs::is_symlink(world.root + "/2026041")) GTEST_SKIP() << "this system makes no links";
    EXPECT_EQ(DownloadFolderCreate("2026041"), kFolderCreateFailed);
    EXPECT_TRUE(fs::is_empty(world.root + "/elsewhere"));
    fs::remove(world.root + "/2026041");
    fs::create_directories(world.root + "/2026041");
    fs::create_directory_symlink(world.root + "/elsewhere", world.root + "/2026041/FLASH");
    EXPECT_EQ(DownloadFolderCreate("2026041"), kFolderCreateFailed);
    EXPECT_TRUE(fs::is_empty(world.root + "/elsewhere"));
}

TEST_F(FileUtilTest, DiskSpaceOfTheMapFolderInGigabytes) {
    double total = -1, free = -1;
    theApp.MapFolder = world.Win(world.root + "/not/yet/made");
    ASSERT_EQ(GetDiskSpace(&total, &free), 0);
    auto space = fs::space(world.root);
    EXPECT_NEAR(total, static_cast<double>(space.capacity) / (1 << 30), 0.1);
    EXPECT_GE(total, free);
    EXPECT_GT(free, 0);
    EXPECT_TRUE(world.view.Boxes().empty());
}

TEST_F(FileUtilTest, AnEmptyMapFolderFallsBackToTheProgramFolder) {
    theApp.MapFolder.clear();
    theApp.ProgramFolder = world.Win(world.root + "/program") + "\\";
    double total = 0, free = 0;
    ASSERT_EQ(GetDiskSpace(&total, &free), 0);
    EXPECT_EQ(theApp.MapFolder, theApp.ProgramFolder);
    EXPECT_EQ(theApp.HistoryIniPath, theApp.ProgramFolder + "History.ini");
}

TEST(FileUtilSpace, GigabytesAreComputedIn64BitsInWholeBlocksOf512Clusters) {
    EXPECT_EQ(ClustersToGigabytes(511, 8, 512), 0.0);  // fewer than 512 clusters count as none
    EXPECT_EQ(ClustersToGigabytes(1000, 8, 512), 512 * 4096.0 / (1 << 30));
    EXPECT_EQ(ClustersToGigabytes(1024, 8, 512), 1024 * 4096.0 / (1 << 30));
    // 4 TiB of 4 KiB clusters: a 32-bit product would wrap to 0.
    EXPECT_EQ(ClustersToGigabytes(1ull << 30, 8, 512), 4096.0);
}

TEST(FileUtilPaths, SplittersAreLeadByteAware) {
    EXPECT_EQ(GetDriveLetter("d:\\maps"), "D");
    EXPECT_EQ(GetDriveLetter("\\maps"), "");
    EXPECT_EQ(GetDirectoryPart("C:\\パソコン\\ソフト.txt"), "\\パソコン\\");
    EXPECT_EQ(GetFileNamePart("C:\\パソコン\\ソフト.txt"), "ソフト.txt");
    EXPECT_EQ(GetFileNamePart("C:ソ"), "ソ");
}

TEST(PlainNameTest, NamesWindowsWouldTakeAsDevicesOrAlterAreRefused) {
    for (const char* name : {"CON",   "prn",      "Aux",  "NUL.TXT",    "nul.tar.gz", "COM1",       "com9.dat", "LPT1",
                             "lpt9.", "NUL .TXT", "CON ", "MAP01.ZIP.", "MAP01.ZIP ", "A*.ZIP",     "A?.ZIP",   "A<B",
                             "A>B",   "A|B",      "A\"B", "A\x7F",      ".",          "..",         "",         "A\\B",
                             "A/B",   "C:X",      "COM0", "lpt0.txt",   "CONIN$",     "conout$.log"})
        EXPECT_FALSE(IsPlainName(name)) << name;
    for (const char* name : {"CONF", "CONSOLE.TXT", "COM10", "CONIN", "LPT", "NULL.DAT", "AUXX", "MAP01.ZIP", ".hidden",
                             "2026041", "ソフト.txt", "A B.ZIP"})
        EXPECT_TRUE(IsPlainName(name)) << name;
}

TEST(FileUtilCodes, ResultsMapToMessageCodes) {
    // The whole table, then the numbers beside its entries, which fall through to "E99".
    const std::pair<int, const char*> table[] = {
        {400, "E01"},   {501, "E01"},  {511, "E01"},   {802, "E01"}, {900, "E01"}, {1100, "E01"}, {401, "E02-1"},
        {404, "E02-1"}, {402, "E03"},  {506, "E03"},   {804, "E03"}, {805, "E03"}, {806, "E03"},  {807, "E03"},
        {1102, "E03"},  {403, "E62"},  {406, "E02-2"}, {500, ""},    {502, "E02"}, {505, "E02"},  {512, "E02"},
        {803, "E02"},   {1101, "E02"}, {503, "E04"},   {504, "E04"}, {519, "E04"}, {801, "E04"},  {507, "E09"},
        {508, "E10"},   {510, "E97"},  {514, "E13"},   {516, "E15"}, {517, "E06"}, {531, "E06"},  {518, "E08"},
        {520, "E05"},   {810, "E05"},  {521, "E07"},   {901, "E07"}, {522, "E16"}, {530, "E12"},  {532, "E17"},
        {600, "E98"},   {601, "E98"},  {700, "E98"},   {800, "E98"}, {509, "E99"},
    };
    for (const auto& [result, code] : table) EXPECT_EQ(ResultToMessageCode(result), code) << result;
    for (int result : {0,   -1,  1,   399, 405, 407, 499, 513, 515, 523,  529,  533,  599,
                       602, 699, 701, 799, 808, 809, 811, 899, 902, 1099, 1103, 12345})
        EXPECT_EQ(ResultToMessageCode(result), "E99") << result;
}

TEST(FileUtilCodes, AFailedTransferReportsOneToSeventeenOrFifteen) {
    // The short codes E01 to E17 pass on (532 reports E12); every other result reports E15.
    const std::pair<const char*, std::vector<int>> table[] = {
        {"E01", {400, 501, 511, 802, 900, 1100}},
        {"E02", {502, 505, 512, 803, 1101}},
        {"E03", {402, 506, 804, 805, 806, 807, 1102}},
        {"E04", {503, 504, 519, 801}},
        {"E05", {520, 810}},
        {"E06", {517, 531}},
        {"E07", {521, 901}},
        {"E08", {518}},
        {"E09", {507}},
        {"E10", {508}},
        {"E12", {530, 532}},
        {"E13", {514}},
        {"E16", {522}},
        {"E15", {0, 100, 401, 403, 404, 406, 500, 510, 516, 523, 600, 800, 1103, 2100, 9000, 12345}},
    };
    for (const auto& [code, results] : table)
        for (int result : results) EXPECT_EQ(TransferFailureCode(result), code) << result;
}
