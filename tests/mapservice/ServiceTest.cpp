// The service in-process on free loopback ports, spoken to with an httplib client.
#include "Certificates.h"
#include "Digest.h"
#include "MapService.h"
#include "PercentCoding.h"
#include "ServiceXml.h"
#include "TestSupport.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <stdexcept>

namespace mapservice {
namespace {

using test::kValidWsse;

struct Entry {
    std::string element;
    std::string url;
    std::string hashCode;
};

std::vector<Entry> Entries(const std::string& description) {
    std::vector<Entry> entries;
    std::regex entry("<(MapData|TestMapData)><url>([^<]*)</url><HashCode>([^<]*)</HashCode>");
    for (std::sregex_iterator it(description.begin(), description.end(), entry), end; it != end; ++it)
        entries.push_back({(*it)[1], (*it)[2], (*it)[3]});
    return entries;
}

std::string PathOf(const std::string& url) { return url.substr(url.find('/', url.find("://") + 3)); }

class ServiceTest : public testing::Test {
protected:
    void SetUp() override {
        TestCertificates certificates = MakeTestCertificates(folder_.Path() / "tls");
        caFile_ = certificates.caFile.string();
        config_.httpPort = 0;
        config_.httpsPort = 0;
        config_.certFile = certificates.certFile;
        config_.keyFile = certificates.keyFile;
        config_.updateSet = folder_.Path() / "set";
        config_.callLog = folder_.Path() / "calls.jsonl";
        test::WriteFile(config_.updateSet / "CONF" / "CONF1001.DAT", "abc");
        test::WriteFile(config_.updateSet / "DISKID.DAT", "");
        test::WriteFile(config_.updateSet / "FLASH" / "RENEWAL" / "MAP01.ZIP", std::string(1'044'481, 'm'));
    }

    void Start() {
        service_ = std::make_unique<MapService>(config_);
        service_->Start();
    }

    httplib::Client Http() { return httplib::Client("127.0.0.1", service_->HttpPort()); }

    std::unique_ptr<httplib::SSLClient> Https(const std::string& caFile) {
        auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", service_->HttpsPort());
        client->set_ca_cert_path(caFile.c_str());
        client->enable_server_certificate_verification(true);
        return client;
    }

    // Posts a call and returns the status and the decoded reply.
    template <class Client>
    std::pair<int, std::string> Call(Client& client, const std::string& call, const std::string& xml,
                                     const std::string& wsse = kValidWsse) {
        httplib::Headers headers;
        if (!wsse.empty()) headers.emplace("X-WSSE", wsse);
        auto reply =
            client.Post(("/map-dl/" + call).c_str(), headers, PercentEncode(xml), "application/x-www-form-urlencoded");
        if (!reply) return {-1, ""};
        EXPECT_EQ(reply->body.find('<'), std::string::npos) << "reply not percent-encoded";
        return {reply->status, PercentDecode(reply->body)};
    }

    std::pair<int, std::string> DownloadStart(const std::string& wsse = kValidWsse) {
        auto client = Http();
        return Call(client, "MDL", test::DownloadStartXml("ABC"), wsse);
    }

    static std::string Field(const std::string& reply, const std::string& name) {
        return ElementText(reply.substr(reply.find("<out-param-section>")), name).value_or("<none>");
    }

    test::TempFolder folder_;
    ServiceConfig config_;
    std::string caFile_;
    std::unique_ptr<MapService> service_;
};

TEST_F(ServiceTest, DownloadStartOverHttpsOffersTheConfiguredVersion) {
    Start();
    auto client = Https(caFile_);
    auto [status, reply] = Call(*client, "MDL", test::DownloadStartXml("ABC"));
    ASSERT_EQ(status, 200);
    EXPECT_TRUE(reply.starts_with("<?xml version=\"1.0\" encoding=\"utf-8\"?>"));
    EXPECT_NE(reply.find("<in-param-section><model-group-cd>ABC</model-group-cd>"), std::string::npos);
    EXPECT_EQ(Field(reply, "result-cd"), "S00");
    EXPECT_EQ(Field(reply, "unified-map-ver-gen") + Field(reply, "unified-map-ver-major") +
                  Field(reply, "unified-map-ver-minor"),
              "2026041");
    EXPECT_EQ(Field(reply, "product-name"), "全国版地図 2026年4月");
    std::string confUrl = Field(reply, "conf-file-url");
    EXPECT_EQ(confUrl, "https://127.0.0.1:" + std::to_string(service_->HttpsPort()) + "/map-dl/MapData.XML");

    auto description = client->Get(PathOf(confUrl).c_str());
    ASSERT_TRUE(description);
    EXPECT_EQ(description->status, 200);
    EXPECT_EQ(Entries(description->body).size(), 4u);
}

TEST_F(ServiceTest, CompletionCallsAnswerSuccessAndEchoTheirParameters) {
    Start();
    auto client = Http();
    auto [dlsStatus, dls] = Call(
        client, "DLS", test::RequestXml("download-completion-if", "dcif", "<model-group-cd>ABC</model-group-cd>", ""));
    EXPECT_EQ(dlsStatus, 200);
    EXPECT_EQ(Field(dls, "result-cd"), "S00");
    EXPECT_EQ(Field(dls, "conf-file-url"), "<none>");

    auto [tscStatus, tsc] = Call(client, "TSC",
                                 test::RequestXml("transfer-completion-if", "tcif",
                                                  "<model-group-cd>A&B</model-group-cd>"
                                                  "<maptrs_failure_cd>E12</maptrs_failure_cd>",
                                                  ""));
    EXPECT_EQ(tscStatus, 200);
    EXPECT_EQ(Field(tsc, "result-cd"), "S00");
    // The client sends values unescaped; the reply must still be well-formed.
    EXPECT_NE(tsc.find("<model-group-cd>A&amp;B</model-group-cd><maptrs_failure_cd>E12<"), std::string::npos);
}

TEST_F(ServiceTest, WrongOrMissingDigestGetsAnAuthenticationError) {
    std::string wrongDigest = kValidWsse;
    wrongDigest.replace(wrongDigest.find("OBS4"), 4, "OBS5");
    Start();
    for (const std::string& wsse : {wrongDigest, std::string()}) {
        auto [status, reply] = DownloadStart(wsse);
        EXPECT_EQ(status, 200);
        EXPECT_EQ(Field(reply, "result-cd"), "E01");
        EXPECT_EQ(Field(reply, "result-detail-cd"), "E00");
        EXPECT_EQ(Field(reply, "conf-file-url"), "");
    }
}

TEST_F(ServiceTest, ADocumentForAnotherCallIsNotUnderstood) {
    Start();
    auto client = Http();
    auto [status, reply] = Call(client, "DLS", test::DownloadStartXml("ABC"));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(Field(reply, "result-cd"), "E00");
    EXPECT_EQ(Field(reply, "result-detail-cd"), "E00");
}

TEST_F(ServiceTest, DescriptionListsTheFolderWithTheLineTestLast) {
    config_.lineTestBytes = 5000;
    Start();
    auto client = Http();
    auto description = client.Get("/map-dl/MapData.XML");
    ASSERT_TRUE(description);
    ASSERT_EQ(description->status, 200);
    EXPECT_NE(description->body.find("<Map>"), std::string::npos);
    // 1,044,484 bytes: just over one unit of 1,044,480.
    EXPECT_EQ(ElementText(description->body, "MapSize"), "2");

    auto entries = Entries(description->body);
    ASSERT_EQ(entries.size(), 4u);
    std::string base = "http://127.0.0.1:" + std::to_string(service_->HttpPort()) + "/map-dl/";
    EXPECT_EQ(entries[0].url, base + "data/CONF/CONF1001.DAT");
    EXPECT_EQ(entries[0].hashCode, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(entries[1].url, base + "data/DISKID.DAT");
    EXPECT_EQ(entries[1].hashCode, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(entries[2].url, base + "data/FLASH/RENEWAL/MAP01.ZIP");
    EXPECT_EQ(entries[3].element, "TestMapData");
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(entries[i].element, "MapData");

    // Every entry can be fetched and its bytes match the listed MD5.
    for (const auto& entry : entries) {
        auto file = client.Get(PathOf(entry.url).c_str());
        ASSERT_TRUE(file) << entry.url;
        EXPECT_EQ(file->status, 200);
        EXPECT_EQ(Md5Hex(file->body), entry.hashCode) << entry.url;
    }
    EXPECT_EQ(client.Get(PathOf(entries[3].url).c_str())->body.size(), 5000u);
}

TEST_F(ServiceTest, OnlyFilesOfTheUpdateSetAreServed) {
    test::WriteFile(folder_.Path() / "secret.txt", "not for clients");
    Start();
    auto client = Http();
    EXPECT_EQ(client.Get("/map-dl/data/CONF/CONF1001.DAT")->body, "abc");
    EXPECT_EQ(client.Get("/map-dl/data/CONF/NONE.DAT")->status, 404);
    EXPECT_EQ(client.Get("/map-dl/data/CONF")->status, 404);
    EXPECT_EQ(client.Get("/map-dl/data/%2E%2E/secret.txt")->status, 404);
}

TEST_F(ServiceTest, StatusFaultAppliesToTheFirstCallsOnly) {
    config_.statusFaults["MDL"] = {{2}, 503};
    config_.statusFaults["File"] = {{}, 500};
    Start();
    EXPECT_EQ(DownloadStart().first, 503);
    EXPECT_EQ(DownloadStart().first, 503);
    EXPECT_EQ(DownloadStart().first, 200);
    auto client = Http();
    EXPECT_EQ(client.Get("/map-dl/data/DISKID.DAT")->status, 500);
    EXPECT_EQ(client.Get("/map-dl/data/DISKID.DAT")->status, 500);
    EXPECT_EQ(client.Get("/map-dl/MapData.XML")->status, 200);
}

TEST_F(ServiceTest, ResultFaultAnswersThePairWithoutAnOffer) {
    config_.resultFaults["MDL"] = {{1}, "E00", "E02"};
    Start();
    auto [status, reply] = DownloadStart();
    EXPECT_EQ(status, 200);
    EXPECT_EQ(Field(reply, "result-cd"), "E00");
    EXPECT_EQ(Field(reply, "result-detail-cd"), "E02");
    EXPECT_EQ(Field(reply, "conf-file-url"), "");
    EXPECT_EQ(Field(DownloadStart().second, "result-cd"), "S00");
}

TEST_F(ServiceTest, MalformedReplyBreaksOffBeforeAnyResult) {
    config_.malformedFaults["MDL"] = {};
    Start();
    auto [status, reply] = DownloadStart();
    EXPECT_EQ(status, 200);
    ASSERT_NE(reply.find("<out-param-section>"), std::string::npos);
    EXPECT_EQ(Field(reply, "result-status"), "<none>");
    EXPECT_EQ(Field(reply, "result-cd"), "<none>");
    EXPECT_EQ(reply.find("</download-start-if>"), std::string::npos);
}

TEST_F(ServiceTest, DroppedConnectionCutsTheFileThenRecovers) {
    test::WriteFile(config_.updateSet / "FLASH2" / "A.BIN", std::string(10'000, 'a'));
    config_.dropAfter = ByteFault{{1}, 3000, {}};
    Start();
    auto client = Http();
    std::string received;
    auto cut = client.Get("/map-dl/data/FLASH2/A.BIN", [&](const char* data, std::size_t length) {
        received.append(data, length);
        return true;
    });
    EXPECT_FALSE(cut);
    EXPECT_EQ(received.size(), 3000u);
    auto whole = client.Get("/map-dl/data/FLASH2/A.BIN");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->body.size(), 10'000u);
}

TEST_F(ServiceTest, TheDropFallsOnTheChosenByteOfTheChosenFileOnly) {
    test::WriteFile(config_.updateSet / "FLASH2" / "A.BIN", std::string(10'000, 'a'));
    test::WriteFile(config_.updateSet / "FLASH2" / "B.BIN", std::string(10'000, 'b'));
    config_.dropAfter = ByteFault{{}, 6000, "FLASH2/B.BIN"};
    Start();
    auto client = Http();
    EXPECT_EQ(client.Get("/map-dl/data/FLASH2/A.BIN")->body.size(), 10'000u);
    std::string received;
    auto Receive = [&](const char* data, std::size_t length) {
        received.append(data, length);
        return true;
    };
    EXPECT_FALSE(client.Get("/map-dl/data/FLASH2/B.BIN", Receive));
    EXPECT_EQ(received.size(), 6000u);
    // The byte counts from the file's start: a part from 4,000 on is cut after 2,000 bytes,
    // and one that starts beyond the byte goes through.
    received.clear();
    EXPECT_FALSE(client.Get("/map-dl/data/FLASH2/B.BIN", {{"Range", "bytes=4000-"}}, Receive));
    EXPECT_EQ(received.size(), 2000u);
    auto rest = client.Get("/map-dl/data/FLASH2/B.BIN", {{"Range", "bytes=6001-"}});
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->status, 206);
    EXPECT_EQ(rest->body.size(), 3999u);
    EXPECT_EQ(service_->FileBytesSent(), 10'000u + 6000 + 2000 + 3999);
}

TEST_F(ServiceTest, ARangeIsAnsweredWithThePartWhileIfRangeNamesTheFile) {
    std::string content;
    for (int i = 0; i < 10'000; ++i) content += static_cast<char>(i % 251);
    test::WriteFile(config_.updateSet / "FLASH2" / "A.BIN", content);
    Start();
    auto client = Http();
    const char* path = "/map-dl/data/FLASH2/A.BIN";
    auto whole = client.Get(path);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
    std::string etag = whole->get_header_value("ETag");
    std::string lastModified = whole->get_header_value("Last-Modified");
    EXPECT_TRUE(std::regex_match(etag, std::regex("\"[0-9a-f]+-2710\"")));
    EXPECT_TRUE(std::regex_match(lastModified,
                                 std::regex("[A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} GMT")));

    for (const std::string& validator : {std::string(), etag, lastModified}) {
        httplib::Headers headers{{"Range", "bytes=9000-"}};
        if (!validator.empty()) headers.emplace("If-Range", validator);
        auto part = client.Get(path, headers);
        ASSERT_TRUE(part);
        EXPECT_EQ(part->status, 206) << validator;
        EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 9000-9999/10000");
        EXPECT_EQ(part->body, content.substr(9000));
    }
    auto closed = client.Get(path, {{"Range", "bytes=100-199"}});
    EXPECT_EQ(closed->get_header_value("Content-Range"), "bytes 100-199/10000");
    EXPECT_EQ(closed->body, content.substr(100, 100));
    auto last = client.Get(path, {{"Range", "bytes=-10"}});
    EXPECT_EQ(last->get_header_value("Content-Range"), "bytes 9990-9999/10000");

    // Another version named: the whole file.
    auto changed = client.Get(path, {{"Range", "bytes=9000-"}, {"If-Range", "\"0-2710\""}});
    EXPECT_EQ(changed->status, 200);
    EXPECT_EQ(changed->body, content);
    auto beyond = client.Get(path, {{"Range", "bytes=10000-"}});
    EXPECT_EQ(beyond->status, 416);
    EXPECT_EQ(beyond->get_header_value("Content-Range"), "bytes */10000");

    // A rewritten file is another version.
    test::WriteFile(config_.updateSet / "FLASH2" / "A.BIN", content);
    EXPECT_NE(client.Get(path)->get_header_value("ETag"), etag);
}

TEST_F(ServiceTest, WithoutRangesEveryFileGoesWhole) {
    test::WriteFile(config_.updateSet / "FLASH2" / "A.BIN", std::string(10'000, 'a'));
    config_.ranges = false;
    Start();
    auto client = Http();
    auto reply = client.Get("/map-dl/data/FLASH2/A.BIN", {{"Range", "bytes=9000-"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_FALSE(reply->has_header("Accept-Ranges"));
    EXPECT_EQ(reply->body.size(), 10'000u);
}

TEST_F(ServiceTest, SlowLineTakesAtLeastSizeOverRate) {
    test::WriteFile(config_.updateSet / "FLASH2" / "A.BIN", std::string(4000, 'a'));
    config_.bytesPerSecond = 8000;
    Start();
    auto client = Http();
    auto started = std::chrono::steady_clock::now();
    auto file = client.Get("/map-dl/data/FLASH2/A.BIN");
    auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(file);
    EXPECT_EQ(file->body.size(), 4000u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(450));
}

TEST_F(ServiceTest, CallLogHasOneLinePerCall) {
    Start();
    auto client = Http();
    Call(client, "MDL", test::DownloadStartXml("ABC"));
    Call(client, "TSC", test::DownloadStartXml("XYZ"), "UsernameToken nonsense");
    client.Get("/map-dl/data/DISKID.DAT");
    Http().Get("/map-dl/MapData.XML");
    service_->Stop();

    auto lines = test::ReadLines(config_.callLog);
    ASSERT_EQ(lines.size(), 4u);
    auto has = [](const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; };
    // A call is logged once its answer has gone out, so lines of quick calls may swap places.
    auto callLine = [&](const std::string& call) {
        for (const std::string& line : lines)
            if (has(line, "\"call\":\"" + call + "\"")) return line;
        return std::string();
    };
    lines = {callLine("MDL"), callLine("TSC"), callLine("File"), callLine("MapData")};
    EXPECT_TRUE(has(lines[0], R"("call":"MDL","verb":"POST","path":"/map-dl/MDL")"));
    EXPECT_TRUE(has(lines[0], R"(<in-param-section><model-group-cd>ABC</model-group-cd>)"));
    EXPECT_TRUE(has(lines[0], R"(\"dsif.dtd\")"));  // quotes of the decoded body escaped
    EXPECT_TRUE(has(lines[0], R"("wsse":"UsernameToken Username=\"NaviUser\")"));
    EXPECT_TRUE(has(lines[0], R"("wsse_verified":true,"status":200,"peer":"127.0.0.1:)"));
    EXPECT_TRUE(has(lines[1], R"("wsse":"UsernameToken nonsense","wsse_verified":false,"status":200)"));
    EXPECT_TRUE(has(lines[2], R"("call":"File","verb":"GET","path":"/map-dl/data/DISKID.DAT","body":"")"));
    EXPECT_TRUE(has(lines[3], R"("call":"MapData")"));
    EXPECT_TRUE(has(lines[3], R"("status":200,"peer":"127.0.0.1:)"));
}

TEST_F(ServiceTest, ATakenPortIsNotShared) {
    Start();
    ServiceConfig second = config_;
    second.httpPort = service_->HttpPort();
    second.httpsPort.reset();
    MapService other(second);
    EXPECT_THROW(other.Start(), std::runtime_error);
}

// The subject name of the certificate in a PEM file.
std::string SubjectOf(const std::filesystem::path& pem) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(pem.string().c_str(), "r"), &std::fclose);
    if (!file) return "";
    std::unique_ptr<X509, decltype(&X509_free)> certificate(PEM_read_X509(file.get(), nullptr, nullptr, nullptr),
                                                            &X509_free);
    if (!certificate) return "";
    char name[256];
    return X509_NAME_oneline(X509_get_subject_name(certificate.get()), name, sizeof name);
}

TEST_F(ServiceTest, ClientTrustingAnotherAuthorityRefusesTheServer) {
    Start();
    TestCertificates other = MakeTestCertificates(folder_.Path() / "other");
    auto stranger = Https(other.caFile.string());
    auto refused = stranger->Get("/map-dl/MapData.XML");
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error(), httplib::Error::SSLServerVerification);

    auto trusting = Https(caFile_);
    EXPECT_TRUE(trusting->Get("/map-dl/MapData.XML"));

    // Each authority is named apart, so a chain builder that looks issuers up by name cannot
    // take one for the other.
    EXPECT_NE(SubjectOf(other.caFile), SubjectOf(caFile_));
}

}  // namespace
}  // namespace mapservice
