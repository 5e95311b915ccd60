// CRC-16/X-25 against its check value and a bitwise CRC, and the gzip extraction with what it
// refuses.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "GzipBomb.h"
#include "UpdateSet.h"
#include "state/VeltraneApp.h"
#include "support/TestWorld.h"
#include "update/Crc16.h"
#include "update/GzipExtract.h"
#include "state/Results.h"

namespace {

uint16_t Crc(const std::string& data) {
    return Crc16(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

}  // namespace

TEST(Crc16Test, MatchesTheCheckValueAndABitwiseCrcAtEveryLength) {
    EXPECT_EQ(Crc("123456789"), 0x906E);
    EXPECT_EQ(Crc(""), 0x0000);
    EXPECT_EQ(CrcCheck(9, reinterpret_cast<const unsigned char*>("123456789"), 0x906E), 0);
    EXPECT_EQ(CrcCheck(9, reinterpret_cast<const unsigned char*>("123456789"), 0x906F), kCrcMismatch);
    // Lengths around the eight-, sixteen- and sixty-four-byte steps, and unaligned starts.
    std::mt19937 random(7);
    std::string data(1200, '\0');
    for (char& c : data) c = static_cast<char>(random());
    for (size_t start = 0; start < 16; ++start)
        for (size_t length = 0; length + start <= 200; ++length)
            ASSERT_EQ(Crc(data.substr(start, length)), mkupdate::Crc16(data.substr(start, length)))
                << start << "+" << length;
    for (int round = 0; round < 200; ++round) {
        size_t start = random() % 64;
        size_t length = random() % (data.size() - start);
        ASSERT_EQ(Crc(data.substr(start, length)), mkupdate::Crc16(data.substr(start, length)))
            << start << "+" << length;
    }
}

TEST(Crc16Test, APartsCrcContinuesOverTheRest) {
    const unsigned char* check = reinterpret_cast<const unsigned char*>("123456789");
    EXPECT_EQ(Crc16(check + 4, 5, Crc16(check, 4)), 0x906E);
    EXPECT_EQ(Crc16(check, 9, 0), 0x906E);
    // Blocks of every size around the sixty-four-byte step, as a file read a block at a time.
    std::mt19937 random(5);
    std::string data(5000, '\0');
    for (char& c : data) c = static_cast<char>(random());
    const uint16_t whole = mkupdate::Crc16(data);
    for (size_t block : {1u, 7u, 63u, 64u, 65u, 200u, 4096u}) {
        uint16_t crc = 0;
        for (size_t at = 0; at < data.size(); at += block)
            crc =
                Crc16(reinterpret_cast<const unsigned char*>(data.data()) + at, std::min(block, data.size() - at), crc);
        EXPECT_EQ(crc, whole) << block;
    }
}

TEST(Crc16Test, AMessageFollowedByItsCrcLeavesTheResidueAtAnyLength) {
    // The register after a message and its CRC (low byte first) is the residue 0xF0B8,
    // whatever the message; with the final XOR that is 0x0F47.
    std::mt19937 random(11);
    for (size_t length : {0u, 1u, 9u, 62u, 63u, 64u, 65u, 127u, 128u, 1000u, 65536u, 1048573u}) {
        std::string message(length, '\0');
        for (char& c : message) c = static_cast<char>(random());
        uint16_t crc = Crc(message);
        message += static_cast<char>(crc & 0xFF);
        message += static_cast<char>(crc >> 8);
        EXPECT_EQ(Crc(message), 0x0F47) << length;
    }
}

class GzipExtractTest : public ::testing::Test {
protected:
    void SetUp() override { theApp.ResetState(); }
    std::string Win(const std::string& name) { return world.Win(world.root + "/" + name); }
    std::string Native(const std::string& name) { return world.root + "/" + name; }
    // A gzip file of `text`, made by gzip itself.
    void Gzip(const std::string& name, const std::string& text) {
        TestWorld::WriteFile(Native(name + ".plain"), text);
        ASSERT_EQ(std::system(("gzip -c " + Native(name + ".plain") + " > " + Native(name)).c_str()), 0);
    }
    TestWorld world;
};

TEST_F(GzipExtractTest, UnpacksIntoANewFileAndDeletesTheInput) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i * 7919) + ",";  // several reads of 32,000
    Gzip("a.gz", text);
    ASSERT_EQ(GzipExtract(Win("a.out"), Win("a.gz"), 1 << 20), 1);
    EXPECT_EQ(TestWorld::ReadFile(Native("a.out")), text);
    EXPECT_FALSE(std::filesystem::exists(Native("a.gz")));
}

TEST_F(GzipExtractTest, RefusesAnExistingOutputACutStreamAndDataThatIsNotGzip) {
    Gzip("a.gz", std::string(100000, 'x') + "end");
    TestWorld::WriteFile(Native("exists"), "old");
    EXPECT_EQ(GzipExtract(Win("exists"), Win("a.gz"), 1 << 20), 0);
    EXPECT_EQ(TestWorld::ReadFile(Native("exists")), "old");
    EXPECT_TRUE(std::filesystem::exists(Native("a.gz")));

    std::string stream = TestWorld::ReadFile(Native("a.gz"));
    TestWorld::WriteFile(Native("cut.gz"), stream.substr(0, stream.size() - 12));
    EXPECT_EQ(GzipExtract(Win("cut.out"), Win("cut.gz"), 1 << 20), 0);
    EXPECT_TRUE(std::filesystem::exists(Native("cut.gz")));
    EXPECT_FALSE(std::filesystem::exists(Native("cut.out")));

    TestWorld::WriteFile(Native("plain.gz"), "not compressed at all");
    EXPECT_EQ(GzipExtract(Win("plain.out"), Win("plain.gz"), 1 << 20), 0);
    EXPECT_EQ(GzipExtract(Win("none.out"), Win("missing.gz"), 1 << 20), 0);
    EXPECT_FALSE(std::filesystem::exists(Native("none.out")));
}

TEST_F(GzipExtractTest, UnpacksUpToItsBoundAndNotAByteFurther) {
    Gzip("exact.gz", std::string(100000, 'e'));
    ASSERT_EQ(GzipExtract(Win("exact.out"), Win("exact.gz"), 100000), 1);
    EXPECT_EQ(TestWorld::ReadFile(Native("exact.out")), std::string(100000, 'e'));

    Gzip("over.gz", std::string(100001, 'o'));
    EXPECT_EQ(GzipExtract(Win("over.out"), Win("over.gz"), 100000), 0);
    EXPECT_FALSE(std::filesystem::exists(Native("over.out")));
    EXPECT_TRUE(std::filesystem::exists(Native("over.gz")));

    // 16 MiB of zeros in about 16 KiB. With the process unable to grow a file past the bound,
    // a write beyond it would end the child by SIGXFSZ instead of letting it exit.
    const std::string bomb = GzipBomb(16 << 20);
    ASSERT_LT(bomb.size(), 20000u);
    TestWorld::WriteFile(Native("bomb.gz"), bomb);
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = 100000;
            setrlimit(RLIMIT_FSIZE, &limit);
            _exit(GzipExtract(Win("bomb.out"), Win("bomb.gz"), 100000) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(std::filesystem::exists(Native("bomb.out")));
    EXPECT_EQ(GzipExtract(Win("bomb.out"), Win("bomb.gz"), 100000), 0);
    EXPECT_FALSE(std::filesystem::exists(Native("bomb.out")));
    EXPECT_EQ(TestWorld::ReadFile(Native("bomb.gz")), bomb);
}
