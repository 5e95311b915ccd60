// MD5 verification of downloaded files, the hexadecimal and Base64 codecs, and the password
// digest through the bound SHA-512 library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/Hash.h"
#include "support/BindSha512.h"
#include "support/TestWorld.h"

namespace {

const unsigned char* Bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

}  // namespace

class HashCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.ResetState();
        folder = world.Win(world.root) + "\\";
    }
    TestWorld world;
    std::string folder;
};

// MD5 of "line one\nline two\n", from md5sum.
constexpr char kLfDigest[] = "987929d61c9b69f0c6406b840aa77fd8";

TEST_F(HashCheckTest, AMatchingDigestVerifiesInEitherCase) {
    TestWorld::WriteFile(world.root + "/abc.bin", "abc");
    EXPECT_EQ(HashCheckEx(folder, "abc.bin", "900150983cd24fb0d6963f7d28e17f72"), 0);
    EXPECT_EQ(HashCheckEx(folder, "abc.bin", "900150983CD24FB0D6963F7D28E17F72"), 0);
    EXPECT_EQ(HashCheckEx(folder, "abc.bin", "900150983cd24fb0d6963f7d28e17f73"), kDigestFailed);
}

TEST_F(HashCheckTest, AFileOfManyReadBlocksIsHashedToItsLastByte) {
    std::string data(300'000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + 3) % 256);
    TestWorld::WriteFile(world.root + "/big.bin", data);
    // Python's hashlib.md5 of these bytes, and of them with the last byte's low bit flipped.
    EXPECT_EQ(HashCheckEx(folder, "big.bin", "67c92c696c610b8ec1123deac0a7b3a3"), 0);
    EXPECT_EQ(HashCheckEx(folder, "big.bin", "15ed83c77ae05d3d344d266bc945e60d"), kDigestFailed);
    data.back() ^= 1;
    TestWorld::WriteFile(world.root + "/big.bin", data);
    EXPECT_EQ(HashCheckEx(folder, "big.bin", "15ed83c77ae05d3d344d266bc945e60d"), 0);
}

TEST_F(HashCheckTest, ATextWithCrLfLineEndsVerifiesAgainstItsLfDigest) {
    TestWorld::WriteFile(world.root + "/lf.txt", "line one\nline two\n");
    TestWorld::WriteFile(world.root + "/crlf.txt", "line one\r\nline two\r\n");
    ASSERT_EQ(HashCheckEx(folder, "lf.txt", kLfDigest), 0);
    EXPECT_EQ(HashCheckEx(folder, "crlf.txt", kLfDigest), 0);
    EXPECT_EQ(TestWorld::ReadFile(world.root + "/crlf.txt"), "line one\r\nline two\r\n");
    EXPECT_EQ(HashCheckEx(folder, "crlf.txt", "00000000000000000000000000000000"), kDigestFailed);
}

// A DISCINFO.TXT made of the genuine text without CR, a NUL and a payload: its LF text part
// has the digest the description gives, but the file is not that text.
TEST_F(HashCheckTest, AFileHoldingANulPassesOnlyOnItsExactBytes) {
    const std::string genuine = "VERSION=2026041\nDISKID=5820917364\n";
    constexpr char kGenuineDigest[] = "915420844922f8174061d97f2ebf1e4d";  // md5sum of `genuine`
    TestWorld::WriteFile(world.root + "/DISCINFO.TXT", genuine + std::string(1, '\0') + "payload\r\n");
    EXPECT_EQ(HashCheckEx(folder, "DISCINFO.TXT", kGenuineDigest), kDigestFailed);
    // The CR LF case covers the whole text, not a prefix of it.
    TestWorld::WriteFile(world.root + "/DISCINFO.TXT", "VERSION=2026041\r\nDISKID=5820917364\r\nmore\r\n");
    EXPECT_EQ(HashCheckEx(folder, "DISCINFO.TXT", kGenuineDigest), kDigestFailed);
    TestWorld::WriteFile(world.root + "/DISCINFO.TXT", "VERSION=2026041\r\nDISKID=5820917364\r\n");
    EXPECT_EQ(HashCheckEx(folder, "DISCINFO.TXT", kGenuineDigest), 0);
}

// Files are hashed a megabyte at a time: a CR LF split by that boundary is still one line end,
// and a CR that no LF follows stays, at a boundary or at the end. Digests from md5sum.
TEST_F(HashCheckTest, LineEndsAcrossPieceBoundariesReadAsTheyStand) {
    const std::string lead(1024 * 1024 - 1, 'a');
    TestWorld::WriteFile(world.root + "/split.txt", lead + "\r\nx");
    EXPECT_EQ(HashCheckEx(folder, "split.txt", "71b37957048e5b5b7faa9d116dc3da84"), 0);  // lead + "\nx"
    TestWorld::WriteFile(world.root + "/lone.txt", lead + "\rx\r\n");
    EXPECT_EQ(HashCheckEx(folder, "lone.txt", "71817bd0a32ad67c9c8a5052e15e470f"), 0);  // lead + "\rx\n"
    TestWorld::WriteFile(world.root + "/last.txt", "x\r\n\r");
    EXPECT_EQ(HashCheckEx(folder, "last.txt", "24ce1d2c706021d88977751bfd593801"), 0);  // "x\n\r"
}

// A NUL anywhere, in any piece, rules out the CR LF reading: digests from md5sum of the LF form.
TEST_F(HashCheckTest, ANulInAnyPieceRulesOutTheLineEndReading) {
    TestWorld::WriteFile(world.root + "/short.bin", std::string("a\0b\r\n", 5));
    EXPECT_EQ(HashCheckEx(folder, "short.bin", "f8a250009a0f568c65c021a88ba4adaf"), kDigestFailed);  // "a\0b\n"
    std::string lines;
    for (int i = 0; i < 10; ++i) lines += "line\r\n";
    // The NUL in the first 128 KiB piece, the line ends in the last one.
    TestWorld::WriteFile(world.root + "/long.bin", std::string(1, '\0') + std::string(128 * 1024 - 1, 'x') + lines);
    EXPECT_EQ(HashCheckEx(folder, "long.bin", "fb025cfdc5be57a3f76bfedab19121b1"), kDigestFailed);
}

// A CR ending one piece, then a whole piece without a LF: the converted piece is one byte longer
// than the piece read (AddressSanitizer sees a buffer one byte short).
TEST_F(HashCheckTest, ACrEndingAPieceBeforeAWholePieceIsKept) {
    TestWorld::WriteFile(world.root + "/cr.txt",
                         std::string(128 * 1024 - 1, 'y') + "\r" + std::string(128 * 1024, 'z') + "end\r\n");
    EXPECT_EQ(HashCheckEx(folder, "cr.txt", "4b569a57f9a9f67aa21390889cf40c46"), 0);  // ...z "end\n"
}

// Only 32 hexadecimal digits are a digest: no character read as some nibble, no short text
// padded with zeros (the MD5 of "padded 558" ends in 00).
TEST_F(HashCheckTest, OnlyThirtyTwoHexadecimalDigitsAreADigest) {
    TestWorld::WriteFile(world.root + "/abc.bin", "abc");
    EXPECT_EQ(HashCheckEx(folder, "abc.bin", "9G0150983cd24fb0d6963f7d28e17f72"), kDigestFailed);
    TestWorld::WriteFile(world.root + "/padded.bin", "padded 558");
    ASSERT_EQ(HashCheckEx(folder, "padded.bin", "54b75164ba2c843f6c1e82c8b7446c00"), 0);
    EXPECT_EQ(HashCheckEx(folder, "padded.bin", "54b75164ba2c843f6c1e82c8b7446c"), kDigestFailed);
    unsigned char bytes[2] = {};
    EXPECT_EQ(HexToBytes("0x", bytes, 2), -1);
}

TEST_F(HashCheckTest, AnEmptyOrMissingFileIs803AndBadDigestTextIs402) {
    TestWorld::WriteFile(world.root + "/empty.bin", "");
    EXPECT_EQ(HashCheckEx(folder, "empty.bin", kLfDigest), kFileReadFailed);
    EXPECT_EQ(HashCheckEx(folder, "missing.bin", kLfDigest), kFileReadFailed);
    TestWorld::WriteFile(world.root + "/abc.bin", "abc");
    EXPECT_EQ(HashCheckEx(folder, "abc.bin", std::string(200, 'a')), kDigestFailed);
}

TEST(CalcHashTest, NoDataGivesOneAndAZeroDigest) {
    unsigned char digest[kDigestBufferBytes];
    std::memset(digest, 0xAA, sizeof digest);
    EXPECT_EQ(CalcHash("x", 0, digest), 1);
    EXPECT_EQ(CalcHash(nullptr, 5, digest), 1);
    for (unsigned char byte : digest) ASSERT_EQ(byte, 0);
    ASSERT_EQ(CalcHash("abc", 3, digest), 0);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0x72);
    EXPECT_EQ(digest[16], 0);
}

TEST(HexTest, DigitsInEitherCaseGiveTheSameBytes) {
    unsigned char upper[4] = {}, lower[4] = {};
    ASSERT_EQ(HexToBytes("0A1bFf9C", upper, 4), 0);
    ASSERT_EQ(HexToBytes("0a1BfF9c", lower, 4), 0);
    EXPECT_EQ(std::memcmp(upper, "\x0a\x1b\xff\x9c", 4), 0);
    EXPECT_EQ(std::memcmp(lower, upper, 4), 0);
    std::string text = "x";
    EXPECT_EQ(BytesToHex(upper, 4, &text), 0);
    EXPECT_EQ(text, "x0a1bff9c");
}

TEST(HexTest, OverLongTextIsRefusedWithoutWriting) {
    unsigned char buffer[80];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(HexToBytes(std::string(130, 'F'), buffer, 80), -1);
    EXPECT_EQ(HexToBytes(std::string(66, 'F'), buffer, 32), -1);
    for (unsigned char byte : buffer) ASSERT_EQ(byte, 0xEE);
    EXPECT_EQ(HexToBytes(std::string(128, 'F'), buffer, 64), 0);
    EXPECT_EQ(buffer[63], 0xFF);
    EXPECT_EQ(buffer[64], 0xEE);
}

TEST(Base64Test, PaddingFollowsTheLastGroup) {
    EXPECT_EQ(Base64Encode(1, Bytes("M")), "TQ==");
    EXPECT_EQ(Base64Encode(2, Bytes("Ma")), "TWE=");
    EXPECT_EQ(Base64Encode(3, Bytes("Man")), "TWFu");
    EXPECT_EQ(Base64Encode(0, Bytes("")), "");
    EXPECT_EQ(Base64Encode(-1, Bytes("5820917364")), "NTgyMDkxNzM2NA==");
    EXPECT_EQ(Base64Encode(3, Bytes("\xfb\xff\xbf")), "+/+/");
}

class Sha512Base64Test : public ::testing::Test {
protected:
    void SetUp() override { BindSha512(); }
};

TEST_F(Sha512Base64Test, AbcGivesTheStandardDigest) {
    std::string result;
    ASSERT_EQ(Sha512Base64("abc", &result), 0);
    // FIPS 180-2 example digest ddaf35a1…a54ca49f in Base64.
    EXPECT_EQ(result, "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==");
}

TEST_F(Sha512Base64Test, OverLongInputIsRefused) {
    std::string result = "kept";
    EXPECT_EQ(Sha512Base64(std::string(1025, 'a'), &result), kDigestFailed);
    EXPECT_EQ(result, "kept");
    EXPECT_EQ(Sha512Base64(std::string(1024, 'a'), &result), 0);
    EXPECT_EQ(result.size(), 88u);
}
