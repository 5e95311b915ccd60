// The local service's percent-coding, digests, Base64 and WSSE check, against published vectors
// and the header the program sends.
#include "Digest.h"
#include "PercentCoding.h"
#include "TestSupport.h"
#include "Wsse.h"

#include <gtest/gtest.h>

namespace mapservice {
namespace {

TEST(PercentCoding, EncodesTheWayTheClientDecodes) {
    EXPECT_TRUE(PercentEncode("<?xml version=\"1.0\"").starts_with("%3C%3Fxml+version%3D%221.0%22"));
    EXPECT_EQ(PercentEncode("@AZaz09*-._ /:+="), "@AZaz09*-._+%2F%3A%2B%3D");
    EXPECT_EQ(PercentEncode("地"), "%E5%9C%B0");  // UTF-8 bytes, upper-case hex
}

TEST(PercentCoding, DecodesEitherCaseAndKeepsBrokenEscapes) {
    std::string text = "<a b='c&d'>全国版 100%</a>\x01";
    EXPECT_EQ(PercentDecode(PercentEncode(text)), text);
    EXPECT_EQ(PercentDecode("%3c%3E+x"), "<> x");
    EXPECT_EQ(PercentDecode("100%"), "100%");
    EXPECT_EQ(PercentDecode("%4"), "%4");
    EXPECT_EQ(PercentDecode("%G1%41"), "%G1A");
}

TEST(Digest, MatchesPublishedVectors) {
    // RFC 1321 and FIPS 180-2 examples.
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Sha512Base64("abc"),
              "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==");
}

TEST(Digest, Base64DecodeDropsPaddingAndRefusesBrokenText) {
    EXPECT_EQ(Base64Decode("YQ=="), "a");
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YWJj"), "abc");
    EXPECT_EQ(Base64Decode(""), "");
    EXPECT_FALSE(Base64Decode("YQ="));
    EXPECT_FALSE(Base64Decode("Y!=="));
}

TEST(Wsse, ParsesAndVerifiesTheProgramsHeader) {
    auto token = ParseWsseHeader(test::kValidWsse);
    ASSERT_TRUE(token);
    EXPECT_EQ(token->username, "NaviUser");
    EXPECT_EQ(token->nonce, "5820917364");
    EXPECT_EQ(token->created, "2024-03-02T09:05:07Z");
    EXPECT_TRUE(VerifyWsse(test::kValidWsse, "NaviUser", "KestrelWing"));
    // The HTTP server hands header values over already percent-decoded once.
    EXPECT_TRUE(VerifyWsse(PercentDecode(test::kValidWsse, false), "NaviUser", "KestrelWing"));
}

TEST(Wsse, RefusesWrongCredentialsAndBrokenHeaders) {
    EXPECT_FALSE(VerifyWsse(test::kValidWsse, "NaviUser", "kestrelwing"));
    EXPECT_FALSE(VerifyWsse(test::kValidWsse, "OtherUser", "KestrelWing"));

    std::string otherTime = test::kValidWsse;
    otherTime.replace(otherTime.find("09%3A05"), 7, "09%3A06");
    EXPECT_FALSE(VerifyWsse(otherTime, "NaviUser", "KestrelWing"));

    std::string badNonce = test::kValidWsse;
    badNonce.replace(badNonce.find("NTgy"), 4, "N!gy");
    EXPECT_FALSE(VerifyWsse(badNonce, "NaviUser", "KestrelWing"));

    EXPECT_FALSE(VerifyWsse(test::kValidWsse.substr(14), "NaviUser", "KestrelWing"));
    EXPECT_FALSE(VerifyWsse("UsernameToken Username=\"NaviUser\"", "NaviUser", "KestrelWing"));
    EXPECT_FALSE(VerifyWsse("", "NaviUser", "KestrelWing"));
}

}  // namespace
}  // namespace mapservice
