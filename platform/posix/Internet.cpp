#include "platform/Internet.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace platform {
namespace {

void EnsureCurl() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
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

// Peer and host are always verified, against the system store plus the bundle beside the
// program. A CA blob replaces curl's default file, so the system store comes in as a path.
void ApplyTrust(CURL* easy, const TrustAnchors& trust) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_CAPATH, "/etc/ssl/certs");
    if (trust.caBundle.empty()) return;
    std::ifstream in(trust.caBundle, std::ios::binary);
    if (!in) return;
    std::string pem((std::istreambuf_iterator<char>(in)), {});
    curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}

HeaderList HeaderLines(const std::string& lines) {
    curl_slist* list = nullptr;
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = lines.find("\r\n", start);
        if (end == std::string::npos) end = lines.size();
        if (end > start) list = curl_slist_append(list, lines.substr(start, end - start).c_str());
        start = end + 2;
    }
    // The body goes at once, without an "Expect: 100-continue" round trip.
    list = curl_slist_append(list, "Expect:");
    return HeaderList(list);
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

std::string Base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    out.resize(length);
    return out;
}

}  // namespace

std::optional<UrlParts> CrackUrl(const std::string& url) {
    EnsureCurl();
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

HttpReply SendHttpRequest(const HttpRequest& request) {
    EnsureCurl();
    HttpReply reply;
    Easy easy(curl_easy_init());
    if (!easy) {
        reply.noSession = true;
        reply.error = "no curl handle";
        return reply;
    }
    CURL* curl = easy.get();
    std::string url = ToUrl(request.url, request.secure);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
    if (request.verb == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        // After a redirect the request follows as a GET, as browsers and WinINet do.
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
    }
    ApplyTrust(curl, request.trust);

    std::string headerLines = request.headerLines;
    if (request.proxyCredentials) {
        const ProxyCredentials& credentials = *request.proxyCredentials;
        // A configured proxy gets them through curl; without one, the peer that answered 407
        // stands in the path (an intercepting proxy) and gets them as a header line.
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, credentials.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, credentials.password.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
        std::string line = "Proxy-Authorization: Basic " + Base64(credentials.user + ":" + credentials.password);
        headerLines = headerLines.empty() ? line : headerLines + "\r\n" + line;
    }
    HeaderList headers = HeaderLines(headerLines);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());

    BodySink sink{&reply.body, request.maxBodyBytes};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

    CURLcode code = curl_easy_perform(curl);
    long connectStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    if (code != CURLE_OK) {
        // A proxy that refuses the tunnel answers the CONNECT, not the request.
        if (connectStatus == 407) {
            reply.sent = true;
            reply.status = 407;
            reply.body.clear();
            return reply;
        }
        reply.error = curl_easy_strerror(code);
        reply.body.clear();
        return reply;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.sent = true;
    reply.status = static_cast<int>(status);
    return reply;
}

namespace {

// A GET driven through the multi interface, so the body is pulled as the caller reads.
class CurlInternetFile : public InternetFile {
public:
    CurlInternetFile() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
    ~CurlInternetFile() override {
        if (multi_ != nullptr && easy_) curl_multi_remove_handle(multi_, easy_.get());
        if (multi_ != nullptr) curl_multi_cleanup(multi_);
    }

    bool Open(const UrlParts& url, const TrustAnchors& trust) {
        if (multi_ == nullptr || !easy_) return false;
        CURL* curl = easy_.get();
        std::string address = ToUrl(url, IsSecureUrl(url));
        curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
            ApplyTrust(curl, trust);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Receive);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_multi_add_handle(multi_, curl);
        // Run until the first body bytes or the end, so the status is known.
        while (pending_.empty() && Step()) {
        }
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        return !failed_ && status > 0 && status < 400;
    }

    long Read(void* buffer, size_t size) override {
        while (pending_.size() == taken_ && Step()) {
        }
        if (failed_) return -1;
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
        curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length;
    }

    std::string EffectiveUrl() const override {
        char* url = nullptr;
        curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url);
        return url != nullptr ? url : "";
    }

private:
    static size_t Receive(char* data, size_t size, size_t count, void* user) {
        static_cast<CurlInternetFile*>(user)->pending_.append(data, size * count);
        return size * count;
    }

    // One round of transfer work; false once the transfer has ended.
    bool Step() {
        if (done_) return false;
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) failed_ = true;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg == CURLMSG_DONE && message->data.result != CURLE_OK) failed_ = true;
        }
        if (running == 0 || failed_) {
            done_ = true;
            return false;
        }
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        return true;
    }

    CURLM* multi_;
    Easy easy_;
    std::string pending_;
    size_t taken_ = 0;
    bool done_ = false;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<InternetFile> OpenUrl(const std::string& url, const TrustAnchors& trust) {
    EnsureCurl();
    std::optional<UrlParts> parts = CrackUrl(url);
    if (!parts) return nullptr;
    auto file = std::make_unique<CurlInternetFile>();
    if (!file->Open(*parts, trust)) return nullptr;
    return file;
}

}  // namespace platform
