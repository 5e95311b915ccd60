// What one mapservice instance serves and which faults it injects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mapservice {

// The map version the download-start call offers.
struct Offer {
    std::string verGen = "2026";
    std::string verMajor = "04";
    std::string verMinor = "1";
    std::string productName = "全国版地図 2026年4月";  // UTF-8, as it goes on the wire
};

// A fault that applies to the first `times` calls of one kind (all of them when unset).
struct Fault {
    std::optional<int> times;
};

struct StatusFault : Fault {
    int status = 0;
};

struct ResultFault : Fault {
    std::string resultCd;
    std::string resultDetailCd;
};

struct ByteFault : Fault {
    std::size_t bytes = 0;
    std::string file;  // relative path, "/"-separated; empty = every map file
};

struct ServiceConfig {
    std::string bindHost = "127.0.0.1";
    std::optional<int> httpPort;  // 0 = pick a free port
    std::optional<int> httpsPort;
    std::filesystem::path certFile;
    std::filesystem::path keyFile;
    std::filesystem::path makeCertsDir;  // create a test CA and server certificate here
    std::filesystem::path updateSet;
    std::filesystem::path callLog;
    std::filesystem::path portFile;
    std::string contentUrl;  // base of conf-file-url and file urls; empty = as the client addressed us
    // conf-file-url names the plain HTTP listener, whatever the call came over.
    bool plainDescription = false;
    std::optional<std::uint64_t> mapSize;  // MapSize announced instead of the set's own

    std::string wsseUser = "NaviUser";
    std::string wssePassword = "KestrelWing";
    Offer offer;
    std::size_t lineTestBytes = 64 * 1024;

    // Keyed by call name: MDL, DLS, TSC, MapData, LineTest, File.
    std::map<std::string, StatusFault> statusFaults;
    std::map<std::string, ResultFault> resultFaults;  // MDL, DLS, TSC only
    std::map<std::string, Fault> malformedFaults;     // MDL, DLS, TSC only
    std::size_t bytesPerSecond = 0;                   // 0 = full speed
    std::optional<ByteFault> dropAfter;               // map files only, counted from the file's start
    bool ranges = true;                               // false: Range is ignored, files go whole
};

// Parses the command line (without argv[0]). Throws std::invalid_argument with a message
// naming the offending option. Returns nullopt when --help was asked for.
std::optional<ServiceConfig> ParseCommandLine(const std::vector<std::string>& args);

const char* UsageText();

}  // namespace mapservice
