// Every option of a request must take. The test program's own curl_easy_setopt refuses the one
// a test names; the request or the opened URL must then fail without reaching the server,
// rather than go out weaker (a host name unverified, a header line missing, another proxy).
#include <gtest/gtest.h>

#include <curl/curl.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdarg>

#include "platform/Internet.h"
#include "support/PlainServer.h"

namespace {

std::atomic<int> refusedOption{-1};

}  // namespace

// Every option's value is one integer-class word on the x86-64 and AArch64 Linux calling
// conventions (a long, a pointer or a curl_off_t), so it passes on as a pointer unchanged.
extern "C" CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
    va_list arguments;
    va_start(arguments, option);
    void* value = va_arg(arguments, void*);
    va_end(arguments);
    if (option == refusedOption.load()) return CURLE_BAD_FUNCTION_ARGUMENT;
    using SetOption = CURLcode (*)(CURL*, CURLoption, ...);
    static SetOption next = reinterpret_cast<SetOption>(dlsym(RTLD_NEXT, "curl_easy_setopt"));
    return next(easy, option, value);
}

namespace {

class CurlSetup : public ::testing::Test {
protected:
    void TearDown() override { refusedOption = -1; }

    platform::HttpReply Get() {
        platform::HttpRequest request;
        request.verb = "GET";
        request.url = *platform::CrackUrl(server.Url("/map-dl/MapData.XML"));
        request.headerLines = "X-WSSE: token";
        return session.Send(request);
    }

    PlainServer server{[](size_t, const std::string&) {
        return PlainServer::Answer{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"};
    }};
    platform::InternetSession session;
};

}  // namespace

TEST_F(CurlSetup, ARequestWhoseOptionsAllTakeGoesOut) {
    platform::HttpReply reply = Get();
    ASSERT_TRUE(reply.sent) << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "ok");
}

TEST_F(CurlSetup, ARefusedOptionFailsTheRequestBeforeItIsSent) {
    for (CURLoption option : {CURLOPT_SSL_VERIFYHOST, CURLOPT_HTTPHEADER, CURLOPT_PROXY, CURLOPT_PROTOCOLS_STR,
                              CURLOPT_CUSTOMREQUEST, CURLOPT_WRITEFUNCTION}) {
        refusedOption = option;
        platform::HttpReply reply = Get();
        EXPECT_FALSE(reply.sent) << option;
        EXPECT_NE(reply.error.find("refused"), std::string::npos) << option << ": " << reply.error;
    }
    EXPECT_EQ(server.Accepted(), 0u);
}

TEST_F(CurlSetup, ARefusedOptionLeavesAURLUnopened) {
    for (CURLoption option : {CURLOPT_SSL_VERIFYPEER, CURLOPT_RANGE, CURLOPT_WRITEDATA}) {
        refusedOption = option;
        platform::OpenedUrl opened =
            session.OpenUrl(server.Url("/map-dl/MAP01.ZIP"), {}, {}, platform::ByteRange{10, "\"v1\""});
        EXPECT_EQ(opened.file, nullptr) << option;
        EXPECT_EQ(opened.status, 0) << option;
    }
    EXPECT_EQ(server.Accepted(), 0u);
}
