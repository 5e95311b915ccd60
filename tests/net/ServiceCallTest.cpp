// The three calls and the transport against the real mapservice, in-process on free loopback
// ports, over HTTP and HTTPS. This file is UTF-8 (the service's own headers are); text that
// the program compares is converted to CP932 where it is used.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Certificates.h"
#include "MapService.h"
#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "net/ExternalInterface.h"
#include "net/Http.h"
#include "platform/CodePage.h"
#include "platform/Internet.h"
#include "support/BindSha512.h"
#include "support/LogCapture.h"
#include "support/SquidProxy.h"
#include "support/TestWorld.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ReadLines(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A server beside the service (plain, or with the service's certificate): redirects "/moved"
// and a posted "/moved/MDL" (307, so the POST stays a POST), and records a posted body and
// its X-WSSE header as they arrived.
class SideServer {
public:
    explicit SideServer(std::string redirectTarget, const mapservice::TestCertificates* tls = nullptr,
                        const char* address = "127.0.0.1")
        : server_(tls != nullptr ? std::make_unique<httplib::SSLServer>(tls->certFile.c_str(), tls->keyFile.c_str())
                                 : std::make_unique<httplib::Server>()) {
        server_->Get("/moved", [target = redirectTarget](const httplib::Request&, httplib::Response& response) {
            response.set_redirect(target, 302);
        });
        server_->Post("/moved/MDL", [target = redirectTarget](const httplib::Request&, httplib::Response& response) {
            response.set_redirect(target, 307);
        });
        auto record = [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard guard(lock_);
            body_ = request.body;
            signature_ = request.get_header_value("X-WSSE");
            ++posts_;
            response.set_content("", "text/plain");
        };
        server_->Post("/map-dl/MDL", record);
        // A chain of redirects: /hop/N/MDL moves to /hop/N+1/MDL, and /hop/11/MDL answers.
        server_->Post(R"(/hop/(\d+)/MDL)", [record](const httplib::Request& request, httplib::Response& response) {
            int hop = std::stoi(request.matches[1].str());
            if (hop == 11) return record(request, response);
            response.set_redirect("/hop/" + std::to_string(hop + 1) + "/MDL", 307);
        });
        port_ = server_->bind_to_any_port(address);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }
    ~SideServer() {
        server_->stop();
        thread_.join();
    }
    int Port() const { return port_; }
    std::string Body() {
        std::lock_guard guard(lock_);
        return body_;
    }
    std::string Signature() {
        std::lock_guard guard(lock_);
        return signature_;
    }
    int Posts() {
        std::lock_guard guard(lock_);
        return posts_;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    int port_ = -1;
    std::thread thread_;
    std::mutex lock_;
    std::string body_;
    std::string signature_;
    int posts_ = 0;
};

}  // namespace

class ServiceCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Loopback only: no proxy from the developer's environment.
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
        program = world.root + "/program";
        theApp.ResetState();
        theApp.ProgramFolder = world.Win(program) + "\\";
        theApp.ProductNumber = "VT-01";
        BindSha512();

        certificates = mapservice::MakeTestCertificates(world.root + "/tls");
        fs::copy_file(certificates.caFile, program + "/ca-bundle.pem");
        config.httpPort = 0;
        config.httpsPort = 0;
        config.certFile = certificates.certFile;
        config.keyFile = certificates.keyFile;
        config.updateSet = world.root + "/set";
        config.callLog = world.root + "/calls.jsonl";
        TestWorld::WriteFile((fs::create_directories(world.root + "/set/CONF"), world.root + "/set/CONF/CONF1001.DAT"),
                             "abc");
    }

    // Kept connections would hold up the service's stop for its keep-alive second.
    void TearDown() override { theApp.Internet.Reset(); }

    void Start(const std::string& scheme = "https") {
        service = std::make_unique<mapservice::MapService>(config);
        service->Start();
        theApp.ServiceUrl = BaseUrl(scheme) + "/map-dl";
    }

    std::string BaseUrl(const std::string& scheme) const {
        int port = scheme == "https" ? service->HttpsPort() : service->HttpPort();
        return scheme + "://127.0.0.1:" + std::to_string(port);
    }

    // The service logs a call after answering it, so the last line may still be on its way.
    std::vector<std::string> Calls(size_t atLeast = 0) {
        std::vector<std::string> lines = ReadLines(world.root + "/calls.jsonl");
        for (int wait = 0; lines.size() < atLeast && wait < 200; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            lines = ReadLines(world.root + "/calls.jsonl");
        }
        return lines;
    }

    TestWorld world;
    std::string program;
    mapservice::TestCertificates certificates;
    mapservice::ServiceConfig config;
    std::unique_ptr<mapservice::MapService> service;
    CExternalInterface service_interface;
};

class ServiceCallSchemeTest : public ServiceCallTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ServiceCallSchemeTest, TheThreeCallsSucceedWithAValidHeader) {
    Start(GetParam());
    DOWNLOAD_START_REQUEST startRequest{"VT-01"};
    DOWNLOAD_START_RESPONSE start;
    ASSERT_EQ(service_interface.DownloadStartRequest(&startRequest, &start), 0);
    std::string code = "none";
    EXPECT_EQ(ServiceResultToCode(start.result_cd, start.result_detail_cd, &code), 0);
    EXPECT_EQ(start.result_status, "0");
    EXPECT_EQ(start.unified_map_ver_gen + start.unified_map_ver_major + start.unified_map_ver_minor, "2026041");
    EXPECT_EQ(start.product_name, *platform::Utf8ToCp932(config.offer.productName));
    EXPECT_EQ(start.conf_file_url, BaseUrl(GetParam()) + "/map-dl/MapData.XML");

    DOWNLOAD_COMPLETION_REQUEST completionRequest{"VT-01"};
    DOWNLOAD_COMPLETION_RESPONSE completion;
    ASSERT_EQ(service_interface.DownloadCompletionRequest(&completionRequest, &completion), 0);
    EXPECT_EQ(completion.result_cd, "S00");

    TRANSFER_COMPLETION_REQUEST transferRequest{"VT-01", "E12"};
    TRANSFER_COMPLETION_RESPONSE transfer;
    ASSERT_EQ(service_interface.TransferCompletionRequest(&transferRequest, &transfer), 0);
    EXPECT_EQ(transfer.result_cd, "S00");

    std::vector<std::string> calls = Calls(3);
    ASSERT_EQ(calls.size(), 3u);
    const char* names[] = {"MDL", "DLS", "TSC"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Has(calls[i], std::string("\"call\":\"") + names[i] + "\"")) << calls[i];
        EXPECT_TRUE(Has(calls[i], std::string("\"scheme\":\"") + GetParam() + "\"")) << calls[i];
        EXPECT_TRUE(Has(calls[i], "\"wsse_verified\":true")) << calls[i];
        EXPECT_TRUE(Has(calls[i], "<in-param-section><model-group-cd>VT-01</model-group-cd>")) << calls[i];
    }
    EXPECT_TRUE(Has(calls[0], "<out-param-section><result-status></result-status>"));
    EXPECT_TRUE(Has(calls[2], "<maptrs_failure_cd>E12</maptrs_failure_cd></in-param-section>"));
}

INSTANTIATE_TEST_SUITE_P(Schemes, ServiceCallSchemeTest, ::testing::Values("http", "https"));

TEST_F(ServiceCallTest, TheBodyGoesPercentEncodedWithItsValuesUnescaped) {
    Start();
    SideServer side("");
    theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(side.Port()) + "/map-dl";
    DOWNLOAD_START_REQUEST request{"A<&B"};
    DOWNLOAD_START_RESPONSE response;
    ASSERT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    std::string body = side.Body();
    EXPECT_EQ(
        body.rfind("%3C%3Fxml+version%3D%221.0%22+encoding%3D%22utf-8%22%3F%3E%3C%21DOCTYPE+download-start-if", 0), 0u)
        << body;
    EXPECT_TRUE(Has(body, "%3Cmodel-group-cd%3EA%3C%26B%3C%2Fmodel-group-cd%3E")) << body;
}

TEST_F(ServiceCallTest, ErrorStatusesComeBackWithoutParsing) {
    config.statusFaults["MDL"].status = 500;
    config.statusFaults["DLS"].status = 404;
    config.statusFaults["TSC"].status = 503;
    Start();
    DOWNLOAD_START_REQUEST startRequest{"VT-01"};
    DOWNLOAD_START_RESPONSE start;
    EXPECT_EQ(service_interface.DownloadStartRequest(&startRequest, &start), 500);
    EXPECT_EQ(start.result_cd, "");
    DOWNLOAD_COMPLETION_REQUEST completionRequest{"VT-01"};
    DOWNLOAD_COMPLETION_RESPONSE completion;
    EXPECT_EQ(service_interface.DownloadCompletionRequest(&completionRequest, &completion), 404);
    TRANSFER_COMPLETION_REQUEST transferRequest{"VT-01", ""};
    TRANSFER_COMPLETION_RESPONSE transfer;
    EXPECT_EQ(service_interface.TransferCompletionRequest(&transferRequest, &transfer), 503);
    EXPECT_EQ(transfer.result_detail_cd, "E07");
}

TEST_F(ServiceCallTest, StatusFourHundredIsTheFirstRefusal) {
    config.statusFaults["MDL"].status = 400;
    Start();
    DOWNLOAD_START_REQUEST startRequest{"VT-01"};
    DOWNLOAD_START_RESPONSE start;
    EXPECT_EQ(service_interface.DownloadStartRequest(&startRequest, &start), 400);
    EXPECT_EQ(start.result_cd, "");
    EXPECT_EQ(start.product_name, "");
}

TEST_F(ServiceCallTest, AMalformedReplyIsAGeneralServiceError) {
    config.malformedFaults["MDL"] = {};
    Start();
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    ASSERT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    std::string code;
    EXPECT_EQ(ServiceResultToCode(response.result_cd, response.result_detail_cd, &code), kServiceRefused);
    EXPECT_EQ(code, "E90");
}

TEST_F(ServiceCallTest, ARedirectIsFollowedToTheDescription) {
    Start("http");
    SideServer side(BaseUrl("http") + "/map-dl/MapData.XML");
    std::string reply;
    EXPECT_EQ(CHttp::Get("http://127.0.0.1:" + std::to_string(side.Port()) + "/moved", &reply), 0);
    EXPECT_TRUE(Has(reply, "<Map>")) << reply;
    EXPECT_TRUE(Has(reply, "/map-dl/data/CONF/CONF1001.DAT</url>")) << reply;
}

TEST_F(ServiceCallTest, AnHttpsRequestNeverFollowsARedirectToPlainHttp) {
    Start("http");
    SideServer side(BaseUrl("http") + "/map-dl/MapData.XML", &certificates);
    const std::string moved = "https://127.0.0.1:" + std::to_string(side.Port()) + "/moved";
    std::string reply;
    EXPECT_EQ(CHttp::Get(moved, &reply), kHttpTransportError);
    EXPECT_EQ(OpenSessionUrl(moved, nullptr).file, nullptr);
    EXPECT_TRUE(Calls().empty());

    // HTTPS to HTTPS is followed.
    SideServer secure(BaseUrl("https") + "/map-dl/MapData.XML", &certificates);
    EXPECT_EQ(CHttp::Get("https://127.0.0.1:" + std::to_string(secure.Port()) + "/moved", &reply), 0);
    EXPECT_TRUE(Has(reply, "<Map>")) << reply;
    theApp.Internet.Reset();  // the side servers stop at once without kept connections
}

TEST_F(ServiceCallTest, TheSignatureIsNotSentToARedirectTargetOnAnotherHost) {
    Start("http");
    SideServer elsewhere("", nullptr, "127.0.0.2");
    SideServer side("http://127.0.0.2:" + std::to_string(elsewhere.Port()) + "/map-dl/MDL");
    theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(side.Port()) + "/moved";
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    ASSERT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    ASSERT_EQ(elsewhere.Posts(), 1);
    EXPECT_TRUE(Has(elsewhere.Body(), "model-group-cd%3EVT-01")) << elsewhere.Body();
    EXPECT_EQ(elsewhere.Signature(), "");

    // The same host keeps it, on any port.
    SideServer same("http://127.0.0.1:" + std::to_string(side.Port()) + "/map-dl/MDL");
    theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(same.Port()) + "/moved";
    ASSERT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    ASSERT_EQ(side.Posts(), 1);
    EXPECT_EQ(side.Signature().rfind("UsernameToken Username=", 0), 0u) << side.Signature();
    theApp.Internet.Reset();
}

// The signed calls follow their redirects in the session: never from HTTPS to plain HTTP, and
// at most ten of them.
TEST_F(ServiceCallTest, ASignedCallFollowsAtMostTenRedirectsAndNeverToPlainHttp) {
    Start("http");
    SideServer plain("");
    SideServer secure("http://127.0.0.1:" + std::to_string(plain.Port()) + "/map-dl/MDL", &certificates);
    theApp.ServiceUrl = "https://127.0.0.1:" + std::to_string(secure.Port()) + "/moved";
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), kHttpTransportError);
    EXPECT_EQ(plain.Posts(), 0);

    theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/hop/0";
    EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), kHttpTransportError);
    EXPECT_EQ(plain.Posts(), 0);
    theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/hop/1";
    EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    EXPECT_EQ(plain.Posts(), 1);
    theApp.Internet.Reset();
}

// A plain service URL is the administrator's choice, logged at start-up for what it costs.
TEST_F(ServiceCallTest, APlainServiceUrlIsLoggedAtStartUp) {
    for (const char* url : {"http://127.0.0.1:8080/map-dl", "https://127.0.0.1:8443/map-dl"}) {
        SCOPED_TRACE(url);
        fs::remove(program + "/capture.log");
        LogCapture log(program);
        TestWorld::WriteFile(program + "/Veltrane.ini",
                             std::string("[VELTRANE]\r\nEXTERNAL_INTERFACE_URL=") + url + "\r\n");
        theApp.ReadPaths();
        EXPECT_EQ(theApp.ServiceUrl, url);
        EXPECT_EQ(log.Count(*platform::Utf8ToCp932("警告：サービスURLがHTTPSではありません")), url[4] == ':' ? 1u : 0u);
    }
}

TEST_F(ServiceCallTest, AnUnparseableUrlFailsWithoutConnecting) {
    Start();
    for (std::string url : {std::string("https://127.0.0.1:99999/map-dl"), std::string("not a url"),
                            "ftp://127.0.0.1:" + std::to_string(service->HttpPort()) + "/map-dl"}) {
        theApp.ServiceUrl = url;
        DOWNLOAD_START_REQUEST request{"VT-01"};
        DOWNLOAD_START_RESPONSE response;
        EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), kHttpTransportError) << url;
    }
    EXPECT_TRUE(Calls().empty());
}

TEST_F(ServiceCallTest, ACertificateOutsideTheBundleIsRefused) {
    Start();
    std::string reply;
    std::string description = BaseUrl("https") + "/map-dl/MapData.XML";
    ASSERT_EQ(CHttp::Get(description, &reply), 0);
    // Another authority in the bundle: the service's certificate is no longer trusted.
    mapservice::TestCertificates other = mapservice::MakeTestCertificates(world.root + "/other");
    fs::copy_file(other.caFile, program + "/ca-bundle.pem", fs::copy_options::overwrite_existing);
    EXPECT_EQ(CHttp::Get(description, &reply), kHttpTransportError);
    EXPECT_EQ(OpenSessionUrl(description, nullptr).file, nullptr);
    fs::remove(program + "/ca-bundle.pem");
    EXPECT_EQ(CHttp::Get(description, &reply), kHttpTransportError);
    EXPECT_EQ(Calls(1).size(), 1u);
}

TEST_F(ServiceCallTest, ACertificateForAnotherHostIsRefused) {
    // The service answers on every loopback address; its certificate names 127.0.0.1,
    // localhost and ::1 only, so 127.0.0.2 is another host holding that certificate.
    config.bindHost = "0.0.0.0";
    Start();
    std::string reply;
    const std::string path = ":" + std::to_string(service->HttpsPort()) + "/map-dl/MapData.XML";
    ASSERT_EQ(CHttp::Get("https://127.0.0.1" + path, &reply), 0);
    EXPECT_EQ(CHttp::Get("https://127.0.0.2" + path, &reply), kHttpTransportError);
    EXPECT_EQ(OpenSessionUrl("https://127.0.0.2" + path, nullptr).file, nullptr);
    EXPECT_EQ(Calls(1).size(), 1u);
}

TEST_F(ServiceCallTest, AnHttpUrlOnAnotherPortIsPlainHttp) {
    Start();
    std::string reply;
    std::string port = std::to_string(service->HttpsPort());
    EXPECT_EQ(CHttp::Get("http://127.0.0.1:" + port + "/map-dl/MapData.XML", &reply), kHttpTransportError);
    EXPECT_EQ(CHttp::Get("https://127.0.0.1:" + port + "/map-dl/MapData.XML", &reply), 0);
}

TEST_F(ServiceCallTest, AProxyChallengeAsksForCredentialsAndSendsAgain) {
    Start();
    SquidProxy squid("navi", "secret");
    setenv("https_proxy", squid.Url().c_str(), 1);
    DOWNLOAD_START_REQUEST request{"VT-01"};
    DOWNLOAD_START_RESPONSE response;
    world.view.AnswerProxyPrompt(std::nullopt);
    EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), kHttpProxyDeclined);
    // A declined prompt is no failure of the line: the transfer report gets no E07.
    TRANSFER_COMPLETION_REQUEST transferRequest{"VT-01", ""};
    TRANSFER_COMPLETION_RESPONSE transfer;
    world.view.AnswerProxyPrompt(std::nullopt);
    EXPECT_EQ(service_interface.TransferCompletionRequest(&transferRequest, &transfer), kHttpProxyDeclined);
    EXPECT_EQ(transfer.result_detail_cd, "");
    EXPECT_TRUE(Calls().empty());
    world.view.AnswerProxyPrompt(platform::ProxyCredentials{"navi", "secret"});
    EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    EXPECT_EQ(response.result_cd, "S00");
    std::vector<std::string> calls = Calls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(Has(calls[0], "\"status\":200"));

    // The session keeps the credentials: later calls and opened URLs are not asked again.
    world.view.AnswerProxyPrompt(std::nullopt);
    EXPECT_EQ(service_interface.DownloadStartRequest(&request, &response), 0);
    EXPECT_NE(OpenSessionUrl(BaseUrl("https") + "/map-dl/data/CONF/CONF1001.DAT", nullptr).file, nullptr);
    theApp.Internet.Reset();
    unsetenv("https_proxy");
}

TEST_F(ServiceCallTest, TheOpenedUrlReadsTheWholeFilePieceByPiece) {
    std::string content(300'000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    TestWorld::WriteFile(world.root + "/set/CONF/BIG.DAT", content);
    Start();
    auto file = OpenSessionUrl(BaseUrl("https") + "/map-dl/data/CONF/BIG.DAT", nullptr).file;
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->ContentLength(), 300'000);
    std::string read;
    char piece[2000];
    for (long n; (n = file->Read(piece, sizeof piece)) > 0;) read.append(piece, n);
    EXPECT_EQ(read, content);
    EXPECT_EQ(OpenSessionUrl(BaseUrl("https") + "/map-dl/data/CONF/MISSING.DAT", nullptr).file, nullptr);
}

TEST_F(ServiceCallTest, AnOpenedRangeCarriesTheRestOnlyWhileTheVersionHolds) {
    std::string content(300'000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    TestWorld::WriteFile(world.root + "/set/CONF/BIG.DAT", content);
    Start();
    std::string url = BaseUrl("https") + "/map-dl/data/CONF/BIG.DAT";
    auto ReadAll = [](platform::InternetFile& file) {
        std::string read;
        char piece[2000];
        for (long n; (n = file.Read(piece, sizeof piece)) > 0;) read.append(piece, n);
        return read;
    };
    platform::OpenedUrl whole = OpenSessionUrl(url, nullptr);
    ASSERT_NE(whole.file, nullptr);
    std::string etag = whole.file->Header("ETag");
    ASSERT_FALSE(etag.empty());
    EXPECT_EQ(whole.file->Header("Content-Range"), "");
    whole.file.reset();

    platform::OpenedUrl rest = OpenSessionUrl(url, nullptr, platform::ByteRange{100'000, etag});
    ASSERT_NE(rest.file, nullptr);
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.file->Header("Content-Range"), "bytes 100000-299999/300000");
    EXPECT_EQ(ReadAll(*rest.file), content.substr(100'000));

    // Another version on the server: the whole file comes back.
    platform::OpenedUrl changed = OpenSessionUrl(url, nullptr, platform::ByteRange{100'000, "\"elsewhere\""});
    ASSERT_NE(changed.file, nullptr);
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(ReadAll(*changed.file), content);

    platform::OpenedUrl beyond = OpenSessionUrl(url, nullptr, platform::ByteRange{300'000, etag});
    EXPECT_EQ(beyond.file, nullptr);
    EXPECT_EQ(beyond.status, 416);
}

TEST_F(ServiceCallTest, AReplyLongerThan64KiBIsReadWhole) {
    config.lineTestBytes = 200'000;
    Start();
    std::string reply;
    ASSERT_EQ(CHttp::Get(BaseUrl("https") + "/map-dl/LINETEST.DAT", &reply), 0);
    EXPECT_EQ(reply.size(), 200'000u);
}

TEST_F(ServiceCallTest, AReplyOfExactly16MiBIsReadAndOneByteMoreIsATransportFailure) {
    config.lineTestBytes = 16 * 1024 * 1024;
    Start("http");
    std::string reply;
    ASSERT_EQ(CHttp::Get(BaseUrl("http") + "/map-dl/LINETEST.DAT", &reply), 0);
    EXPECT_EQ(reply.size(), 16u * 1024 * 1024);

    theApp.Internet.Reset();
    config.lineTestBytes = 16 * 1024 * 1024 + 1;
    Start("http");
    reply = "kept";
    EXPECT_EQ(CHttp::Get(BaseUrl("http") + "/map-dl/LINETEST.DAT", &reply), kHttpTransportError);
    EXPECT_EQ(reply, "kept");
}
