// The proxy taken from the environment: each scheme's variable, all_proxy, and no_proxy's hosts
// and domains.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Internet.h"

using platform::ProxyFromEnvironment;
using platform::UrlParts;

namespace {

const char* const kProxyNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                   "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

class ProxyEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kProxyNames) unsetenv(name);
    }
    void TearDown() override { SetUp(); }
    static UrlParts Host(const char* host) { return UrlParts{"http", host, 80, "/"}; }
};

}  // namespace

TEST_F(ProxyEnvironment, EachSchemeHasItsVariableAndAllProxyStandsInForBoth) {
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), false), "");
    setenv("http_proxy", "http://plain:3128", 1);
    setenv("HTTPS_PROXY", "http://secure:3128", 1);
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), false), "http://plain:3128");
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), true), "http://secure:3128");
    setenv("https_proxy", "http://lower:3128", 1);
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), true), "http://lower:3128");

    // The upper-case HTTP_PROXY is never read; all_proxy fills in.
    unsetenv("http_proxy");
    setenv("HTTP_PROXY", "http://cgi:3128", 1);
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), false), "");
    setenv("ALL_PROXY", "http://all:3128", 1);
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), false), "http://all:3128");
}

TEST_F(ProxyEnvironment, NoProxyNamesHostsAndTheirDomains) {
    setenv("all_proxy", "http://all:3128", 1);
    setenv("no_proxy", "intranet, .example.jp,::1", 1);
    EXPECT_EQ(ProxyFromEnvironment(Host("updates.example.jp"), true), "");
    EXPECT_EQ(ProxyFromEnvironment(Host("EXAMPLE.JP"), true), "");
    EXPECT_EQ(ProxyFromEnvironment(Host("intranet"), false), "");
    EXPECT_EQ(ProxyFromEnvironment(Host("[::1]"), false), "");
    // A name ending in the same letters is another domain.
    EXPECT_EQ(ProxyFromEnvironment(Host("myexample.jp"), true), "http://all:3128");
    EXPECT_EQ(ProxyFromEnvironment(Host("intranet.example.com"), true), "http://all:3128");
    unsetenv("no_proxy");
    setenv("NO_PROXY", "*", 1);
    EXPECT_EQ(ProxyFromEnvironment(Host("anything.example.com"), true), "");
}
