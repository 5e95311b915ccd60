// The web-service client's coding: percent-coding, the service errors among result codes, a cut
// reply, the WSSE header's digest and which URLs are secure.
#include <gtest/gtest.h>

#include <string>

#include "state/VeltraneApp.h"
#include "net/ExternalInterface.h"
#include "platform/Internet.h"
#include "net/UrlCoding.h"
#include "support/BindSha512.h"
#include "support/TestWorld.h"

TEST(UrlCodingTest, EncodesTheUtf8OfCp932TextAndKeepsTheSafeCharacters) {
    std::string text = "地図 @Az09*-._+/=:~<";
    URLEncodeUTF8(&text);
    EXPECT_EQ(text, "%E5%9C%B0%E5%9B%B3+@Az09*-._%2B%2F%3D%3A%7E%3C");
}

TEST(UrlCodingTest, DecodesPlusAndUpperCaseEscapesAndLeavesACutEscape) {
    std::string text = "a+b%3C%E5%9C%B0%2";
    URLDecode(&text);
    EXPECT_EQ(text, "a b<\xE5\x9C\xB0%2");
    std::string roundTrip = "ソフト <x&y> 100%";
    std::string encoded = roundTrip;
    URLEncodeUTF8(&encoded);
    URLDecode(&encoded);
    EXPECT_EQ(encoded, "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88 <x&y> 100%");
}

TEST(ServiceResultTest, OnlyTheListedPairsAreServiceErrors) {
    struct Case {
        const char* resultCd;
        const char* detailCd;
        int result;
        const char* code;
    };
    for (const Case& c : {Case{"S00", "E04", 0, "kept"}, Case{"E00", "E00", 100, "E06"}, Case{"E00", "E02", 102, "E06"},
                          Case{"E00", "E03", 103, "E06"}, Case{"E00", "E04", 104, "E06"},
                          Case{"E01", "E00", 110, "E06"}, Case{"E00", "E09", 901, "E90"},
                          Case{"E01", "E02", 901, "E90"}, Case{"s00", "", 901, "E90"}, Case{"", "", 901, "E90"}}) {
        std::string code = "kept";
        EXPECT_EQ(ServiceResultToCode(c.resultCd, c.detailCd, &code), c.result) << c.resultCd << "/" << c.detailCd;
        EXPECT_EQ(code, c.code) << c.resultCd << "/" << c.detailCd;
    }
}

TEST(ParseResponseTest, ACutReplyFillsTheFieldsBeforeTheCut) {
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    CDownloadStartRequest handler(&request, &response);
    std::string reply =
        "<?xml version=\"1.0\"?><download-start-if><in-param-section><result-cd>X</result-cd></in-param-section>"
        "<out-param-section><result-cd>S00</result-cd><result-cd>S00</result-cd><product-name>\xE5\x9C\xB0\xE5\x9B\xB3"
        "</product-name><other>1</other><conf-file-url/><result-msg>cut";
    EXPECT_EQ(ParseResponseXml(&handler, reply), 0);
    EXPECT_EQ(response.result_cd, "S00");
    EXPECT_EQ(response.product_name, "地図");
    EXPECT_EQ(response.conf_file_url, "");
    EXPECT_EQ(response.result_msg, "cut");
}

// The header at 09:05:07 local time on 2 March 2024, whose digest the service test computed
// with OpenSSL.
TEST(WsseTest, TheHeaderCarriesTheDigestOfNonceCreatedAndPassword) {
    TestWorld world;
    platform::FakeClock clock(2024, 3, 2, 9, 5, 7);
    platform::SetClock(&clock);
    BindSha512();
    EXPECT_EQ(BuildWsseHeader(),
              "X-WSSE: UsernameToken Username=\"NaviUser\", "
              "PasswordDigest=\"OBS4oatZhlgu1WHKcWGDM5l32yDU70BkfI6nRqqidd73EmDRu%2BHotk0hXcBEvRI3%2FcJX"
              "saOS6kX7MlT96hVnpg%3D%3D\", Nonce=\"NTgyMDkxNzM2NA%3D%3D\", Created=\"2024-03-02T09%3A05%3A07Z\"");
}

TEST(HttpTest, HttpsOrPort443MakesARequestSecure) {
    auto secure = [](const std::string& url) { return platform::IsSecureUrl(*platform::CrackUrl(url)); };
    EXPECT_TRUE(secure("https://127.0.0.1:8443/map-dl"));
    EXPECT_TRUE(secure("https://127.0.0.1/map-dl"));
    EXPECT_TRUE(secure("http://127.0.0.1:443/map-dl"));
    EXPECT_FALSE(secure("http://127.0.0.1/map-dl"));
    EXPECT_FALSE(secure("http://127.0.0.1:8443/map-dl"));
    EXPECT_EQ(platform::CrackUrl("http://[::1]/a?b=1")->host, "[::1]");
    EXPECT_EQ(platform::CrackUrl("http://[::1]/a?b=1")->path, "/a?b=1");
    EXPECT_FALSE(platform::CrackUrl("http://127.0.0.1:99999/"));
    EXPECT_FALSE(platform::CrackUrl("ftp://127.0.0.1/"));
}
