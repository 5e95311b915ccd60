// The transport and the download job against what real networks do: a service that accepts and
// never answers, a map file that stalls half-way, requests as they appear on the wire,
// connections kept for reuse, and a forwarding proxy (squid) that asks for Basic credentials.
// Every server is real and on loopback.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Certificates.h"
#include "MapService.h"
#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "net/DownloadJob.h"
#include "net/ExternalInterface.h"
#include "net/Http.h"
#include "support/DownloadWorld.h"
#include "support/PlainServer.h"
#include "support/SquidProxy.h"
#include "support/TestWorld.h"
#include "tools/mkupdate/UpdateSet.h"

namespace fs = std::filesystem;

namespace {

using Notice = RecordingView::Notice;

constexpr uint32_t kLongStall = 600000;  // longer than any test: only a stop request ends a wait

// A map file the plain server sends: 100,000 bytes of "v".
const std::string kFileBody(100000, 'v');
constexpr char kFileMd5[] = "aa5b3f6ec5176bbe0845648337335df3";

std::string FileReply() {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kFileBody.size()) + "\r\nConnection: close\r\n\r\n" +
           kFileBody;
}

// The header names of a request head, in order.
std::vector<std::string> HeaderNames(const std::string& request) {
    std::vector<std::string> names;
    std::string head = request.substr(0, request.find("\r\n\r\n"));
    for (size_t start = head.find("\r\n"); start != std::string::npos;) {
        start += 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        names.push_back(line.substr(0, line.find(':')));
        start = end;
    }
    return names;
}

// A view that counts the proxy prompts, keeps the proxy the first one named and answers each
// with the same credentials.
class PromptCountingView : public RecordingView {
public:
    std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy) override {
        if (prompts++ == 0) named = proxy;
        return RecordingView::AskProxyCredentials(proxy);
    }
    std::atomic<int> prompts{0};
    std::string named;
};

// A file server behind the proxy (plain, or with the service's certificate) that keeps, for
// every request it receives, whether it carried a Proxy-Authorization line.
class CapturingServer {
public:
    explicit CapturingServer(const std::string& tlsFolder = "")
        : server_(tlsFolder.empty() ? std::make_unique<httplib::Server>()
                                    : std::make_unique<httplib::SSLServer>((tlsFolder + "/server.pem").c_str(),
                                                                           (tlsFolder + "/server-key.pem").c_str())),
          scheme_(tlsFolder.empty() ? "http" : "https") {
        server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            std::lock_guard guard(lock_);
            ++requests_;
            if (request.has_header("Proxy-Authorization")) ++withCredentials_;
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server_->Get("/map-dl/data/CONF/BIG.DAT", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(kFileBody, "application/octet-stream");
        });
        server_->Get("/map-dl/LINETEST.DAT", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(std::string(1000, 't'), "application/octet-stream");
        });
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }
    ~CapturingServer() {
        server_->stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const { return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path; }
    int Requests() {
        std::lock_guard guard(lock_);
        return requests_;
    }
    int WithCredentials() {
        std::lock_guard guard(lock_);
        return withCredentials_;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = -1;
    std::thread thread_;
    std::mutex lock_;
    int requests_ = 0;
    int withCredentials_ = 0;
};

}  // namespace

class RealNetworkTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareDownload(world, view, config); }
    void TearDown() override {
        for (const char* name : {"http_proxy", "https_proxy"}) unsetenv(name);
        platform::SetView(&world.view);
        // Kept connections would hold up the service's stop for its keep-alive second.
        theApp.Internet.Reset();
    }

    void StartService(const std::string& scheme = "http") {
        if (scheme == "https") {
            mapservice::TestCertificates certificates = mapservice::MakeTestCertificates(world.root + "/tls");
            fs::copy_file(certificates.caFile, world.root + "/program/ca-bundle.pem");
            config.httpsPort = 0;
            config.certFile = certificates.certFile;
            config.keyFile = certificates.keyFile;
        }
        service = std::make_unique<mapservice::MapService>(config);
        service->Start();
        int port = scheme == "https" ? service->HttpsPort() : service->HttpPort();
        theApp.ServiceUrl = scheme + "://127.0.0.1:" + std::to_string(port) + "/map-dl";
    }
    std::string CallLog() const { return TestWorld::ReadFile(world.root + "/calls.jsonl"); }
    std::string Downloaded(const std::string& relative) const { return world.root + "/maps/2026041/" + relative; }

    // The window's preparation: download start, the download folder, the description.
    int Prepare(DOWNLOAD_JOB* job) {
        DOWNLOAD_START_REQUEST request{"VT-01"};
        if (CExternalInterface().DownloadStartRequest(&request, &job->start) != 0) return -1;
        if (std::optional<std::string> name = VersionName(job->start)) DownloadFolderCreate(*name);
        job->completionRequest.model_group_cd = "VT-01";
        return CExternalInterface().GetDownloadConfing(job, 1);
    }
    // A job of one file from the plain server, with the service for the completion call.
    void OneFileJob(DOWNLOAD_JOB* job, const PlainServer& files) {
        DownloadFolderCreate("2026041");
        job->start.unified_map_ver_gen = "2026041";
        job->completionRequest.model_group_cd = "VT-01";
        job->entries = {{files.Url("/map-dl/data/CONF/BIG.DAT"), kFileMd5, 0},
                        {files.Url("/map-dl/LINETEST.DAT"), "00", 0}};
    }
    Notice Run(DOWNLOAD_JOB* job, RecordingView& on) {
        platform::SetView(&on);
        EXPECT_EQ(StartDownloadThread(job), 0);
        Notice notice = on.First(std::chrono::seconds(20));
        CloseDownloadThread();
        platform::SetView(&view);
        return notice;
    }
    // Waits (real time, up to 20 s) until the condition holds.
    static bool Eventually(const std::function<bool()>& condition) {
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(5)))
            if (condition()) return true;
        return condition();
    }

    TestWorld world;
    RecordingView view;
    mapservice::ServiceConfig config;
    std::unique_ptr<mapservice::MapService> service;
};

TEST_F(RealNetworkTest, ACallCarriesOnlyItsOwnHeaderLinesOnTheWire) {
    PlainServer wire([](size_t, const std::string&) {
        return PlainServer::Answer{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
    });
    theApp.ServiceUrl = wire.Url("/map-dl");
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    ASSERT_EQ(CExternalInterface().DownloadStartRequest(&request, &response), 0);
    std::string description;
    ASSERT_EQ(CHttp::Get(wire.Url("/map-dl/MapData.XML"), &description), 0);

    std::vector<std::string> requests = wire.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "POST /map-dl/MDL HTTP/1.1");
    // No form content type, no Accept, no Expect: the host, the length and the WSSE line.
    std::vector<std::string> names = HeaderNames(requests[0]);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Content-Length", "Host", "X-WSSE"})) << requests[0];
    size_t body = requests[0].find("\r\n\r\n") + 4;
    EXPECT_EQ(PlainServer::ContentLength(requests[0]), requests[0].size() - body);
    EXPECT_EQ(requests[0].compare(body, 9, "%3C%3Fxml"), 0) << requests[0];

    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /map-dl/MapData.XML HTTP/1.1");
    EXPECT_EQ(HeaderNames(requests[1]), std::vector<std::string>{"Host"}) << requests[1];
}

TEST_F(RealNetworkTest, ACallToAServiceThatNeverAnswersGivesUpAfterTheStallLimit) {
    PlainServer silent([](size_t, const std::string&) { return PlainServer::Answer{"", 0}; });
    theApp.ServiceUrl = silent.Url("/map-dl");
    theApp.Internet.SetStallLimit(300);
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    EXPECT_EQ(CExternalInterface().DownloadStartRequest(&request, &response), kHttpTransportError);
    EXPECT_EQ(silent.Requests().size(), 1u);
    EXPECT_TRUE(Eventually([&] { return silent.ClosedByClient() == 1; }));
}

namespace {
// The offer call on a thread of its own, as the window makes it.
std::future<int> StartOfferCall() {
    return std::async(std::launch::async, [] {
        DOWNLOAD_START_REQUEST request{"VT-01"};
        DOWNLOAD_START_RESPONSE response;
        return CExternalInterface().DownloadStartRequest(&request, &response);
    });
}
}  // namespace

TEST_F(RealNetworkTest, TheProgramsEndAbandonsACallThatWaits) {
    PlainServer silent([](size_t, const std::string&) { return PlainServer::Answer{"", 0}; });
    theApp.ServiceUrl = silent.Url("/map-dl");
    theApp.Internet.SetStallLimit(kLongStall);
    auto call = StartOfferCall();
    ASSERT_TRUE(Eventually([&] { return silent.Requests().size() == 1; }));
    theApp.ExitRequested = 1;
    bool ended = call.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(ended) << "the call still waits";
    if (!ended) theApp.Internet.AbandonTransfers();
    EXPECT_EQ(call.get(), kHttpTransportError);
}

TEST_F(RealNetworkTest, AbandoningEndsAWaitingCallAtOnceAndSparesLaterOnes) {
    PlainServer silent([](size_t, const std::string&) { return PlainServer::Answer{"", 0}; });
    theApp.ServiceUrl = silent.Url("/map-dl");
    theApp.Internet.SetStallLimit(kLongStall);
    auto call = StartOfferCall();
    ASSERT_TRUE(Eventually([&] { return silent.Requests().size() == 1; }));
    theApp.Internet.AbandonTransfers();
    // Only the abandon can end the call: the stall limit is ten minutes away. Should it not,
    // the test says so and then lets the call end by the program's end flag.
    bool ended = call.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(ended) << "the abandoned call still waits";
    if (!ended) theApp.ExitRequested = 1;
    EXPECT_EQ(call.get(), kHttpTransportError);
    theApp.ExitRequested = 0;

    // Calls made after the abandon are not abandoned.
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    EXPECT_EQ(CExternalInterface().DownloadStartRequest(&request, &response), 0);
    EXPECT_EQ(response.result_cd, "S00");
}

TEST_F(RealNetworkTest, AFileStillComingAfterTheStallLimitIsNoStall) {
    fs::create_directories(config.updateSet / "CONF");
    const std::string content(300000, 's');
    TestWorld::WriteFile((config.updateSet / "CONF/SLOW.DAT").string(), content);
    config.bytesPerSecond = 100000;  // three seconds, never a second without a byte
    StartService();
    theApp.Internet.SetStallLimit(1000);
    // A reply read whole, and a file read piece by piece.
    std::string reply;
    EXPECT_EQ(CHttp::Get(theApp.ServiceUrl + "/data/CONF/SLOW.DAT", &reply), 0);
    EXPECT_EQ(reply, content);
    platform::OpenedUrl opened = OpenSessionUrl(theApp.ServiceUrl + "/data/CONF/SLOW.DAT", nullptr);
    ASSERT_NE(opened.file, nullptr);
    std::string read;
    char piece[4096];
    long n = 0;
    while ((n = opened.file->Read(piece, sizeof piece)) > 0) read.append(piece, static_cast<size_t>(n));
    EXPECT_EQ(n, 0) << "the read failed after " << read.size() << " bytes";
    EXPECT_EQ(read, content);
}

class StalledFileTest : public RealNetworkTest,
                        public ::testing::WithParamInterface<std::atomic<int32_t> CVeltraneApp::*> {};

TEST_P(StalledFileTest, AStopEndsAStalledReadDeletesThePartAndAResumeCompletes) {
    StartService();
    // The first fetch sends 30,000 bytes and then nothing; later ones send the whole file.
    PlainServer files([](size_t connection, const std::string&) {
        return PlainServer::Answer{FileReply(),
                                   connection == 0 ? 30000 + FileReply().size() - kFileBody.size() : std::string::npos};
    });
    theApp.Internet.SetStallLimit(kLongStall);
    DOWNLOAD_JOB job;
    OneFileJob(&job, files);
    RecordingView first;
    platform::SetView(&first);
    ASSERT_EQ(StartDownloadThread(&job), 0);
    ASSERT_TRUE(Eventually([&] { return fs::exists(Downloaded("CONF/BIG.DAT")); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    (theApp.*GetParam()).store(1);
    Notice notice = first.First(std::chrono::seconds(10));
    CloseDownloadThread();
    platform::SetView(&view);
    EXPECT_EQ(notice, Notice(kNotifyDownloadStopped, kDownloadStopped));
    EXPECT_FALSE(fs::exists(Downloaded("CONF/BIG.DAT")));
    EXPECT_TRUE(Eventually([&] { return files.ClosedByClient() == 1; }));

    (theApp.*GetParam()).store(0);
    RecordingView second;
    EXPECT_EQ(Run(&job, second), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(TestWorld::ReadFile(Downloaded("CONF/BIG.DAT")), kFileBody);
}

INSTANTIATE_TEST_SUITE_P(PauseAndExit, StalledFileTest,
                         ::testing::Values(&CVeltraneApp::PauseRequested, &CVeltraneApp::ExitRequested));

TEST_F(RealNetworkTest, AFileThatStallsFailsAfterTheStallLimitAndTheNextStartCompletes) {
    StartService();
    PlainServer files([](size_t connection, const std::string&) {
        return PlainServer::Answer{FileReply(), connection == 0 ? 200 : std::string::npos};
    });
    theApp.Internet.SetStallLimit(500);
    DOWNLOAD_JOB job;
    OneFileJob(&job, files);
    RecordingView first;
    EXPECT_EQ(Run(&job, first), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_TRUE(Eventually([&] { return files.ClosedByClient() == 1; }));

    RecordingView second;
    EXPECT_EQ(Run(&job, second), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(TestWorld::ReadFile(Downloaded("CONF/BIG.DAT")), kFileBody);
}

TEST_F(RealNetworkTest, ADownloadOfManyFilesOverHttpsReusesItsConnections) {
    const int files = 24;
    fs::create_directories(config.updateSet / "CONF");
    for (int i = 0; i < files; ++i)
        TestWorld::WriteFile((config.updateSet / ("CONF/FILE" + std::to_string(i) + ".DAT")).string(),
                             std::string(1000 + i, 'a'));
    StartService("https");
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    ASSERT_EQ(LineSpeedTest(&job, platform::MachineClock()), 0);
    RecordingView download;
    EXPECT_EQ(Run(&job, download), Notice(kNotifyDownloadDone, 0));

    // Each request of the log names the connection it came on.
    std::set<std::string> peers;
    size_t requests = 0;
    std::string log = CallLog();
    for (size_t at = log.find("\"peer\":\""); at != std::string::npos; at = log.find("\"peer\":\"", at + 1)) {
        size_t start = at + 8;
        peers.insert(log.substr(start, log.find('"', start) - start));
        ++requests;
    }
    // The offer, the description, the line test, every file and the completion call.
    EXPECT_EQ(requests, static_cast<size_t>(files) + 4);
    RecordProperty("connections", static_cast<int>(peers.size()));
    EXPECT_LE(peers.size(), 2u) << log;
}

class ProxyTest : public RealNetworkTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProxyTest, AWholeDownloadThroughAnAuthenticatingProxyAsksForCredentialsOnce) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService(GetParam());
    SquidProxy squid("navi", "s3cret");
    setenv("http_proxy", squid.Url().c_str(), 1);
    setenv("https_proxy", squid.Url().c_str(), 1);
    PromptCountingView prompts;
    prompts.AnswerProxyPrompt(platform::ProxyCredentials{"navi", "s3cret"});
    platform::SetView(&prompts);

    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    EXPECT_EQ(LineSpeedTest(&job, platform::MachineClock()), 0);
    EXPECT_EQ(Run(&job, prompts), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(job.completionResponse.result_cd, "S00");
    EXPECT_EQ(prompts.prompts.load(), 1);
    // The credentials are the proxy's: the prompt names it, not the service.
    EXPECT_EQ(prompts.named, squid.Url());
    for (const auto& entry : fs::recursive_directory_iterator(config.updateSet)) {
        if (!entry.is_regular_file()) continue;
        std::string relative = fs::relative(entry.path(), config.updateSet).generic_string();
        EXPECT_EQ(TestWorld::ReadFile(Downloaded(relative)), TestWorld::ReadFile(entry.path().string())) << relative;
    }
    // Everything went through the proxy as the user who gave the credentials; squid logs a
    // tunnel when it closes.
    theApp.Internet.Reset();
    EXPECT_TRUE(Eventually([&] { return squid.AccessLog().find(" navi ") != std::string::npos; })) << squid.AccessLog();
    EXPECT_NE(CallLog().find("\"call\":\"DLS\""), std::string::npos);
}

// Over HTTP the proxy forwards the request; over HTTPS the request travels inside the tunnel,
// where only the program decides what it carries.
TEST_P(ProxyTest, ProxyCredentialsGoToTheProxyAndNeverBeyondIt) {
    StartService(GetParam());
    CapturingServer files(GetParam() == std::string("https") ? world.root + "/tls" : "");
    SquidProxy squid("navi", "s3cret");
    setenv("http_proxy", squid.Url().c_str(), 1);
    setenv("https_proxy", squid.Url().c_str(), 1);
    PromptCountingView prompts;
    prompts.AnswerProxyPrompt(platform::ProxyCredentials{"navi", "s3cret"});
    platform::SetView(&prompts);

    DOWNLOAD_JOB job;
    DownloadFolderCreate("2026041");
    job.start.unified_map_ver_gen = "2026041";
    job.completionRequest.model_group_cd = "VT-01";
    job.entries = {{files.Url("/map-dl/data/CONF/BIG.DAT"), kFileMd5, 0}, {files.Url("/map-dl/LINETEST.DAT"), "00", 0}};
    EXPECT_EQ(LineSpeedTest(&job, platform::MachineClock()), 0);
    EXPECT_EQ(Run(&job, prompts), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(TestWorld::ReadFile(Downloaded("CONF/BIG.DAT")), kFileBody);
    EXPECT_EQ(prompts.prompts.load(), 1);
    EXPECT_EQ(files.Requests(), 2);
    EXPECT_EQ(files.WithCredentials(), 0);
    theApp.Internet.Reset();
    EXPECT_TRUE(Eventually([&] { return squid.AccessLog().find(" navi ") != std::string::npos; })) << squid.AccessLog();
}

INSTANTIATE_TEST_SUITE_P(Schemes, ProxyTest, ::testing::Values("http", "https"));

// No proxy is in use: a server that answers 407 is no proxy of ours, whatever it claims.
TEST_F(RealNetworkTest, A407WithoutAProxyAsksForNothingAndSendsNoCredentials) {
    const std::string challenge =
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\n"
        "Content-Length: 0\r\nConnection: close\r\n\r\n";
    PlainServer server([&](size_t connection, const std::string&) {
        return PlainServer::Answer{connection == 0 ? challenge : FileReply()};
    });
    PromptCountingView prompts;
    prompts.AnswerProxyPrompt(platform::ProxyCredentials{"navi", "s3cret"});
    platform::SetView(&prompts);
    std::string reply;
    EXPECT_EQ(CHttp::Get(server.Url("/map-dl/MapData.XML"), &reply), kHttpTransportError);
    EXPECT_EQ(CHttp::Get(server.Url("/map-dl/MapData.XML"), &reply), 0);

    // Credentials the user gave earlier, for a proxy, stay with the session all the same.
    theApp.Internet.SetProxyCredentials({"navi", "s3cret"});
    EXPECT_NE(OpenSessionUrl(server.Url("/map-dl/data/CONF/BIG.DAT"), nullptr).file, nullptr);
    EXPECT_EQ(prompts.prompts.load(), 0);
    std::vector<std::string> requests = server.Requests();
    EXPECT_EQ(requests.size(), 3u);
    for (const std::string& request : requests)
        EXPECT_EQ(request.find("Proxy-Authorization"), std::string::npos) << request;
}

TEST_F(RealNetworkTest, ADeclinedProxyPromptFailsTheFileAndAsksNoMore) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    SquidProxy squid("navi", "s3cret");
    setenv("http_proxy", squid.Url().c_str(), 1);
    PromptCountingView prompts;
    prompts.AnswerProxyPrompt(std::nullopt);
    EXPECT_EQ(Run(&job, prompts), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_EQ(prompts.prompts.load(), 1);
}

TEST_F(RealNetworkTest, NewCredentialsFromAnotherRequestAreTriedWithoutAsking) {
    PromptCountingView prompts;
    prompts.AnswerProxyPrompt(platform::ProxyCredentials{"navi", "typed"});
    platform::SetView(&prompts);
    // The session holds credentials another request got while this one, sent with the ones
    // before them, was refused: a new password alone makes them new.
    theApp.Internet.SetProxyCredentials({"navi", "new"});
    const platform::UrlParts origin{"https", "service.invalid", 443, "/"};
    EXPECT_TRUE(AskProxyCredentials(origin, platform::ProxyCredentials{"navi", "old"}));
    EXPECT_TRUE(AskProxyCredentials(origin, platform::ProxyCredentials{"other", "new"}));
    EXPECT_TRUE(AskProxyCredentials(origin, std::nullopt));
    EXPECT_EQ(prompts.prompts.load(), 0);
    // Refused with the very credentials the session holds: the user is asked.
    EXPECT_TRUE(AskProxyCredentials(origin, platform::ProxyCredentials{"navi", "new"}));
    EXPECT_EQ(prompts.prompts.load(), 1);
    EXPECT_EQ(theApp.Internet.KeptProxyCredentials()->password, "typed");
    platform::SetView(&view);
}
