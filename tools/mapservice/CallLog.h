// The record of every call the service received, one JSON object a line, for tests to read.
#pragma once

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

namespace mapservice {

struct CallRecord {
    std::string scheme;  // http or https
    std::string call;    // MDL, DLS, TSC, MapData, LineTest, File, or empty for other paths
    std::string verb;
    std::string path;
    std::string body;  // percent-decoded
    std::string wsse;  // the X-WSSE header as received
    bool wsseVerified = false;
    int status = 0;
    std::string peer;                 // the client's address and port: one per connection the service accepted
    bool proxyAuthorization = false;  // the request carried a Proxy-Authorization line
};

class CallLog {
public:
    // An empty path keeps no log.
    explicit CallLog(const std::filesystem::path& file);

    // Appends and flushes one line; safe from any server thread.
    void Write(const CallRecord& record);

private:
    std::mutex mutex_;
    std::ofstream out_;
};

}  // namespace mapservice
