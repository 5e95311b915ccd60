// The internet session on libcurl: TLS sessions and name lookups shared by its requests, the
// proxy from the environment with the user's credentials, and waits bounded by the stall limit.
#include "platform/Internet.h"
#include "platform/posix/ConnectionReuse.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace {

std::atomic<bool> reuseConnections{true};

// Once per process; false when curl could not set itself up (then no session is made).
bool CurlReady() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

std::string UrlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return "";
    std::string value = text;
    curl_free(text);
    return value;
}

std::string ToUrl(const UrlParts& parts, bool secure) {
    return std::string(secure ? "https" : "http") + "://" + parts.host + ":" + std::to_string(parts.port) + parts.path;
}

// The caller's lines, and none of the lines curl would add on its own: the request carries
// what the program sends (no Accept, no form Content-Type for a POST body), and the body goes
// at once, without an "Expect: 100-continue" round trip. Null without memory for a line.
HeaderList HeaderLines(const std::string& lines) {
    HeaderList list;
    auto append = [&list](const std::string& line) {
        curl_slist* longer = curl_slist_append(list.get(), line.c_str());
        if (longer == nullptr) return false;
        (void)list.release();  // the longer list holds the old one
        list.reset(longer);
        return true;
    };
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = lines.find("\r\n", start);
        if (end == std::string::npos) end = lines.size();
        if (end > start && !append(lines.substr(start, end - start))) return nullptr;
        start = end + 2;
    }
    for (const char* removed : {"Expect:", "Accept:", "Content-Type:"})
        if (!append(removed)) return nullptr;
    return list;
}

struct BodySink {
    std::string* body;
    size_t limit;
};

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    BodySink* sink = static_cast<BodySink*>(user);
    size_t bytes = size * count;
    if (sink->body->size() + bytes > sink->limit) return 0;  // aborts with CURLE_WRITE_ERROR
    sink->body->append(data, bytes);
    return bytes;
}

}  // namespace

std::optional<UrlParts> CrackUrl(const std::string& url) {
    if (!CurlReady()) return std::nullopt;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
    UrlParts parts;
    parts.scheme = UrlPart(parsed.get(), CURLUPART_SCHEME);
    if (parts.scheme != "http" && parts.scheme != "https") return std::nullopt;
    parts.host = UrlPart(parsed.get(), CURLUPART_HOST);
    char* port = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) != CURLUE_OK) return std::nullopt;
    parts.port = std::atoi(port);
    curl_free(port);
    parts.path = UrlPart(parsed.get(), CURLUPART_PATH);
    std::string query = UrlPart(parsed.get(), CURLUPART_QUERY);
    if (!query.empty()) parts.path += "?" + query;
    if (parts.host.empty() || parts.path.empty()) return std::nullopt;
    return parts;
}

bool IsSecureUrl(const UrlParts& url) { return url.scheme == "https" || url.port == 443; }

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Environment(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return value;
    return "";
}

// True when the no_proxy list names `host`: the host itself, or a domain it lies in.
bool Bypassed(const std::string& host, const std::string& list) {
    std::string name = Lower(host);
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = std::min(list.find(',', start), list.size());
        std::string entry = Lower(list.substr(start, end - start));
        start = end + 1;
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (entry == "*") return true;
        if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
        if (entry.empty()) continue;
        if (name == entry) return true;
        if (name.size() > entry.size() && name.ends_with(entry) && name[name.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace

std::string ProxyFromEnvironment(const UrlParts& url, bool secure) {
    if (Bypassed(url.host, Environment({"no_proxy", "NO_PROXY"}))) return "";
    // The upper-case HTTP_PROXY is not read: a web server's CGI environment can set it.
    std::string proxy = secure ? Environment({"https_proxy", "HTTPS_PROXY"}) : Environment({"http_proxy"});
    return proxy.empty() ? Environment({"all_proxy", "ALL_PROXY"}) : proxy;
}

// What the requests of one session share: TLS sessions and name lookups (curl's share, with
// its locks), the multi handles that keep idle connections for reuse, and the credentials.
struct InternetSession::Shared {
    Shared() : share(CurlReady() ? curl_share_init() : nullptr) {
        if (share == nullptr) return;
        // A share without its locks would be raced by two transfers: no session rather than that.
        const bool set = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, Lock) == CURLSHE_OK &&
                         curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, Unlock) == CURLSHE_OK &&
                         curl_share_setopt(share, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
                         curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK &&
                         curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK;
        if (set) return;
        curl_share_cleanup(share);
        share = nullptr;
    }
    ~Shared() {
        for (CURLM* multi : idle) curl_multi_cleanup(multi);
        if (share != nullptr) curl_share_cleanup(share);
    }

    // A multi handle with the connections a finished transfer left open, or a new one. Each
    // is used by one transfer at a time: curl does not share one connection cache between
    // threads safely.
    CURLM* TakeMulti() {
        if (reuseConnections.load()) {
            std::lock_guard guard(poolLock);
            if (!idle.empty()) {
                CURLM* multi = idle.back();
                idle.pop_back();
                return multi;
            }
        }
        return curl_multi_init();
    }
    void GiveBack(CURLM* multi) {
        std::lock_guard guard(poolLock);
        // Two transfers at once is the most the program makes (an offer and a download).
        if (idle.size() < 4 && reuseConnections.load()) {
            idle.push_back(multi);
            return;
        }
        curl_multi_cleanup(multi);
    }

    // The receive buffer a closed file leaves, for the next one: grown to a file's bursts once
    // per session, not again for every file (fresh pages cost a page fault every 4 KiB).
    std::string TakeReceiveBuffer() {
        std::lock_guard guard(poolLock);
        return std::exchange(spareReceiveBuffer, {});
    }
    void GiveBackReceiveBuffer(std::string buffer) {
        buffer.clear();
        std::lock_guard guard(poolLock);
        if (buffer.capacity() > spareReceiveBuffer.capacity()) spareReceiveBuffer = std::move(buffer);
    }

    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<Shared*>(user)->locks[data % CURL_LOCK_DATA_LAST].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<Shared*>(user)->locks[data % CURL_LOCK_DATA_LAST].unlock();
    }

    CURLSH* share;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    std::mutex poolLock;
    std::vector<CURLM*> idle;
    std::string spareReceiveBuffer;
    mutable std::mutex credentialsLock;
    std::optional<ProxyCredentials> credentials;
    std::atomic<uint32_t> stallMilliseconds{kDefaultStallMilliseconds};
    std::atomic<uint64_t> abandoned{0};  // counts AbandonTransfers
};

namespace {

// One transfer driven in short slices, so that a stop request or a stall ends it within one
// slice whatever the peer does.
class Transfer {
public:
    enum class State { Running, Done, Failed };

    Transfer(std::shared_ptr<InternetSession::Shared> shared, StopCheck stop)
        : shared_(std::move(shared)),
          multi_(shared_->TakeMulti()),
          easy_(curl_easy_init()),
          stop_(std::move(stop)),
          abandoned_(shared_->abandoned.load()) {}
    ~Transfer() {
        if (multi_ == nullptr) return;
        if (started_) curl_multi_remove_handle(multi_, easy_.get());
        shared_->GiveBack(multi_);
    }

    bool Valid() const { return shared_->share != nullptr && multi_ != nullptr && easy_ != nullptr; }
    CURL* Handle() const { return easy_.get(); }

    // Every option of the transfer goes through here. The first one curl refuses is kept and
    // the transfer then never starts: a refused option would weaken the request unseen (a
    // host name left unverified, a header line not sent, the environment's proxy read by
    // curl's rules instead of ours).
    template <typename Value>
    void Set(CURLoption option, Value value) {
        const CURLcode result = curl_easy_setopt(easy_.get(), option, value);
        if (result != CURLE_OK && setupError_.empty())
            setupError_ = "option " + std::to_string(option) + " refused: " + curl_easy_strerror(result);
    }

    // The options every request of the session has: the URL, its proxy with the credentials
    // the user gave, the trust anchors and the header lines. Redirects are followed here
    // only when `follow` says so; a secure request never follows one to plain HTTP.
    void Configure(const UrlParts& url, bool secure, const TrustAnchors& trust, std::string headerLines,
                   bool follow = true) {
        std::string address = ToUrl(url, secure);
        Set(CURLOPT_URL, address.c_str());
        if (reuseConnections.load()) Set(CURLOPT_SHARE, shared_->share);
        Set(CURLOPT_PROTOCOLS_STR, "http,https");
        Set(CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        Set(CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
        Set(CURLOPT_NOSIGNAL, 1L);
        ApplyTrust(trust);
        // The session's own rule decides the proxy; "" keeps curl from reading the
        // environment again by its own rules.
        std::string proxy = ProxyFromEnvironment(url, secure);
        Set(CURLOPT_PROXY, proxy.c_str());
        std::optional<ProxyCredentials> credentials;
        {
            std::lock_guard guard(shared_->credentialsLock);
            credentials = shared_->credentials;
        }
        // Proxy credentials are often the user's network password: they go to the proxy and
        // nowhere else, never as a header line a server or a redirect target would see.
        proxied_ = !proxy.empty();
        if (credentials && proxied_) {
            Set(CURLOPT_PROXYUSERNAME, credentials->user.c_str());
            Set(CURLOPT_PROXYPASSWORD, credentials->password.c_str());
            Set(CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
        }
        headers_ = HeaderLines(headerLines);
        if (!headers_ && setupError_.empty()) setupError_ = "no memory for the header lines";
        Set(CURLOPT_HTTPHEADER, headers_.get());
    }

    void Start() {
        if (!setupError_.empty()) {
            Fail(setupError_);
            return;
        }
        started_ = curl_multi_add_handle(multi_, easy_.get()) == CURLM_OK;
        if (!started_) Fail("cannot start the transfer");
        Waiting();
    }

    // A wait for data begins: the stall is measured from here.
    void Waiting() { lastProgress_ = std::chrono::steady_clock::now(); }

    // One slice of transfer work.
    State Pump() {
        if (state_ != State::Running) return state_;
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) return Fail("transfer failed");
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            if (message->data.result != CURLE_OK) return Fail(curl_easy_strerror(message->data.result));
            return state_ = State::Done;
        }
        if ((stop_ && stop_()) || shared_->abandoned.load() != abandoned_) return Fail("stopped");
        curl_off_t moved = Moved();
        auto now = std::chrono::steady_clock::now();
        if (moved != lastMoved_) {
            lastMoved_ = moved;
            lastProgress_ = now;
        } else if (now - lastProgress_ >= std::chrono::milliseconds(shared_->stallMilliseconds.load())) {
            return Fail("no data for " + std::to_string(shared_->stallMilliseconds.load()) + " ms");
        }
        curl_multi_poll(multi_, nullptr, 0, kSliceMilliseconds, nullptr);
        return State::Running;
    }

    State Finish() {
        while (Pump() == State::Running) {
        }
        return state_;
    }

    const std::string& Error() const { return error_; }
    // A 407 without a proxy of ours came from a server that only claims to be one.
    bool ForeignProxyChallenge() const { return !proxied_ && Status() == 407; }
    long Status() const {
        long status = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
        // A proxy that refuses the tunnel answers the CONNECT, not the request.
        long connectStatus = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_HTTP_CONNECTCODE, &connectStatus);
        return connectStatus == 407 && status == 0 ? 407 : status;
    }

private:
    static constexpr int kSliceMilliseconds = 100;

    // Peer and host are always verified, against the system store plus the bundle beside the
    // program. A CA blob replaces curl's default file, so the system store comes in as a path.
    void ApplyTrust(const TrustAnchors& trust) {
        Set(CURLOPT_SSL_VERIFYPEER, 1L);
        Set(CURLOPT_SSL_VERIFYHOST, 2L);
        Set(CURLOPT_CAPATH, "/etc/ssl/certs");
        if (trust.caBundle.empty()) return;
        std::ifstream in(trust.caBundle, std::ios::binary);
        if (!in) return;
        std::string pem((std::istreambuf_iterator<char>(in)), {});
        curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
        Set(CURLOPT_CAINFO_BLOB, &blob);
    }

    State Fail(std::string why) {
        error_ = std::move(why);
        return state_ = State::Failed;
    }
    // Every byte sent or received so far, headers included.
    curl_off_t Moved() const {
        curl_off_t down = 0, up = 0;
        long headers = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_DOWNLOAD_T, &down);
        curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_UPLOAD_T, &up);
        curl_easy_getinfo(easy_.get(), CURLINFO_HEADER_SIZE, &headers);
        return down + up + headers;
    }

    std::shared_ptr<InternetSession::Shared> shared_;
    CURLM* multi_;
    Easy easy_;
    HeaderList headers_;
    StopCheck stop_;
    uint64_t abandoned_;
    bool started_ = false;
    bool proxied_ = false;
    State state_ = State::Running;
    std::string error_;
    std::string setupError_;  // the first option curl refused
    curl_off_t lastMoved_ = -1;
    std::chrono::steady_clock::time_point lastProgress_;
};

// A GET whose body is pulled through the transfer as the caller reads.
class CurlInternetFile : public InternetFile {
public:
    CurlInternetFile(std::shared_ptr<InternetSession::Shared> shared, StopCheck stop)
        : shared_(shared), transfer_(std::move(shared), std::move(stop)), pending_(shared_->TakeReceiveBuffer()) {}
    ~CurlInternetFile() override { shared_->GiveBackReceiveBuffer(std::move(pending_)); }

    // The reply's status once the first body bytes or the end came; 0 when none came.
    int Open(const UrlParts& url, const TrustAnchors& trust, const std::optional<ByteRange>& range) {
        if (!transfer_.Valid()) return 0;
        // The Range header rather than CURLOPT_RESUME_FROM_LARGE: curl fails a resumed transfer
        // answered with 200, which is how If-Range says the file changed.
        std::string rangeText = range ? std::to_string(range->offset) + "-" : "";
        transfer_.Configure(url, IsSecureUrl(url), trust, range ? "If-Range: " + range->validator : "");
        if (range) transfer_.Set(CURLOPT_RANGE, rangeText.c_str());
        transfer_.Set(CURLOPT_WRITEFUNCTION, Receive);
        transfer_.Set(CURLOPT_WRITEDATA, this);
        transfer_.Start();
        Transfer::State state = Transfer::State::Running;
        while (pending_.empty() && (state = transfer_.Pump()) == Transfer::State::Running) {
        }
        long status = transfer_.Status();
        // A body cut off at once is still opened: Read hands out what came, then fails.
        if ((state == Transfer::State::Failed && pending_.empty() && status != 407) ||
            transfer_.ForeignProxyChallenge())
            return 0;
        return static_cast<int>(status);
    }

    long Read(void* buffer, size_t size) override {
        transfer_.Waiting();
        Transfer::State state = Transfer::State::Running;
        while (pending_.size() == taken_ && (state = transfer_.Pump()) == Transfer::State::Running) {
        }
        // What came before a failure is handed out first: a part kept on disk must hold every
        // byte that arrived.
        if (pending_.size() == taken_ && state == Transfer::State::Failed) return -1;
        size_t count = std::min(size, pending_.size() - taken_);
        std::memcpy(buffer, pending_.data() + taken_, count);
        taken_ += count;
        if (taken_ == pending_.size()) {
            pending_.clear();
            taken_ = 0;
        }
        return static_cast<long>(count);
    }

    long long ContentLength() const override {
        curl_off_t length = -1;
        curl_easy_getinfo(transfer_.Handle(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length;
    }

    std::string EffectiveUrl() const override {
        char* url = nullptr;
        curl_easy_getinfo(transfer_.Handle(), CURLINFO_EFFECTIVE_URL, &url);
        return url != nullptr ? url : "";
    }

    std::string Header(const char* name) const override {
        curl_header* header = nullptr;
        // -1: the last reply, after any redirect.
        if (curl_easy_header(transfer_.Handle(), name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return "";
        return header->value;
    }

private:
    static size_t Receive(char* data, size_t size, size_t count, void* user) {
        static_cast<CurlInternetFile*>(user)->pending_.append(data, size * count);
        return size * count;
    }

    std::shared_ptr<InternetSession::Shared> shared_;
    Transfer transfer_;
    std::string pending_;
    size_t taken_ = 0;
};

}  // namespace

InternetSession::InternetSession() : shared_(std::make_shared<Shared>()) {}
InternetSession::~InternetSession() = default;

std::shared_ptr<InternetSession::Shared> InternetSession::Current() const {
    std::lock_guard guard(lock_);
    return shared_;
}

namespace {

constexpr int kMaxRedirects = 10;

// One request as it stands. A request with header lines of its own follows no redirect: the
// caller decides where the lines may go, and `*location` names the target.
HttpReply SendOnce(std::shared_ptr<InternetSession::Shared> shared, const HttpRequest& request, std::string* location) {
    HttpReply reply;
    Transfer transfer(std::move(shared), request.stop);
    if (!transfer.Valid()) {
        reply.noSession = true;
        reply.error = "no curl handle";
        return reply;
    }
    CURL* curl = transfer.Handle();
    const bool follow = request.headerLines.empty();
    transfer.Configure(request.url, request.secure, request.trust, request.headerLines, follow);
    transfer.Set(CURLOPT_CUSTOMREQUEST, request.verb.c_str());
    if (request.verb == "POST") {
        transfer.Set(CURLOPT_POSTFIELDS, request.body.data());
        transfer.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        // After a redirect the request follows as a GET, as browsers and WinINet do.
        transfer.Set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    }
    BodySink sink{&reply.body, request.maxBodyBytes};
    transfer.Set(CURLOPT_WRITEFUNCTION, AppendBody);
    transfer.Set(CURLOPT_WRITEDATA, &sink);

    transfer.Start();
    Transfer::State state = transfer.Finish();
    long status = transfer.Status();
    if (transfer.ForeignProxyChallenge()) {
        reply.error = "407 from a server that is no proxy of ours";
        reply.body.clear();
        return reply;
    }
    if (state == Transfer::State::Failed && status != 407) {
        reply.error = transfer.Error();
        reply.body.clear();
        return reply;
    }
    if (status == 407) reply.body.clear();
    reply.sent = true;
    reply.status = static_cast<int>(status);
    char* target = nullptr;
    if (!follow && status >= 300 && status < 400 &&
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &target) == CURLE_OK && target != nullptr)
        *location = target;
    return reply;
}

}  // namespace

HttpReply InternetSession::Send(const HttpRequest& request) {
    HttpRequest hop = request;
    for (int redirects = 0;; ++redirects) {
        std::string location;
        HttpReply reply = SendOnce(Current(), hop, &location);
        if (location.empty()) return reply;
        HttpReply failed;
        std::optional<UrlParts> target = CrackUrl(location);
        if (!target || redirects == kMaxRedirects) {
            failed.error = "redirect not followed";
            return failed;
        }
        const bool secure = IsSecureUrl(*target);
        if (hop.secure && !secure) {
            failed.error = "redirect from HTTPS to plain HTTP refused";
            return failed;
        }
        // The caller's lines (the service's signature) stay with the host they were meant for.
        if (Lower(target->host) != Lower(hop.url.host)) hop.headerLines.clear();
        if (reply.status == 303 || (hop.verb == "POST" && (reply.status == 301 || reply.status == 302))) {
            hop.verb = "GET";
            hop.body.clear();
        }
        hop.url = *target;
        hop.secure = secure;
    }
}

OpenedUrl InternetSession::OpenUrl(const std::string& url, const TrustAnchors& trust, StopCheck stop,
                                   const std::optional<ByteRange>& range) {
    OpenedUrl opened;
    std::optional<UrlParts> parts = CrackUrl(url);
    if (!parts) return opened;
    auto file = std::make_unique<CurlInternetFile>(Current(), std::move(stop));
    opened.status = file->Open(*parts, trust, range);
    if (opened.status > 0 && opened.status < 400) opened.file = std::move(file);
    return opened;
}

std::string InternetSession::ProxyName(const UrlParts& url) const {
    return ProxyFromEnvironment(url, IsSecureUrl(url));
}

void InternetSession::SetProxyCredentials(const ProxyCredentials& credentials) {
    std::shared_ptr<Shared> shared = Current();
    std::lock_guard guard(shared->credentialsLock);
    shared->credentials = credentials;
}

std::optional<ProxyCredentials> InternetSession::KeptProxyCredentials() const {
    std::shared_ptr<Shared> shared = Current();
    std::lock_guard guard(shared->credentialsLock);
    return shared->credentials;
}

void InternetSession::SetStallLimit(uint32_t milliseconds) { Current()->stallMilliseconds = milliseconds; }

void InternetSession::AbandonTransfers() { ++Current()->abandoned; }

void SetConnectionReuse(bool reuse) { reuseConnections = reuse; }

void InternetSession::Reset() {
    auto fresh = std::make_shared<Shared>();
    std::lock_guard guard(lock_);
    shared_ = std::move(fresh);
}

}  // namespace platform
