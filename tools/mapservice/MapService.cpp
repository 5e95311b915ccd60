// The service's HTTP and HTTPS listeners and their handlers: the three calls, the download
// description, the line test and the update files, each with its faults and its call-log line.
#include "MapService.h"

#include "ByteRanges.h"
#include "Certificates.h"
#include "Digest.h"
#include "PercentCoding.h"
#include "ServiceXml.h"
#include "UpdateSet.h"
#include "Wsse.h"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace mapservice {
namespace {

constexpr auto kPacingStep = std::chrono::milliseconds(50);
constexpr std::size_t kFullSpeedChunk = 64 * 1024;

std::string RegexLiteral(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

// The call name a path belongs to, as the fault options and the call log name it.
std::string CallName(const std::string& path) {
    for (const char* call : {"MDL", "DLS", "TSC"})
        if (path == std::string("/map-dl/") + call) return call;
    if (path == kDescriptionPath) return "MapData";
    if (path == kLineTestPath) return "LineTest";
    if (path.starts_with(kFilesPath)) return "File";
    return "";
}

Values Result(const std::string& resultCd, const std::string& detailCd, const std::string& msg) {
    return {{"result-status", resultCd == "S00" ? "0" : "1"},
            {"result-cd", resultCd},
            {"result-detail-cd", detailCd},
            {"result-msg", msg}};
}

bool HasParentStep(const std::string& relativePath) {
    return relativePath == ".." || relativePath.starts_with("../") || relativePath.find("/../") != std::string::npos ||
           relativePath.ends_with("/..");
}

}  // namespace

void PrepareListeningSocket(int socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

MapService::MapService(ServiceConfig config)
    : config_(std::move(config)),
      lineTest_(LineTestData(config_.lineTestBytes)),
      lineTestMd5_(Md5Hex(lineTest_)),
      log_(config_.callLog) {}

MapService::~MapService() { Stop(); }

void MapService::Start() {
    if (config_.httpPort) {
        http_.server = std::make_unique<httplib::Server>();
        Serve(http_, *config_.httpPort);
    }
    if (config_.httpsPort) {
        if (!config_.makeCertsDir.empty()) {
            TestCertificates certificates = MakeTestCertificates(config_.makeCertsDir);
            config_.certFile = certificates.certFile;
            config_.keyFile = certificates.keyFile;
        }
        auto server = std::make_unique<httplib::SSLServer>(config_.certFile.c_str(), config_.keyFile.c_str());
        if (!server->is_valid())
            throw std::runtime_error("cannot load certificate " + config_.certFile.string() + " with key " +
                                     config_.keyFile.string());
        https_.server = std::move(server);
        Serve(https_, *config_.httpsPort);
    }
}

void MapService::Serve(Listener& listener, int port) {
    httplib::Server& server = *listener.server;
    Install(server, listener.scheme);
    listener.port = port == 0 ? server.bind_to_any_port(config_.bindHost)
                              : (server.bind_to_port(config_.bindHost, port) ? port : -1);
    if (listener.port < 0)
        throw std::runtime_error("cannot bind " + listener.scheme + " to " + config_.bindHost + ":" +
                                 std::to_string(port));
    listener.thread = std::thread([&server] { server.listen_after_bind(); });
    // stop() is ignored until the accept loop runs, so Start returns only once it does.
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void MapService::Stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    for (Listener* listener : {&http_, &https_}) {
        if (!listener->server) continue;
        listener->server->stop();
        if (listener->thread.joinable()) listener->thread.join();
        listener->server.reset();
        listener->port = -1;
    }
}

void MapService::Install(httplib::Server& server, const std::string& scheme) {
    // A client that keeps a connection open must not hold up Stop for long.
    server.set_keep_alive_timeout(1);
    // As many requests on one connection as a common web server allows (the library's 5 would
    // make a client of many small files reconnect all the time).
    server.set_keep_alive_max_count(100);
    // The library's default adds SO_REUSEPORT, which lets a second service share a taken port.
    server.set_socket_options([](socket_t sock) { PrepareListeningSocket(sock); });

    // Logged as the reply is about to go out, not after it: a client's next call cannot come
    // before its reply, so the log keeps the order of the calls.
    server.set_post_routing_handler([this, scheme](const httplib::Request& request, httplib::Response& response) {
        std::string wsse = request.get_header_value("X-WSSE");
        log_.Write({scheme, CallName(request.path), request.method, request.path,
                    request.method == "POST" ? PercentDecode(request.body) : std::string(), wsse,
                    !wsse.empty() && VerifyWsse(wsse, config_.wsseUser, config_.wssePassword), response.status,
                    request.remote_addr + ":" + std::to_string(request.remote_port),
                    request.has_header("Proxy-Authorization")});
    });

    server.Post("/map-dl/(MDL|DLS|TSC)", [this, scheme](const httplib::Request& request, httplib::Response& response) {
        AnswerCall(*FindCall(request.matches[1].str()), request, response, scheme);
    });
    server.Get(RegexLiteral(kDescriptionPath),
               [this, scheme](const httplib::Request& request, httplib::Response& response) {
                   SendDescription(request, response, scheme);
               });
    server.Get(RegexLiteral(kLineTestPath), [this](const httplib::Request&, httplib::Response& response) {
        if (InjectStatus("LineTest", response)) return;
        SendBody(
            response, "application/octet-stream", lineTest_.size(), lineTest_.size(),
            [this](std::size_t offset, char* buffer, std::size_t length) { lineTest_.copy(buffer, length, offset); });
    });
    server.Get(RegexLiteral(kFilesPath) + "(.+)",
               [this](const httplib::Request& request, httplib::Response& response) { SendFile(request, response); });
}

void MapService::AnswerCall(const CallDocument& document, const httplib::Request& request, httplib::Response& response,
                            const std::string& scheme) {
    if (InjectStatus(document.call, response)) return;

    std::string xml = PercentDecode(request.body);
    Values in;
    for (const auto& name : document.inParams) in[name] = ElementText(xml, name).value_or("");

    Values out;
    auto resultFault = config_.resultFaults.find(document.call);
    if (!VerifyWsse(request.get_header_value("X-WSSE"), config_.wsseUser, config_.wssePassword)) {
        out = Result("E01", "E00", "authentication failed");
    } else if (!IsRequestFor(document, xml) || !ElementText(xml, "model-group-cd")) {
        out = Result("E00", "E00", "request not understood");
    } else if (resultFault != config_.resultFaults.end() && Applies("result:" + document.call, resultFault->second)) {
        out = Result(resultFault->second.resultCd, resultFault->second.resultDetailCd, "injected result");
    } else {
        out = Result("S00", "", "");
    }
    if (document.call == "MDL" && out["result-cd"] == "S00") {
        out["unified-map-ver-gen"] = config_.offer.verGen;
        out["unified-map-ver-major"] = config_.offer.verMajor;
        out["unified-map-ver-minor"] = config_.offer.verMinor;
        out["product-name"] = config_.offer.productName;
        out["conf-file-url"] =
            (config_.plainDescription ? PlainBaseUrl() : BaseUrl(request, scheme)) + std::string(kDescriptionPath);
    }

    std::string reply = MakeReply(document, in, out);
    auto malformed = config_.malformedFaults.find(document.call);
    if (malformed != config_.malformedFaults.end() && Applies("malformed:" + document.call, malformed->second))
        reply = Malformed(reply);
    response.set_content(PercentEncode(reply), "text/plain; charset=utf-8");
}

void MapService::SendDescription(const httplib::Request& request, httplib::Response& response,
                                 const std::string& scheme) {
    if (InjectStatus("MapData", response)) return;
    if (config_.updateSet.empty()) {
        response.status = 404;
        response.set_content("no update set configured\n", "text/plain");
        return;
    }
    std::shared_ptr<const std::string> description = Description(BaseUrl(request, scheme));
    SendBody(response, "application/xml", description->size(), description->size(),
             [description](std::size_t offset, char* buffer, std::size_t length) {
                 description->copy(buffer, length, offset);
             });
}

void MapService::SendFile(const httplib::Request& request, httplib::Response& response) {
    if (InjectStatus("File", response)) return;
    std::string relativePath = request.matches[1].str();
    std::filesystem::path file = config_.updateSet / relativePath;
    std::error_code error;
    if (config_.updateSet.empty() || HasParentStep(relativePath) || !std::filesystem::is_regular_file(file, error)) {
        response.status = 404;
        response.set_content("no such file\n", "text/plain");
        return;
    }
    // The library would cut the body by the Range header once more after this handler; the
    // service answers ranges itself (If-Range, 416), so it takes them from the library.
    const_cast<httplib::Request&>(request).ranges.clear();
    auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
    std::size_t size = std::filesystem::file_size(file);
    FileVersion version = VersionOf(file);
    response.set_header("ETag", version.etag);
    response.set_header("Last-Modified", version.lastModified);
    RangeAnswer part;
    if (config_.ranges) {
        response.set_header("Accept-Ranges", "bytes");
        part = AnswerRange(request.get_header_value("Range"), request.get_header_value("If-Range"), size, version);
    }
    if (part.kind == RangeAnswer::Unsatisfiable) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    std::size_t first = part.kind == RangeAnswer::Part ? part.first : 0;
    std::size_t count = part.kind == RangeAnswer::Part ? part.count : size;
    if (part.kind == RangeAnswer::Part) {
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(first + count - 1) + "/" + std::to_string(size));
    }
    // The drop falls on a byte of the file: a part that starts beyond it goes through.
    std::size_t limit = count;
    const std::optional<ByteFault>& drop = config_.dropAfter;
    if (drop && (drop->file.empty() || drop->file == relativePath) && drop->bytes >= first &&
        drop->bytes < first + count && Applies("drop", *drop))
        limit = drop->bytes - first;
    SendBody(response, "application/octet-stream", count, limit,
             [this, in, first](std::size_t offset, char* buffer, std::size_t length) {
                 in->seekg(static_cast<std::streamoff>(first + offset));
                 in->read(buffer, static_cast<std::streamsize>(length));
                 fileBytesSent_ += length;
             });
}

bool MapService::InjectStatus(const std::string& call, httplib::Response& response) {
    auto fault = config_.statusFaults.find(call);
    if (fault == config_.statusFaults.end() || !Applies("status:" + call, fault->second)) return false;
    response.status = fault->second.status;
    response.set_content("injected status\n", "text/plain");
    return true;
}

// Sends `size` bytes in paced pieces; after `limit` of them the connection is dropped.
void MapService::SendBody(httplib::Response& response, const char* contentType, std::size_t size, std::size_t limit,
                          Reader read) {
    std::size_t chunk =
        config_.bytesPerSecond ? std::max<std::size_t>(1, config_.bytesPerSecond / 20) : kFullSpeedChunk;
    response.set_content_provider(
        size, contentType, [this, chunk, limit, read](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset >= limit) return false;
            std::size_t count = std::min({chunk, length, limit - offset});
            std::string buffer(count, '\0');
            read(offset, buffer.data(), count);
            if (config_.bytesPerSecond && !PauseUnlessStopping()) return false;
            return sink.write(buffer.data(), count);
        });
}

bool MapService::Applies(const std::string& key, const Fault& fault) {
    std::lock_guard lock(faultMutex_);
    int uses = ++faultUses_[key];
    return !fault.times || uses <= *fault.times;
}

bool MapService::PauseUnlessStopping() {
    std::unique_lock lock(stopMutex_);
    return !stopSignal_.wait_for(lock, kPacingStep, [this] { return stopping_; });
}

// The folder is scanned on every request, so a test may change it while the service runs;
// digests and text are reused while nothing changed.
std::shared_ptr<const std::string> MapService::Description(const std::string& baseUrl) {
    std::vector<UpdateFile> files = scanner_.Scan(config_.updateSet);
    std::lock_guard lock(descriptionMutex_);
    if (!description_ || files != describedFiles_ || baseUrl != describedBase_) {
        description_ = std::make_shared<const std::string>(
            MakeDescription(files, baseUrl, lineTestMd5_, config_.mapSize.value_or(MapSize(files))));
        describedFiles_ = std::move(files);
        describedBase_ = baseUrl;
    }
    return description_;
}

std::string MapService::PlainBaseUrl() const {
    bool v6 = config_.bindHost.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + config_.bindHost + "]" : config_.bindHost) + ":" + std::to_string(http_.port);
}

std::string MapService::BaseUrl(const httplib::Request& request, const std::string& scheme) const {
    if (!config_.contentUrl.empty()) return config_.contentUrl;
    std::string host = request.get_header_value("Host");
    if (host.empty()) {
        bool v6 = request.local_addr.find(':') != std::string::npos;
        host = (v6 ? "[" + request.local_addr + "]" : request.local_addr) + ":" + std::to_string(request.local_port);
    }
    return scheme + "://" + host;
}

}  // namespace mapservice
