// The map-update web service on loopback: the three XML calls, the download description,
// the line-test data and the update-set files, over HTTP and HTTPS, with injected faults.
#pragma once

#include "CallLog.h"
#include "Config.h"
#include "UpdateSet.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace mapservice {

struct CallDocument;

// What both listeners set on their socket (inherited by the connections they accept): the
// address may be reused, the port not shared, and replies go out without Nagle's delay.
void PrepareListeningSocket(int socket);

class MapService {
public:
    explicit MapService(ServiceConfig config);
    ~MapService();
    MapService(const MapService&) = delete;
    MapService& operator=(const MapService&) = delete;

    // Binds the configured listeners and serves on background threads. Throws
    // std::runtime_error when a port cannot be bound or the certificate cannot be loaded.
    void Start();
    // Stops serving and waits for the listeners; also done by the destructor.
    void Stop();

    int HttpPort() const { return http_.port; }    // -1 when not serving HTTP
    int HttpsPort() const { return https_.port; }  // -1 when not serving HTTPS
    const ServiceConfig& Config() const { return config_; }
    // Bytes of update-set files handed to the connections so far (ranges count what they carry).
    std::uint64_t FileBytesSent() const { return fileBytesSent_; }

private:
    struct Listener {
        std::string scheme;
        std::unique_ptr<httplib::Server> server;
        int port = -1;
        std::thread thread;
    };
    using Reader = std::function<void(std::size_t offset, char* buffer, std::size_t length)>;

    void Serve(Listener& listener, int port);
    void Install(httplib::Server& server, const std::string& scheme);
    void AnswerCall(const CallDocument& document, const httplib::Request& request, httplib::Response& response,
                    const std::string& scheme);
    void SendDescription(const httplib::Request& request, httplib::Response& response, const std::string& scheme);
    void SendFile(const httplib::Request& request, httplib::Response& response);
    bool InjectStatus(const std::string& call, httplib::Response& response);
    void SendBody(httplib::Response& response, const char* contentType, std::size_t size, std::size_t limit,
                  Reader read);
    bool Applies(const std::string& key, const Fault& fault);
    bool PauseUnlessStopping();
    std::string BaseUrl(const httplib::Request& request, const std::string& scheme) const;
    std::string PlainBaseUrl() const;
    std::shared_ptr<const std::string> Description(const std::string& baseUrl);

    ServiceConfig config_;
    std::string lineTest_;
    std::string lineTestMd5_;
    CallLog log_;

    // The description as last sent, made again only when the files or the address differ.
    UpdateSetScanner scanner_;
    std::mutex descriptionMutex_;
    std::vector<UpdateFile> describedFiles_;
    std::string describedBase_;
    std::shared_ptr<const std::string> description_;

    std::atomic<std::uint64_t> fileBytesSent_{0};

    std::mutex faultMutex_;
    std::map<std::string, int> faultUses_;

    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;

    Listener http_{"http", nullptr, -1, {}};
    Listener https_{"https", nullptr, -1, {}};
};

}  // namespace mapservice
