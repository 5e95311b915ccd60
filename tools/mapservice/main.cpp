// mapservice: runs the stand-in web service until SIGTERM or SIGINT.
#include "Config.h"
#include "MapService.h"

#include <signal.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace {

// Written under a temporary name and renamed, so a reader never sees half a file.
void WritePortFile(const std::filesystem::path& file, const mapservice::MapService& service) {
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary);
        if (service.HttpPort() >= 0) out << "http=" << service.HttpPort() << "\n";
        if (service.HttpsPort() >= 0) out << "https=" << service.HttpsPort() << "\n";
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, file);
}

std::string Url(const std::string& scheme, const std::string& host, int port) {
    std::string authority = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return scheme + "://" + authority + ":" + std::to_string(port) + "/map-dl";
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<mapservice::ServiceConfig> config;
    try {
        config = mapservice::ParseCommandLine({argv + 1, argv + argc});
    } catch (const std::invalid_argument& error) {
        std::cerr << "mapservice: " << error.what() << "\n(see mapservice --help)\n";
        return 2;
    }
    if (!config) {
        std::cout << mapservice::UsageText();
        return 0;
    }

    // Blocked before any server thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        mapservice::MapService service(*config);
        service.Start();
        const std::string& host = service.Config().bindHost;
        if (service.HttpPort() >= 0) std::cout << "mapservice: " << Url("http", host, service.HttpPort()) << "\n";
        if (service.HttpsPort() >= 0) std::cout << "mapservice: " << Url("https", host, service.HttpsPort()) << "\n";
        std::cout.flush();
        if (!config->portFile.empty()) WritePortFile(config->portFile, service);

        int received = 0;
        sigwait(&stopSignals, &received);
        std::cout << "mapservice: stopping on signal " << received << std::endl;
        service.Stop();
    } catch (const std::exception& error) {
        std::cerr << "mapservice: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
