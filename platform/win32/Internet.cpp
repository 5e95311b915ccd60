// The internet session on WinINet: one session handle, so WinINet keeps its connections for
// reuse; the proxy credentials the user gave, given to WinINet for the system's proxy only; the
// stall limit on every wait, and stop checks that end a wait within a fraction of a second.
// Every exchange is InternetConnect, HttpOpenRequest and HttpSendRequest on the session handle;
// an opened URL goes the same way (it is what InternetOpenUrl does inside). A server whose
// issuer WinINet refuses is asked again through a BundleRequest, which sends nothing until the
// certificate chained to the program's bundle. Redirects are followed here, not by WinINet, so
// that none leads from HTTPS to plain HTTP and the caller's header lines stay with their host.
#include "platform/Internet.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cwctype>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/win32/BlockingCall.h"
#include "platform/win32/BundleRequest.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <wincrypt.h>
#include <wininet.h>

namespace platform {

struct InternetSession::Shared {
    HINTERNET session = nullptr;
    mutable std::mutex credentialsLock;
    std::optional<ProxyCredentials> credentials;
    std::atomic<uint32_t> stallMilliseconds{kDefaultStallMilliseconds};
    std::atomic<uint64_t> abandoned{0};  // counts AbandonTransfers

    Shared() { session = InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0); }
    ~Shared() {
        if (session != nullptr) InternetCloseHandle(session);
    }

    std::optional<ProxyCredentials> Credentials() const {
        std::lock_guard<std::mutex> hold(credentialsLock);
        return credentials;
    }
};

namespace {

using win32::BlockingCall;
using win32::BundleRequest;
using win32::Narrow;
using win32::Wide;
using win32::WideNative;

constexpr DWORD kBackstopMilliseconds = 5000;

std::string ErrorText(DWORD code) {
    switch (code) {
    case ERROR_INTERNET_TIMEOUT: return "timed out";
    case ERROR_INTERNET_CANNOT_CONNECT: return "cannot connect";
    case ERROR_INTERNET_CONNECTION_RESET: return "connection reset";
    case ERROR_INTERNET_CONNECTION_ABORTED: return "connection aborted";
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "name not resolved";
    case ERROR_INTERNET_INVALID_CA: return "certificate issuer not trusted";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return "certificate name mismatch";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return "certificate expired or not yet valid";
    default: return "WinINet error " + std::to_string(code);
    }
}

// One wildcard pattern of a bypass list ('*' for any run of characters), case ignored: each
// '*' takes as little as it can and more when the rest does not match.
bool MatchesPattern(std::wstring_view pattern, std::wstring_view text) {
    size_t p = 0;
    size_t t = 0;
    size_t star = std::wstring_view::npos;
    size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && std::towlower(pattern[p]) == std::towlower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

// Whether the proxy bypass list names the host: entries apart by ';', ',' or blanks, each a
// wildcard pattern, "<local>" for every name without a dot.
bool Bypassed(const std::wstring& list, const std::wstring& host) {
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find_first_of(L"; ,\t", start);
        if (end == std::wstring::npos) end = list.size();
        std::wstring entry = list.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) continue;
        if (entry == L"<local>" ? host.find(L'.') == std::wstring::npos && host.find(L':') == std::wstring::npos
                                : MatchesPattern(entry, host))
            return true;
    }
    return false;
}

// The proxy settings WinINet took for the session (the system's). INTERNET_PROXY_INFO's
// strings are wide for the W call, whatever the headers' TCHAR.
struct ProxyInfo {
    DWORD accessType;
    const wchar_t* proxy;
    const wchar_t* bypass;
};

// The proxy the session reaches `host` (as WinINet takes it, without brackets) through, as the
// settings name it; empty when it goes direct.
std::wstring ProxyOf(HINTERNET session, const std::wstring& host) {
    DWORD size = 0;
    InternetQueryOptionW(session, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(ProxyInfo)) return L"";
    std::vector<unsigned char> buffer(size);
    if (!InternetQueryOptionW(session, INTERNET_OPTION_PROXY, buffer.data(), &size)) return L"";
    const auto* info = reinterpret_cast<const ProxyInfo*>(buffer.data());
    // A session opened with the system's settings may report them as such rather than as a proxy.
    if (info->accessType == INTERNET_OPEN_TYPE_DIRECT || info->proxy == nullptr || *info->proxy == L'\0') return L"";
    return info->bypass != nullptr && Bypassed(info->bypass, host) ? L"" : info->proxy;
}

bool ThroughProxy(HINTERNET session, const std::wstring& host) { return !ProxyOf(session, host).empty(); }

// The proxy of a setting for a secure request: its "https=" entry, else the one for all
// schemes ("[scheme=][scheme://]server[:port]", entries apart by ';' or blanks; port 80 unsaid).
BundleRequest::Proxy SecureProxy(const std::wstring& setting) {
    std::wstring chosen;
    for (size_t start = 0; start < setting.size();) {
        size_t end = setting.find_first_of(L"; ", start);
        if (end == std::wstring::npos) end = setting.size();
        std::wstring entry = setting.substr(start, end - start);
        start = end + 1;
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos && chosen.empty()) chosen = entry;
        if (equals != std::wstring::npos && _wcsicmp(entry.substr(0, equals).c_str(), L"https") == 0) {
            chosen = entry.substr(equals + 1);
            break;
        }
    }
    if (size_t scheme = chosen.find(L"://"); scheme != std::wstring::npos) chosen.erase(0, scheme + 3);
    chosen = chosen.substr(0, chosen.find(L'/'));
    BundleRequest::Proxy proxy;
    const size_t colon = chosen.rfind(L':');
    const bool hasPort = colon != std::wstring::npos && chosen.find(L']', colon) == std::wstring::npos &&
                         (chosen.front() == L'[' || chosen.find(L':') == colon);
    proxy.host = hasPort ? chosen.substr(0, colon) : chosen;
    proxy.port = static_cast<uint16_t>(hasPort ? std::wcstoul(chosen.c_str() + colon + 1, nullptr, 10) : 80);
    if (proxy.host.size() > 2 && proxy.host.front() == L'[') proxy.host = proxy.host.substr(1, proxy.host.size() - 2);
    return proxy;
}

// The value of a Proxy-Authorization line for Basic credentials.
std::string BasicAuthorization(const ProxyCredentials& credentials) {
    const std::string pair = credentials.user + ":" + credentials.password;
    DWORD size = 0;
    const auto* bytes = reinterpret_cast<const BYTE*>(pair.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(pair.size()), flags, nullptr, &size)) return {};
    std::string encoded(size, '\0');
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(pair.size()), flags, encoded.data(), &size)) return {};
    encoded.resize(size);
    return "Basic " + encoded;
}

// WinINet takes an IPv6 address without the brackets of the URL.
std::wstring HostName(const std::string& host) {
    std::string bare =
        host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
    return WideNative(bare).value_or(L"");
}

// The refusals the bundle may overrule: an issuer the system does not know, and the
// revocation check that fails for it (a private CA publishes no revocation list).
bool IsCertificateError(DWORD code) {
    return code == ERROR_INTERNET_INVALID_CA || code == ERROR_INTERNET_SEC_CERT_ERRORS ||
           code == ERROR_INTERNET_SEC_CERT_REV_FAILED;
}

struct CallResult {
    BOOL ok = FALSE;
    DWORD code = ERROR_SUCCESS;
    DWORD available = 0;
};

// One request on its own connection handle. The request handle is closed exactly once, by
// whoever comes first: the owner, or a stop or stall that ends a blocking call.
class Exchange {
public:
    // Stopped by the caller's check, or by AbandonTransfers from now on.
    Exchange(std::shared_ptr<InternetSession::Shared> shared, StopCheck stop)
        : shared_(std::move(shared)),
          stop_([stop = std::move(stop), shared = shared_.get(), mark = shared_->abandoned.load()] {
              return (stop && stop()) || shared->abandoned.load() != mark;
          }) {}
    ~Exchange() {
        CloseRequest();
        if (connection_ != nullptr) InternetCloseHandle(connection_);
    }

    // Connects and sends; afterwards Status() is the reply's status. False with Error() when
    // nothing came back.
    bool Start(const std::string& verb, const UrlParts& url, bool secure, const std::string& headerLines,
               const std::string& body, const TrustAnchors& trust, DWORD flags) {
        if (shared_->session == nullptr) return Fail("no internet session");
        std::wstring host = HostName(url.host);
        connection_ = InternetConnectW(shared_->session, host.c_str(), static_cast<INTERNET_PORT>(url.port), nullptr,
                                       nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        if (connection_ == nullptr) return Fail(ErrorText(GetLastError()));
        std::wstring wideVerb = WideNative(verb).value_or(L"GET");
        std::optional<std::wstring> path = Wide(url.path.c_str());
        if (!path) return Fail("object path is not text");
        // Redirects are the session's to follow. INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP, which would
        // let WinINet go from HTTPS to HTTP unasked, is never set.
        flags |= INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                 INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (secure) flags |= INTERNET_FLAG_SECURE;
        // Without a proxy of ours no one is owed credentials: WinINet answers no challenge itself
        // (Wine's would answer a server's 407 with proxy credentials the session holds).
        const bool proxied = ThroughProxy(shared_->session, host);
        if (!proxied) flags |= INTERNET_FLAG_NO_AUTH;
        HINTERNET request =
            HttpOpenRequestW(connection_, wideVerb.c_str(), path->c_str(), nullptr, nullptr, nullptr, flags, 1);
        if (request == nullptr) return Fail(ErrorText(GetLastError()));
        request_.store(request);

        // WinINet's own limits back up the stall limit, should a close not end a call; they
        // come later, so the stall limit is what the caller sees.
        DWORD limit = shared_->stallMilliseconds + kBackstopMilliseconds;
        for (DWORD option :
             {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
            InternetSetOptionW(request, option, &limit, sizeof limit);

        // Proxy credentials are often the user's network password: WinINet gets them for the
        // system's proxy alone, never as a header line a server or the inside of a tunnel sees.
        // Given on the request before it is sent, they answer the proxy's 407 on this same
        // request inside HttpSendRequest; a 407 that still comes back goes to the caller, who
        // asks anew. The request is not sent again here: after a refused CONNECT, Wine's WinINet
        // sends it outside the tunnel, in clear, to the proxy.
        if (std::optional<ProxyCredentials> credentials = proxied ? shared_->Credentials() : std::nullopt)
            GiveProxyCredentials(request, *credentials);
        std::optional<std::wstring> headers = Wide(headerLines.c_str());
        if (!headers) return Fail("header lines are not text");

        DWORD code = Send(*headers, body);
        if (code != ERROR_SUCCESS && secure && IsCertificateError(code) && !trust.caBundle.empty()) {
            CloseRequest();
            return SendTrustingBundle(wideVerb, host, url, *path, *headers, body, trust, proxied);
        }
        if (code != ERROR_SUCCESS) return Fail(error_.empty() ? ErrorText(code) : error_);
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!HttpQueryInfoW(Request(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
            return Fail(ErrorText(GetLastError()));
        status_ = static_cast<int>(status);
        // A 407 without a proxy of ours comes from a server that only claims to be one.
        if (status_ == 407 && !proxied) return Fail("407 from a server that is no proxy of ours");
        return true;
    }

    // Up to `size` bytes of the body once some have come; 0 at its end, -1 when it failed,
    // stalled or was stopped.
    long Read(void* buffer, size_t size) {
        if (bundled_) {
            long read = bundled_->Read(buffer, size);
            if (read < 0) error_ = bundled_->Error();
            return read;
        }
        HINTERNET request = Request();
        if (request == nullptr) return -1;
        auto result = std::make_shared<CallResult>();
        if (!Wait(
                [request, result] {
                    result->ok = InternetQueryDataAvailable(request, &result->available, 0, 0);
                    result->code = GetLastError();
                },
                request_))
            return -1;
        if (!result->ok) {
            error_ = ErrorText(result->code);
            return -1;
        }
        if (result->available == 0) return 0;
        DWORD wanted = static_cast<DWORD>(std::min<size_t>({size, result->available, 1u << 30}));
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, wanted, &read)) {
            error_ = ErrorText(GetLastError());
            return -1;
        }
        return static_cast<long>(read);
    }

    long long ContentLength() const {
        if (bundled_) return bundled_->ContentLength();
        wchar_t text[32] = {};
        DWORD size = sizeof text;
        if (!HttpQueryInfoW(Request(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return -1;
        return std::wcstoll(text, nullptr, 10);
    }

    std::string EffectiveUrl() const {
        if (bundled_) return Narrow(bundled_->Url()).value_or("");
        DWORD size = 0;
        InternetQueryOptionW(Request(), INTERNET_OPTION_URL, nullptr, &size);
        std::wstring url(size / sizeof(wchar_t) + 1, L'\0');
        if (size == 0 || !InternetQueryOptionW(Request(), INTERNET_OPTION_URL, url.data(), &size)) return {};
        url.resize(std::wcslen(url.c_str()));
        return Narrow(url).value_or("");
    }

    std::string Header(const char* name) const {
        // HTTP_QUERY_CUSTOM takes the header's name in the buffer and puts its value there; a
        // value too long for the buffer comes with the size it needs.
        const std::wstring wideName = WideNative(name).value_or(L"");
        if (bundled_) return Narrow(bundled_->Header(wideName)).value_or("");
        for (size_t room = std::max<size_t>(wideName.size() + 1, 256);;) {
            std::wstring buffer = wideName;
            buffer.resize(room);
            DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
            if (HttpQueryInfoW(Request(), HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
                buffer.resize(size / sizeof(wchar_t));
                return Narrow(buffer).value_or("");
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size / sizeof(wchar_t) < room) return {};
            room = size / sizeof(wchar_t) + 1;
        }
    }

    int Status() const { return status_; }
    const std::string& Error() const { return error_; }

private:
    HINTERNET Request() const { return request_.load(); }

    void CloseRequest() { Close(request_); }

    static void Close(std::atomic<HINTERNET>& handle) {
        HINTERNET open = handle.exchange(nullptr);
        if (open != nullptr) InternetCloseHandle(open);
    }

    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }

    // A blocking call on the helper thread; false (with the reason) when a stop or the stall
    // limit ended it.
    bool Wait(std::function<void()> call, std::atomic<HINTERNET>& handle) {
        BlockingCall::Outcome outcome =
            calls_.Run(std::move(call), stop_, shared_->stallMilliseconds, [&handle] { Close(handle); });
        if (outcome == BlockingCall::Outcome::Stopped) error_ = "stopped";
        if (outcome == BlockingCall::Outcome::Stalled) error_ = "stalled";
        return outcome == BlockingCall::Outcome::Done;
    }

    static void GiveProxyCredentials(HINTERNET request, const ProxyCredentials& credentials) {
        std::wstring user = Wide(credentials.user.c_str()).value_or(L"");
        std::wstring password = Wide(credentials.password.c_str()).value_or(L"");
        // Should WinINet refuse them, the proxy's 407 comes back and the user is asked anew.
        InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, user.data(), static_cast<DWORD>(user.size()));
        InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, password.data(),
                           static_cast<DWORD>(password.size()));
    }

    DWORD Send(const std::wstring& headers, const std::string& body) {
        HINTERNET request = Request();
        auto result = std::make_shared<CallResult>();
        // A call left behind may outlive this exchange: it keeps its own copy of what it sends.
        auto sent = std::make_shared<std::pair<std::wstring, std::string>>(headers, body);
        if (!Wait(
                [request, result, sent] {
                    result->ok = HttpSendRequestW(request, sent->first.c_str(), static_cast<DWORD>(sent->first.size()),
                                                  sent->second.data(), static_cast<DWORD>(sent->second.size()));
                    result->code = GetLastError();
                },
                request_))
            return ERROR_INTERNET_OPERATION_CANCELLED;
        return result->ok ? ERROR_SUCCESS : result->code;
    }

    // WinINet trusts only the system store and refused the issuer before sending anything. The
    // request goes again on a BundleRequest, which lets none of it reach a server whose
    // certificate does not chain to the bundle; through the system's proxy, with the credentials
    // the user gave, for the proxy alone.
    bool SendTrustingBundle(const std::wstring& verb, const std::wstring& host, const UrlParts& url,
                            const std::wstring& path, const std::wstring& headers, const std::string& body,
                            const TrustAnchors& trust, bool proxied) {
        BundleRequest::Proxy proxy;
        if (proxied) {
            proxy = SecureProxy(ProxyOf(shared_->session, host));
            if (std::optional<ProxyCredentials> credentials = shared_->Credentials())
                proxy.authorization = BasicAuthorization(*credentials);
        }
        bundled_ = std::make_unique<BundleRequest>(stop_, shared_->stallMilliseconds);
        if (!bundled_->Start(verb, host, static_cast<uint16_t>(url.port), path, headers, body, trust.caBundle, proxy))
            return Fail(bundled_->Error());
        status_ = bundled_->Status();
        if (status_ == 407 && !proxied) return Fail("407 from a server that is no proxy of ours");
        return true;
    }

    std::shared_ptr<InternetSession::Shared> shared_;
    StopCheck stop_;
    BlockingCall calls_;
    HINTERNET connection_ = nullptr;
    std::atomic<HINTERNET> request_{nullptr};
    std::unique_ptr<BundleRequest> bundled_;  // the request's exchange when the bundle vouches
    int status_ = 0;
    std::string error_;
};

class WinInetFile : public InternetFile {
public:
    explicit WinInetFile(std::unique_ptr<Exchange> exchange) : exchange_(std::move(exchange)) {}
    long Read(void* buffer, size_t size) override { return exchange_->Read(buffer, size); }
    long long ContentLength() const override { return exchange_->ContentLength(); }
    std::string EffectiveUrl() const override { return exchange_->EffectiveUrl(); }
    std::string Header(const char* name) const override { return exchange_->Header(name); }

private:
    std::unique_ptr<Exchange> exchange_;
};

}  // namespace

InternetSession::InternetSession() : shared_(std::make_shared<Shared>()) {}
InternetSession::~InternetSession() = default;

std::string InternetSession::ProxyName(const UrlParts& url) const {
    std::shared_ptr<Shared> shared = Current();
    if (shared->session == nullptr) return "";
    return win32::Narrow(ProxyOf(shared->session, HostName(url.host))).value_or("");
}

std::shared_ptr<InternetSession::Shared> InternetSession::Current() const {
    std::lock_guard<std::mutex> hold(lock_);
    return shared_;
}

namespace {

constexpr int kMaxRedirects = 10;

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The target of a redirect, a relative Location taken against the URL that was asked for.
std::optional<UrlParts> RedirectTarget(const Exchange& exchange) {
    std::optional<std::wstring> base = Wide(exchange.EffectiveUrl().c_str());
    std::optional<std::wstring> location = Wide(exchange.Header("Location").c_str());
    if (!base || !location || location->empty()) return std::nullopt;
    DWORD size = 0;
    InternetCombineUrlW(base->c_str(), location->c_str(), nullptr, &size, ICU_NO_ENCODE);
    std::wstring combined(size + 1, L'\0');
    size = static_cast<DWORD>(combined.size());
    if (!InternetCombineUrlW(base->c_str(), location->c_str(), combined.data(), &size, ICU_NO_ENCODE))
        return std::nullopt;
    combined.resize(size);
    std::optional<std::string> target = Narrow(combined);
    return target ? CrackUrl(*target) : std::nullopt;
}

// Sends the request and follows its redirects as the Linux side does: at most 10, never from
// HTTPS to plain HTTP, the caller's header lines (the service's signature) only while the
// target is the same host (any port: the service may move a call from HTTP to HTTPS), a POST
// turned into a GET by 301, 302 and 303. The exchange of the last reply, or null with `error`.
std::unique_ptr<Exchange> SendFollowing(const std::shared_ptr<InternetSession::Shared>& shared, HttpRequest hop,
                                        DWORD flags, std::string* error) {
    for (int redirects = 0;; ++redirects) {
        auto exchange = std::make_unique<Exchange>(shared, hop.stop);
        if (!exchange->Start(hop.verb, hop.url, hop.secure, hop.headerLines, hop.body, hop.trust, flags)) {
            *error = exchange->Error();
            return nullptr;
        }
        if (!IsRedirect(exchange->Status())) return exchange;
        std::optional<UrlParts> target = RedirectTarget(*exchange);
        if (!target) return exchange;  // no place to go: the reply stands as it is
        if (redirects == kMaxRedirects) {
            *error = "redirect not followed";
            return nullptr;
        }
        const bool secure = IsSecureUrl(*target);
        if (hop.secure && !secure) {
            *error = "redirect from HTTPS to plain HTTP refused";
            return nullptr;
        }
        if (Lower(target->host) != Lower(hop.url.host)) hop.headerLines.clear();
        const int status = exchange->Status();
        if (status == 303 || (hop.verb == "POST" && (status == 301 || status == 302))) {
            hop.verb = "GET";
            hop.body.clear();
        }
        hop.url = *target;
        hop.secure = secure;
    }
}

}  // namespace

HttpReply InternetSession::Send(const HttpRequest& request) {
    HttpReply reply;
    std::shared_ptr<Shared> shared = Current();
    if (shared->session == nullptr) {
        reply.noSession = true;
        reply.error = ErrorText(GetLastError());
        return reply;
    }
    std::unique_ptr<Exchange> exchange = SendFollowing(shared, request, 0, &reply.error);
    if (!exchange) return reply;
    if (exchange->Status() == 407) {
        reply.sent = true;
        reply.status = 407;
        return reply;
    }
    char piece[65536];
    for (;;) {
        long read = exchange->Read(piece, sizeof piece);
        if (read == 0) break;
        if (read < 0 || reply.body.size() + static_cast<size_t>(read) > request.maxBodyBytes) {
            reply.error = read < 0 ? exchange->Error() : "reply too long";
            reply.body.clear();
            return reply;
        }
        reply.body.append(piece, static_cast<size_t>(read));
    }
    reply.sent = true;
    reply.status = exchange->Status();
    return reply;
}

OpenedUrl InternetSession::OpenUrl(const std::string& url, const TrustAnchors& trust, StopCheck stop,
                                   const std::optional<ByteRange>& range) {
    OpenedUrl opened;
    std::optional<UrlParts> parts = CrackUrl(url);
    if (!parts) return opened;
    HttpRequest request;
    request.verb = "GET";
    request.url = *parts;
    request.secure = IsSecureUrl(*parts);
    request.trust = trust;
    request.stop = std::move(stop);
    if (range)
        request.headerLines = "Range: bytes=" + std::to_string(range->offset) + "-\r\nIf-Range: " + range->validator;
    std::string error;
    std::unique_ptr<Exchange> exchange = SendFollowing(Current(), request, INTERNET_FLAG_TRANSFER_BINARY, &error);
    if (!exchange) return opened;
    opened.status = exchange->Status();
    if (opened.status < 400) opened.file = std::make_unique<WinInetFile>(std::move(exchange));
    return opened;
}

void InternetSession::SetProxyCredentials(const ProxyCredentials& credentials) {
    std::shared_ptr<Shared> shared = Current();
    std::lock_guard<std::mutex> hold(shared->credentialsLock);
    shared->credentials = credentials;
}

std::optional<ProxyCredentials> InternetSession::KeptProxyCredentials() const { return Current()->Credentials(); }

void InternetSession::SetStallLimit(uint32_t milliseconds) { Current()->stallMilliseconds = milliseconds; }

void InternetSession::AbandonTransfers() { ++Current()->abandoned; }

void InternetSession::Reset() {
    auto fresh = std::make_shared<Shared>();
    std::lock_guard<std::mutex> hold(lock_);
    // Opened URLs keep the old session handle until they are closed.
    shared_ = std::move(fresh);
}

std::optional<UrlParts> CrackUrl(const std::string& url) {
    std::optional<std::wstring> wide = win32::Wide(url.c_str());
    if (!wide) return std::nullopt;
    wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host;
    components.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH + 1;
    // Null buffers with a non-zero length: WinINet points into the URL itself.
    components.dwUrlPathLength = 1;
    components.dwExtraInfoLength = 1;
    components.dwSchemeLength = 1;
    if (!InternetCrackUrlW(wide->c_str(), static_cast<DWORD>(wide->size()), 0, &components)) return std::nullopt;
    UrlParts parts;
    if (components.nScheme == INTERNET_SCHEME_HTTP)
        parts.scheme = "http";
    else if (components.nScheme == INTERNET_SCHEME_HTTPS)
        parts.scheme = "https";
    else
        return std::nullopt;
    parts.host = win32::NarrowNative(host);
    if (parts.host.find(':') != std::string::npos && parts.host.front() != '[') parts.host = "[" + parts.host + "]";
    parts.port = components.nPort;
    std::wstring path(components.lpszUrlPath, components.dwUrlPathLength);
    if (components.lpszExtraInfo != nullptr) path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    parts.path = win32::Narrow(path).value_or("");
    if (parts.host.empty() || parts.path.empty()) return std::nullopt;
    return parts;
}

bool IsSecureUrl(const UrlParts& url) { return url.scheme == "https" || url.port == 443; }

}  // namespace platform
