// The real executable: started with free ports, spoken to over HTTPS, stopped by SIGTERM.
#include "PercentCoding.h"
#include "ServiceXml.h"
#include "TestSupport.h"
#include "support/BuildFolders.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <thread>

extern char** environ;

namespace mapservice {
namespace {

std::map<std::string, int> ReadPorts(const std::filesystem::path& file) {
    std::map<std::string, int> ports;
    for (const auto& line : test::ReadLines(file)) {
        auto equals = line.find('=');
        ports[line.substr(0, equals)] = std::stoi(line.substr(equals + 1));
    }
    return ports;
}

TEST(MapServiceProcess, ServesOnFreePortsAndStopsOnSigterm) {
    test::TempFolder folder;
    auto at = [&](const char* name) { return (folder.Path() / name).string(); };
    test::WriteFile(folder.Path() / "set" / "CONF" / "CONF1001.DAT", "abc");

    const std::string exe = BinFolder() + "/mapservice";
    std::vector<std::string> args = {exe,
                                     "--http-port",
                                     "0",
                                     "--https-port",
                                     "0",
                                     "--make-certs",
                                     at("tls"),
                                     "--update-set",
                                     at("set"),
                                     "--log",
                                     at("calls.jsonl"),
                                     "--port-file",
                                     at("ports")};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ), 0);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(at("ports")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto ports = ReadPorts(at("ports"));
    ASSERT_EQ(ports.size(), 2u) << "no port file";

    httplib::SSLClient client("localhost", ports["https"]);
    client.set_ca_cert_path(at("tls/ca.pem").c_str());
    client.enable_server_certificate_verification(true);
    auto reply = client.Post("/map-dl/MDL", {{"X-WSSE", test::kValidWsse}},
                             PercentEncode(test::DownloadStartXml("ABC")), "application/x-www-form-urlencoded");
    ASSERT_TRUE(reply);
    std::string xml = PercentDecode(reply->body);
    EXPECT_EQ(ElementText(xml, "result-cd"), "S00");
    EXPECT_EQ(ElementText(xml, "conf-file-url"),
              "https://localhost:" + std::to_string(ports["https"]) + "/map-dl/MapData.XML");
    EXPECT_EQ(httplib::Client("127.0.0.1", ports["http"]).Get("/map-dl/data/CONF/CONF1001.DAT")->body, "abc");

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::ReadLines(at("calls.jsonl")).size(), 2u);
}

}  // namespace
}  // namespace mapservice
