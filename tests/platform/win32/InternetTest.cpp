// The internet session on WinINet against mapservice on loopback (started beside the test by
// scripts/with-mapservice.sh, with squid and a redirecting server), and against a plain socket
// server of the test's own that answers once and then stalls. The first service's CA is a root
// of the prefix while the tests run (TestRoot.h says why); the second service's CA is known to
// no store.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Internet.h"
#include "platform/win32/BundleTrust.h"
// After the platform headers, as <windows.h> must come.
#include "TestRoot.h"

#include <winsock2.h>

using platform::HttpReply;
using platform::HttpRequest;
using platform::InternetSession;
using platform::TrustAnchors;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Secure ones by name: Wine's certificate policy matches names, not the IP addresses a
// certificate lists.
std::string Url(const char* scheme, const char* portVariable, const std::string& path) {
    std::string host = std::string(scheme) == "https" ? "localhost" : "127.0.0.1";
    return std::string(scheme) + "://" + host + ":" + Env(portVariable) + path;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

HttpRequest Request(const std::string& verb, const std::string& url, const std::string& bundle) {
    HttpRequest request;
    request.verb = verb;
    request.url = *platform::CrackUrl(url);
    request.secure = platform::IsSecureUrl(request.url);
    request.trust.caBundle = bundle;
    return request;
}

std::string ReadAll(platform::InternetFile& file, long* failed) {
    std::string body;
    char piece[2000];
    for (long read; (read = file.Read(piece, sizeof piece)) != 0;) {
        if (read < 0) {
            *failed = read;
            break;
        }
        body.append(piece, static_cast<size_t>(read));
    }
    return body;
}

// Byte i of the test map file is i mod 251 (scripts/with-mapservice.sh writes it).
std::string MapFilePattern() {
    std::string pattern(300000, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i % 251);
    return pattern;
}

class FirstServiceTrusted : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(testroot::Trust(Env("VELTRANE_CA_BUNDLE"))); }
    void TearDown() override { EXPECT_TRUE(testroot::Distrust(Env("VELTRANE_CA_BUNDLE"))); }
};
testing::Environment* const kFirstServiceTrusted = testing::AddGlobalTestEnvironment(new FirstServiceTrusted);

class InternetTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("VELTRANE_SERVICE_HTTP").empty()) << "run under scripts/with-mapservice.sh";
        bundle_ = Env("VELTRANE_CA_BUNDLE");
    }
    InternetSession session_;
    std::string bundle_;
};

// A loopback server that accepts one connection, answers with `reply` (perhaps nothing) and
// then holds the connection open without another byte, keeping all it received.
class StallingServer {
public:
    explicit StallingServer(std::string reply) : reply_(std::move(reply)) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        int size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            SOCKET peer = accept(listener_, nullptr, nullptr);
            if (peer == INVALID_SOCKET) return;
            char request[4096];
            int got = recv(peer, request, sizeof request, 0);
            Keep(request, got);
            if (!reply_.empty()) send(peer, reply_.data(), static_cast<int>(reply_.size()), 0);
            // Held open without a byte until the client gives up or the test ends.
            while (!done_) {
                fd_set readable;
                FD_ZERO(&readable);
                FD_SET(peer, &readable);
                timeval slice{0, 100000};
                char rest[4096];
                if (select(0, &readable, nullptr, nullptr, &slice) != 1) continue;
                int more = recv(peer, rest, sizeof rest, 0);
                if (more <= 0) break;
                Keep(rest, more);
            }
            closesocket(peer);
        });
    }
    ~StallingServer() {
        done_ = true;
        closesocket(listener_);
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::string Received() {
        std::lock_guard<std::mutex> hold(lock_);
        return received_;
    }

private:
    void Keep(const char* bytes, int count) {
        std::lock_guard<std::mutex> hold(lock_);
        if (count > 0) received_.append(bytes, static_cast<size_t>(count));
    }

    std::string reply_;
    std::mutex lock_;
    std::string received_;
    SOCKET listener_;
    std::atomic<bool> done_{false};
    int port_ = 0;
    std::thread thread_;
};

// The system's proxy, squid, where WinINet reads it when a session opens (the user's Internet
// Settings), for the life of the object.
class SystemProxy {
public:
    explicit SystemProxy(const std::wstring& bypass = L"") {
        const std::string port = Env("VELTRANE_SQUID");
        Set(1, L"127.0.0.1:" + std::wstring(port.begin(), port.end()), bypass);
    }
    ~SystemProxy() { Set(0, L"", L""); }

private:
    static void Set(DWORD enable, const std::wstring& server, const std::wstring& bypass) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
        RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                       static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(bypass.c_str()),
                       static_cast<DWORD>((bypass.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
};

// The call log's line for the call whose decoded body is `body`.
std::string LoggedCall(const std::string& body) {
    std::istringstream log(FileText(Env("VELTRANE_CALL_LOG")));
    for (std::string line; std::getline(log, line);)
        if (line.find("\"body\":\"" + body + "\"") != std::string::npos) return line;
    return "";
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_F(InternetTest, CrackUrlSplitsTheUrlAsWinInetParsesIt) {
    auto parts = platform::CrackUrl("https://127.0.0.1:8443/map-dl/MDL?x=1");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->scheme, "https");
    EXPECT_EQ(parts->host, "127.0.0.1");
    EXPECT_EQ(parts->port, 8443);
    EXPECT_EQ(parts->path, "/map-dl/MDL?x=1");
    parts = platform::CrackUrl("http://localhost");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->port, 80);
    EXPECT_EQ(parts->path, "/");
    EXPECT_EQ(platform::CrackUrl("ftp://localhost/x"), std::nullopt);
    EXPECT_EQ(platform::CrackUrl("not a url"), std::nullopt);
}

void PostAndGet(InternetSession& session, const std::string& bundle, const char* scheme) {
    {
        const char* port = std::string(scheme) == "http" ? "VELTRANE_SERVICE_HTTP" : "VELTRANE_SERVICE_HTTPS";
        HttpRequest post = Request("POST", Url(scheme, port, "/map-dl/MDL"), bundle);
        post.headerLines = "X-WSSE: UsernameToken Username=\"nobody\"";
        post.body = "%3Ca%3E" + std::string(scheme) + "%3C%2Fa%3E";
        HttpReply reply = session.Send(post);
        ASSERT_TRUE(reply.sent) << reply.error;
        EXPECT_EQ(reply.status, 200);
        // Not the service's user: the call is refused inside the reply.
        EXPECT_NE(reply.body.find("E01"), std::string::npos) << reply.body;

        HttpReply description = session.Send(Request("GET", Url(scheme, port, "/map-dl/MapData.XML"), bundle));
        ASSERT_TRUE(description.sent) << description.error;
        EXPECT_EQ(description.status, 200);
        EXPECT_NE(description.body.find("BIG.DAT"), std::string::npos);
    }
    // The service saw the body and the header line as they were sent.
    std::string log = FileText(Env("VELTRANE_CALL_LOG"));
    EXPECT_NE(log.find("\"body\":\"<a>" + std::string(scheme) + "</a>\""), std::string::npos) << log;
    EXPECT_NE(log.find("UsernameToken Username=\\\"nobody\\\""), std::string::npos) << log;
}

TEST_F(InternetTest, PostAndGetOverHttp) { PostAndGet(session_, bundle_, "http"); }
TEST_F(InternetTest, PostAndGetOverHttps) { PostAndGet(session_, bundle_, "https"); }

TEST_F(InternetTest, RefusalsComeBackAsStatusesAndLongRepliesAsFailures) {
    HttpReply missing =
        session_.Send(Request("GET", Url("http", "VELTRANE_SERVICE_HTTP", "/map-dl/data/NONE"), bundle_));
    ASSERT_TRUE(missing.sent);
    EXPECT_EQ(missing.status, 404);

    HttpRequest big = Request("GET", Url("http", "VELTRANE_SERVICE_HTTP", "/map-dl/data/CONF/BIG.DAT"), bundle_);
    big.maxBodyBytes = 100000;
    HttpReply tooLong = session_.Send(big);
    EXPECT_FALSE(tooLong.sent);
    EXPECT_TRUE(tooLong.body.empty());
}

void Download(InternetSession& session, const std::string& bundle, const char* scheme) {
    const std::string expected = MapFilePattern();
    ASSERT_EQ(FileText(Env("VELTRANE_UPDATE_SET") + "\\CONF\\BIG.DAT"), expected);
    {
        const char* port = std::string(scheme) == "http" ? "VELTRANE_SERVICE_HTTP" : "VELTRANE_SERVICE_HTTPS";
        std::string url = Url(scheme, port, "/map-dl/data/CONF/BIG.DAT");
        platform::OpenedUrl opened = session.OpenUrl(url, TrustAnchors{bundle}, nullptr);
        ASSERT_TRUE(opened.file);
        EXPECT_EQ(opened.status, 200);
        EXPECT_EQ(opened.file->ContentLength(), 300000);
        EXPECT_EQ(opened.file->EffectiveUrl(), url);
        long failed = 0;
        std::string body = ReadAll(*opened.file, &failed);
        EXPECT_EQ(failed, 0);
        EXPECT_TRUE(body == expected) << "got " << body.size() << " bytes";
    }
}

TEST_F(InternetTest, OpenedUrlDownloadsTheMapFileByteForByte) {
    Download(session_, bundle_, "http");
    platform::OpenedUrl missing = session_.OpenUrl(Url("http", "VELTRANE_SERVICE_HTTP", "/map-dl/data/CONF/NONE.DAT"),
                                                   TrustAnchors{bundle_}, nullptr);
    EXPECT_FALSE(missing.file);
    EXPECT_EQ(missing.status, 404);
}

TEST_F(InternetTest, OpenedUrlDownloadsOverHttps) { Download(session_, bundle_, "https"); }

// What the download job does to continue a file: the rest from an offset, while the version
// it names (If-Range) still holds; otherwise the whole file, or 416 beyond the end.
void ResumeRange(InternetSession& session, const std::string& bundle, const char* scheme) {
    const std::string expected = MapFilePattern();
    const char* port = std::string(scheme) == "http" ? "VELTRANE_SERVICE_HTTP" : "VELTRANE_SERVICE_HTTPS";
    std::string url = Url(scheme, port, "/map-dl/data/CONF/BIG.DAT");
    std::string etag;
    {
        platform::OpenedUrl whole = session.OpenUrl(url, TrustAnchors{bundle}, nullptr);
        ASSERT_TRUE(whole.file);
        etag = whole.file->Header("ETag");
        EXPECT_FALSE(whole.file->Header("Last-Modified").empty());
        EXPECT_EQ(whole.file->Header("Content-Range"), "");
    }
    ASSERT_EQ(etag.front(), '"') << etag;
    long failed = 0;
    {
        platform::OpenedUrl rest =
            session.OpenUrl(url, TrustAnchors{bundle}, nullptr, platform::ByteRange{123456, etag});
        ASSERT_TRUE(rest.file);
        EXPECT_EQ(rest.status, 206);
        EXPECT_EQ(rest.file->Header("Content-Range"), "bytes 123456-299999/300000");
        EXPECT_EQ(rest.file->ContentLength(), 300000 - 123456);
        std::string body = ReadAll(*rest.file, &failed);
        EXPECT_TRUE(body == expected.substr(123456)) << "got " << body.size() << " bytes";
    }
    {
        platform::OpenedUrl other =
            session.OpenUrl(url, TrustAnchors{bundle}, nullptr, platform::ByteRange{123456, "\"0-0\""});
        ASSERT_TRUE(other.file);
        EXPECT_EQ(other.status, 200);
        EXPECT_TRUE(ReadAll(*other.file, &failed) == expected);
    }
    platform::OpenedUrl beyond = session.OpenUrl(url, TrustAnchors{bundle}, nullptr, platform::ByteRange{300000, etag});
    EXPECT_FALSE(beyond.file);
    EXPECT_EQ(beyond.status, 416);
    EXPECT_EQ(failed, 0);
}

TEST_F(InternetTest, AnOpenedRangeCarriesTheRestWhileTheVersionHolds) { ResumeRange(session_, bundle_, "http"); }
TEST_F(InternetTest, AnOpenedRangeCarriesTheRestOverHttps) { ResumeRange(session_, bundle_, "https"); }

TEST_F(InternetTest, CertificatesOfUnknownIssuersAreRefused) {
    // The second service's CA is in no store: without a bundle, with the first service's CA
    // or with a missing file, nothing is sent and no file opens.
    std::string url = Url("https", "VELTRANE_OTHER_HTTPS", "/map-dl/MapData.XML");
    for (const std::string& bundle : {std::string(), bundle_, std::string("Z:\\nonexistent.pem")}) {
        SCOPED_TRACE(bundle);
        HttpReply reply = session_.Send(Request("GET", url, bundle));
        EXPECT_FALSE(reply.sent);
        EXPECT_FALSE(reply.error.empty());
        EXPECT_FALSE(session_.OpenUrl(url, TrustAnchors{bundle}, nullptr).file);
    }
}

// The check the program makes when the system refuses an issuer, on the certificate the
// second service shows (its CA is in no store, as for a user whose system lacks it).
TEST(BundleTrustTest, TheBundleVouchesOnlyForItsOwnIssuerAndTheNamedHost) {
    PCCERT_CONTEXT server = testroot::ReadCertificate(Env("VELTRANE_OTHER_CERT"));
    ASSERT_NE(server, nullptr);
    const std::string ownCa = Env("VELTRANE_OTHER_CA");
    const std::string otherCa = Env("VELTRANE_CA_BUNDLE");
    const std::string both = std::string(std::getenv("TEMP") ? std::getenv("TEMP") : ".") + "\\both-cas.pem";
    { std::ofstream(both, std::ios::binary) << FileText(otherCa) << FileText(ownCa); }

    EXPECT_TRUE(platform::win32::ChainsToBundle(server, ownCa, L"localhost"));
    EXPECT_TRUE(platform::win32::ChainsToBundle(server, both, L"localhost"));
    EXPECT_FALSE(platform::win32::ChainsToBundle(server, otherCa, L"localhost"));
    EXPECT_FALSE(platform::win32::ChainsToBundle(server, ownCa, L"mapservice.example"));
    EXPECT_FALSE(platform::win32::ChainsToBundle(server, "", L"localhost"));
    EXPECT_FALSE(platform::win32::ChainsToBundle(server, "Z:\\nonexistent.pem", L"localhost"));
    EXPECT_FALSE(platform::win32::ChainsToBundle(nullptr, ownCa, L"localhost"));

    // A server that sends its own root along completes its chain with it, and still only the
    // bundle's roots count.
    HCERTSTORE sent = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    PCCERT_CONTEXT root = testroot::ReadCertificate(ownCa);
    PCCERT_CONTEXT withRoot = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(sent, root, CERT_STORE_ADD_ALWAYS, nullptr));
    ASSERT_TRUE(CertAddCertificateContextToStore(sent, server, CERT_STORE_ADD_ALWAYS, &withRoot));
    EXPECT_FALSE(platform::win32::ChainsToBundle(withRoot, otherCa, L"localhost"));
    EXPECT_TRUE(platform::win32::ChainsToBundle(withRoot, ownCa, L"localhost"));
    CertFreeCertificateContext(withRoot);
    CertFreeCertificateContext(root);
    CertCloseStore(sent, 0);
    CertFreeCertificateContext(server);
    std::remove(both.c_str());
}

// A server whose certificate chains to the bundle alone gets the request; one that shows another
// certificate for the same name, from a CA that copies the bundle CA's name, gets not one byte of
// it: no path, header line or body (tls-recorder.py keeps every decrypted byte it receives).
TEST_F(InternetTest, OnlyTheServerTheBundleVouchesForReceivesTheRequest) {
    const std::string bundle = Env("VELTRANE_OTHER_CA");
    HttpRequest call = Request("POST", Url("https", "VELTRANE_RECORDER_GENUINE", "/map-dl/MDL?n=1"), bundle);
    call.headerLines = "X-WSSE: UsernameToken Nonce=\"n0nce\"";
    call.body = "signed-body";
    HttpReply reply = session_.Send(call);
    ASSERT_TRUE(reply.sent) << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "recorded");
    const std::string received = FileText(Env("VELTRANE_RECORDER_GENUINE_LOG"));
    // Wine's WinHTTP names the whole URL in the request line inside a proxy's tunnel.
    EXPECT_EQ(received.rfind("POST ", 0), 0u) << received;
    EXPECT_NE(received.find("/map-dl/MDL?n=1 HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(received.find("X-WSSE: UsernameToken Nonce=\"n0nce\"\r\n"), std::string::npos);
    EXPECT_NE(received.find("\r\n\r\nsigned-body"), std::string::npos);
    const std::string url = Url("https", "VELTRANE_RECORDER_GENUINE", "/CONF/SMALL.DAT");
    platform::OpenedUrl opened = session_.OpenUrl(url, TrustAnchors{bundle}, nullptr);
    ASSERT_NE(opened.file, nullptr);
    EXPECT_EQ(opened.file->ContentLength(), 8);
    EXPECT_EQ(opened.file->EffectiveUrl(), url);
    long failed = 0;
    EXPECT_EQ(ReadAll(*opened.file, &failed), "recorded");
    EXPECT_EQ(failed, 0);

    call.url = *platform::CrackUrl(Url("https", "VELTRANE_RECORDER_STRANGER", "/map-dl/MDL?n=1"));
    reply = session_.Send(call);
    EXPECT_FALSE(reply.sent);
    EXPECT_EQ(
        session_.OpenUrl(Url("https", "VELTRANE_RECORDER_STRANGER", "/CONF/SMALL.DAT"), TrustAnchors{bundle}, nullptr)
            .file,
        nullptr);
    EXPECT_EQ(FileText(Env("VELTRANE_RECORDER_STRANGER_LOG")), "");
}

// Through squid, which asks for Basic credentials: a refusal until the right ones are given,
// then every later request and opened URL goes through, and neither the service nor the inside
// of a CONNECT tunnel sees a Proxy-Authorization line.
void ThroughTheProxy(InternetSession& session, const std::string& bundle, const char* scheme) {
    const char* port = std::string(scheme) == "http" ? "VELTRANE_SERVICE_HTTP" : "VELTRANE_SERVICE_HTTPS";
    const std::string call = Url(scheme, port, "/map-dl/MDL");
    const std::string file = Url(scheme, port, "/map-dl/data/CONF/SMALL.DAT");
    SystemProxy squid;
    session.Reset();  // a session takes the system's proxy when it opens
    auto post = [&](const std::string& marker) {
        HttpRequest request = Request("POST", call, bundle);
        request.headerLines = "X-WSSE: UsernameToken Username=\"" + marker + "\"";
        request.body = "%3Ca%3E" + marker + "%3C%2Fa%3E";
        return session.Send(request);
    };
    EXPECT_EQ(post("refused").status, 407);
    platform::OpenedUrl refused = session.OpenUrl(file, TrustAnchors{bundle}, nullptr);
    EXPECT_FALSE(refused.file);
    EXPECT_EQ(refused.status, 407);
    session.SetProxyCredentials({"tester", "wrong"});
    EXPECT_EQ(post("wrong").status, 407);

    session.SetProxyCredentials({"tester", "s3cret"});
    const std::string marker = std::string("proxied-") + scheme;
    for (int round = 0; round < 2; ++round) {
        HttpReply reply = post(marker);
        ASSERT_TRUE(reply.sent) << reply.error;
        EXPECT_EQ(reply.status, 200);
        platform::OpenedUrl opened = session.OpenUrl(file, TrustAnchors{bundle}, nullptr);
        ASSERT_TRUE(opened.file);
        long failed = 0;
        EXPECT_EQ(ReadAll(*opened.file, &failed), "small\n");
    }
    session.Reset();  // the kept connections go, so the service has logged them all

    std::string called = LoggedCall("<a>" + marker + "</a>");
    EXPECT_NE(called.find("\"status\":200"), std::string::npos) << called;
    std::string log = FileText(Env("VELTRANE_CALL_LOG"));
    EXPECT_NE(log.find("/map-dl/data/CONF/SMALL.DAT"), std::string::npos);
    EXPECT_EQ(log.find("\"proxy_authorization\":true"), std::string::npos) << log;
    EXPECT_EQ(LoggedCall("<a>refused</a>"), "") << "the refusal came from squid";
    EXPECT_NE(FileText(Env("VELTRANE_SQUID_LOG")).find(" tester "), std::string::npos);
}

TEST_F(InternetTest, ThroughSquidCredentialsReachTheProxyOnlyOverHttp) { ThroughTheProxy(session_, bundle_, "http"); }
TEST_F(InternetTest, ThroughSquidCredentialsReachTheProxyOnlyOverHttps) { ThroughTheProxy(session_, bundle_, "https"); }

// Behind the system's proxy the bundle's path goes through it too, with the user's credentials
// for the proxy alone: 407 until they are given, then only the server the bundle vouches for
// gets the request, and neither server sees a Proxy-Authorization line.
TEST_F(InternetTest, ThroughSquidTheBundleHoldsAsWithoutIt) {
    SystemProxy squid;
    session_.Reset();
    const std::string bundle = Env("VELTRANE_OTHER_CA");
    HttpRequest call = Request("POST", Url("https", "VELTRANE_RECORDER_GENUINE", "/map-dl/MDL"), bundle);
    call.body = "signed-body";
    EXPECT_EQ(session_.Send(call).status, 407);
    session_.SetProxyCredentials({"tester", "s3cret"});
    HttpReply reply = session_.Send(call);
    ASSERT_TRUE(reply.sent) << reply.error;
    EXPECT_EQ(reply.body, "recorded");
    const std::string received = FileText(Env("VELTRANE_RECORDER_GENUINE_LOG"));
    EXPECT_NE(received.find("\r\n\r\nsigned-body"), std::string::npos) << received;
    EXPECT_EQ(received.find("Proxy-Authorization"), std::string::npos);
    const std::string squidLog = FileText(Env("VELTRANE_SQUID_LOG"));
    EXPECT_NE(squidLog.find("CONNECT localhost:" + Env("VELTRANE_RECORDER_GENUINE") + " tester "), std::string::npos)
        << squidLog;

    call.url = *platform::CrackUrl(Url("https", "VELTRANE_RECORDER_STRANGER", "/map-dl/MDL"));
    EXPECT_FALSE(session_.Send(call).sent);
    EXPECT_EQ(FileText(Env("VELTRANE_RECORDER_STRANGER_LOG")), "");
}

// A host on the proxy's bypass list is reached directly, so its 407 is no proxy's either, also
// after credentials went to the proxy for another host in the same session.
TEST_F(InternetTest, ThroughSquidABypassedHostIsReachedDirectlyAndOwedNothing) {
    SystemProxy squid(L"127.0.0.1");
    session_.Reset();
    session_.SetProxyCredentials({"tester", "s3cret"});
    HttpReply proxied =
        session_.Send(Request("GET", Url("https", "VELTRANE_SERVICE_HTTPS", "/map-dl/MapData.XML"), bundle_));
    ASSERT_TRUE(proxied.sent) << proxied.error;
    EXPECT_EQ(proxied.status, 200);
    HttpReply direct =
        session_.Send(Request("GET", Url("http", "VELTRANE_SERVICE_HTTP", "/map-dl/data/CONF/BIG.DAT"), bundle_));
    EXPECT_EQ(direct.status, 200);
    EXPECT_EQ(direct.body.size(), 300000u);
    EXPECT_EQ(FileText(Env("VELTRANE_SQUID_LOG")).find("BIG.DAT"), std::string::npos);

    StallingServer claiming(
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\nContent-Length: "
        "0\r\n\r\n");
    HttpReply refused = session_.Send(Request("GET", claiming.Url("/map-dl/MapData.XML"), bundle_));
    EXPECT_FALSE(refused.sent);
    session_.Reset();
    EXPECT_EQ(claiming.Received().find("Proxy-Authorization"), std::string::npos) << claiming.Received();
}

// No proxy is in use: a server that answers 407 only claims to be one. The request fails, and
// credentials the user gave for a proxy are not sent to it.
TEST_F(InternetTest, A407FromAServerThatIsNoProxyFailsAndGetsNoCredentials) {
    const std::string challenge =
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\n"
        "Content-Length: 0\r\n\r\n";
    session_.SetProxyCredentials({"tester", "s3cret"});
    {
        StallingServer claiming(challenge);
        HttpReply reply = session_.Send(Request("GET", claiming.Url("/map-dl/MapData.XML"), bundle_));
        EXPECT_FALSE(reply.sent);
        EXPECT_EQ(reply.status, 0);
        session_.Reset();
        EXPECT_EQ(claiming.Received().find("Proxy-Authorization"), std::string::npos) << claiming.Received();
    }
    session_.SetProxyCredentials({"tester", "s3cret"});
    StallingServer claiming(challenge);
    platform::OpenedUrl opened =
        session_.OpenUrl(claiming.Url("/map-dl/data/CONF/SMALL.DAT"), TrustAnchors{bundle_}, nullptr);
    EXPECT_FALSE(opened.file);
    EXPECT_EQ(opened.status, 0);
    session_.Reset();
    EXPECT_EQ(claiming.Received().find("Proxy-Authorization"), std::string::npos) << claiming.Received();
}

std::string Moved(const char* scheme, const std::string& target) {
    const char* port = std::string(scheme) == "http" ? "VELTRANE_REDIRECT_HTTP" : "VELTRANE_REDIRECT_HTTPS";
    return Url(scheme, port, "/moved?to=" + target);
}

// What starts encrypted never goes on in the clear; HTTPS to HTTPS and HTTP to HTTP are followed.
TEST_F(InternetTest, AnHttpsRequestNeverFollowsARedirectToPlainHttp) {
    const std::string plain = Url("http", "VELTRANE_SERVICE_HTTP", "/map-dl/MapData.XML");
    HttpReply downgraded = session_.Send(Request("GET", Moved("https", plain), bundle_));
    EXPECT_FALSE(downgraded.sent);
    EXPECT_EQ(downgraded.body, "");
    EXPECT_FALSE(session_.OpenUrl(Moved("https", plain), TrustAnchors{bundle_}, nullptr).file);

    const std::string secure = Url("https", "VELTRANE_SERVICE_HTTPS", "/map-dl/data/CONF/SMALL.DAT");
    HttpReply followed = session_.Send(Request("GET", Moved("https", secure), bundle_));
    ASSERT_TRUE(followed.sent) << followed.error;
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, "small\n");
    platform::OpenedUrl opened = session_.OpenUrl(Moved("https", secure), TrustAnchors{bundle_}, nullptr);
    ASSERT_TRUE(opened.file);
    EXPECT_EQ(opened.file->EffectiveUrl(), secure);
    HttpReply plainly = session_.Send(Request("GET", Moved("http", plain), bundle_));
    EXPECT_EQ(plainly.status, 200);
    EXPECT_NE(plainly.body.find("BIG.DAT"), std::string::npos);
}

// The caller's header lines (the service's signature) go along to the same host on any port,
// and not to another host ("localhost" is another name than "127.0.0.1"). 307 keeps the POST.
TEST_F(InternetTest, HeaderLinesFollowARedirectToTheSameHostOnly) {
    for (const char* host : {"localhost", "127.0.0.1"}) {
        const std::string target = "http://" + std::string(host) + ":" + Env("VELTRANE_SERVICE_HTTP") + "/map-dl/MDL";
        HttpRequest post = Request("POST", Moved("http", target), bundle_);
        post.headerLines = "X-WSSE: UsernameToken Username=\"to-" + std::string(host) + "\"";
        post.body = "%3Ca%3Eto-" + std::string(host) + "%3C%2Fa%3E";
        HttpReply reply = session_.Send(post);
        ASSERT_TRUE(reply.sent) << reply.error;
        EXPECT_EQ(reply.status, 200);
    }
    session_.Reset();
    EXPECT_NE(LoggedCall("<a>to-localhost</a>").find("\"wsse\":\"\""), std::string::npos)
        << LoggedCall("<a>to-localhost</a>");
    EXPECT_NE(LoggedCall("<a>to-127.0.0.1</a>").find("Username=\\\"to-127.0.0.1\\\""), std::string::npos)
        << LoggedCall("<a>to-127.0.0.1</a>");
}

TEST_F(InternetTest, AServiceThatNeverAnswersEndsAtTheStallLimit) {
    StallingServer silent("");
    session_.SetStallLimit(1000);
    auto start = std::chrono::steady_clock::now();
    HttpReply reply = session_.Send(Request("POST", silent.Url("/map-dl/MDL"), bundle_));
    EXPECT_FALSE(reply.sent);
    EXPECT_EQ(reply.error, "stalled");
    // The default limit is thirty seconds: ending this soon shows the set one acted.
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST_F(InternetTest, AbandoningEndsTheWaitingRequestAndSparesLaterOnes) {
    StallingServer silent("");
    session_.SetStallLimit(120000);
    std::thread abandon([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        session_.AbandonTransfers();
    });
    auto start = std::chrono::steady_clock::now();
    HttpReply reply = session_.Send(Request("POST", silent.Url("/map-dl/MDL"), bundle_));
    abandon.join();
    EXPECT_FALSE(reply.sent);
    EXPECT_EQ(reply.error, "stopped");
    // The stall limit is two minutes away.
    EXPECT_LT(SecondsSince(start), 3.0);

    HttpReply later =
        session_.Send(Request("GET", Url("http", "VELTRANE_SERVICE_HTTP", "/map-dl/MapData.XML"), bundle_));
    ASSERT_TRUE(later.sent) << later.error;
    EXPECT_EQ(later.status, 200);
}

TEST_F(InternetTest, AStalledBodyEndsAtTheStallLimitOrAtOnceOnStop) {
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
    for (bool stopping : {false, true}) {
        SCOPED_TRACE(stopping ? "stop" : "stall");
        StallingServer stalling(header + std::string(3000, 'x'));
        session_.SetStallLimit(stopping ? 120000 : 1000);
        std::atomic<bool> stop{false};
        platform::OpenedUrl opened = session_.OpenUrl(stalling.Url("/map-dl/data/CONF/BIG.DAT"), TrustAnchors{bundle_},
                                                      [&] { return stop.load(); });
        ASSERT_TRUE(opened.file);
        char piece[2000];
        long got = 0;
        while (got < 3000) {
            long read = opened.file->Read(piece, sizeof piece);
            ASSERT_GT(read, 0);
            got += read;
        }
        std::thread pause;
        if (stopping)
            pause = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop = true;
            });
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(opened.file->Read(piece, sizeof piece), -1);
        // A stop acts within about a second although the stall limit is two minutes away.
        EXPECT_LT(SecondsSince(start), stopping ? 3.0 : 10.0);
        if (pause.joinable()) pause.join();
    }
}
