// The bundle's request on WinHTTP: a session of its own for each request (no connection kept
// from or for another), the gate as its proxy, the unknown issuer allowed for the handshake
// (names and dates still checked), and the certificate compared in the status callback at
// "sending request", which WinHTTP calls on the connection the request is about to take.
#include "platform/win32/BundleRequest.h"

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "platform/win32/BundleTrust.h"
#include "platform/win32/TlsGate.h"
#include "platform/win32/Windows.h"
#include <winhttp.h>

namespace platform::win32 {

// What the callback and a call left behind use; freed by the last of them.
struct BundleRequest::Call {
    std::string bundle;
    std::wstring host;
    std::unique_ptr<TlsGate> gate;
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    std::atomic<HINTERNET> request{nullptr};
    std::atomic<bool> refused{false};

    ~Call() {
        CloseRequest();
        if (connection != nullptr) WinHttpCloseHandle(connection);
        if (session != nullptr) WinHttpCloseHandle(session);
    }
    void CloseRequest() {
        HINTERNET open = request.exchange(nullptr);
        if (open != nullptr) WinHttpCloseHandle(open);
    }
};

namespace {

constexpr DWORD kBackstopMilliseconds = 5000;

void CALLBACK BeforeSending(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
    auto* call = reinterpret_cast<BundleRequest::Call*>(context);
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size)) certificate = nullptr;
    if (certificate != nullptr && ChainsToBundle(certificate, call->bundle, call->host)) {
        call->gate->Open();
    } else {
        call->refused = true;
        call->gate->Refuse();
    }
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
}

std::string ErrorText(DWORD code) {
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT: return "timed out";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "cannot connect";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "connection reset";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "name not resolved";
    case ERROR_WINHTTP_SECURE_FAILURE: return "certificate refused";
    default: return "WinHTTP error " + std::to_string(code);
    }
}

struct CallResult {
    BOOL ok = FALSE;
    DWORD code = ERROR_SUCCESS;
    DWORD available = 0;
};

}  // namespace

BundleRequest::BundleRequest(std::function<bool()> stop, uint32_t stallMilliseconds)
    : stop_(std::move(stop)), stallMilliseconds_(stallMilliseconds), call_(std::make_shared<Call>()) {}

BundleRequest::~BundleRequest() { call_->CloseRequest(); }

bool BundleRequest::Start(const std::wstring& verb, const std::wstring& host, uint16_t port, const std::wstring& path,
                          const std::wstring& headers, const std::string& body, const std::string& bundle,
                          const Proxy& proxy) {
    call_->bundle = bundle;
    call_->host = host;
    url_ = L"https://" + (host.find(L':') != std::wstring::npos ? L"[" + host + L"]" : host) +
           (port != 443 ? L":" + std::to_wstring(port) : L"") + path;
    call_->gate = std::make_unique<TlsGate>(host, port);
    if (call_->gate->Port() == 0) {
        error_ = "no loopback port for the certificate check";
        return false;
    }
    std::shared_ptr<Call> call = call_;
    auto reached = std::make_shared<int>(0);
    if (!Wait([call, reached, proxy] { *reached = call->gate->Reach(proxy.host, proxy.port, proxy.authorization); }))
        return false;
    if (*reached != 200) {
        // The proxy's refusal is the caller's to answer, as on WinINet's path.
        proxyStatus_ = *reached;
        if (*reached != 0) return true;
        error_ = "cannot connect";
        return false;
    }
    const std::wstring gate = L"127.0.0.1:" + std::to_wstring(call_->gate->Port());
    // "<-loopback>" takes loopback names off WinHTTP's implicit bypass list, so even a server
    // on this machine is reached through the gate.
    call_->session = WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NAMED_PROXY, gate.c_str(), L"<-loopback>", 0);
    if (call_->session != nullptr) call_->connection = WinHttpConnect(call_->session, host.c_str(), port, 0);
    HINTERNET request =
        call_->connection == nullptr
            ? nullptr
            : WinHttpOpenRequest(call_->connection, verb.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE | WINHTTP_FLAG_ESCAPE_DISABLE);
    if (request == nullptr) {
        error_ = ErrorText(GetLastError());
        return false;
    }
    call_->request.store(request);
    // The bundle stands in for the system's trust of the issuer; a private CA publishes no
    // revocation list, and WinHTTP checks none unless asked.
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    // Redirects are the session's to follow; no credentials are owed to anyone here; one
    // request, one connection.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE | WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy);
    const int limit = static_cast<int>(stallMilliseconds_ + kBackstopMilliseconds);
    WinHttpSetTimeouts(request, limit, limit, limit, limit);
    if (WinHttpSetStatusCallback(request, BeforeSending, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        error_ = ErrorText(GetLastError());
        return false;
    }

    auto result = std::make_shared<CallResult>();
    auto sent = std::make_shared<std::pair<std::wstring, std::string>>(headers, body);
    if (!Wait([call, request, result, sent] {
            const DWORD length = static_cast<DWORD>(sent->second.size());
            result->ok =
                WinHttpSendRequest(request, sent->first.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : sent->first.c_str(),
                                   static_cast<DWORD>(sent->first.size()), sent->second.data(), length, length,
                                   reinterpret_cast<DWORD_PTR>(call.get())) &&
                WinHttpReceiveResponse(request, nullptr);
            result->code = GetLastError();
        }))
        return false;
    if (call_->refused) {
        call_->CloseRequest();
        error_ = "certificate issuer not trusted";
        return false;
    }
    if (!result->ok) {
        error_ = ErrorText(result->code);
        return false;
    }
    return true;
}

int BundleRequest::Status() const {
    if (proxyStatus_ != 0) return proxyStatus_;
    DWORD status = 0;
    DWORD size = sizeof status;
    HINTERNET request = call_->request.load();
    if (request == nullptr ||
        !WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return static_cast<int>(status);
}

long BundleRequest::Read(void* buffer, size_t size) {
    HINTERNET request = call_->request.load();
    if (request == nullptr) return -1;
    auto result = std::make_shared<CallResult>();
    std::shared_ptr<Call> call = call_;
    if (!Wait([call, request, result] {
            result->ok = WinHttpQueryDataAvailable(request, &result->available);
            result->code = GetLastError();
        }))
        return -1;
    if (!result->ok) {
        error_ = ErrorText(result->code);
        return -1;
    }
    if (result->available == 0) return 0;
    DWORD wanted = static_cast<DWORD>(std::min<size_t>({size, result->available, 1u << 30}));
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer, wanted, &read)) {
        error_ = ErrorText(GetLastError());
        return -1;
    }
    return static_cast<long>(read);
}

long long BundleRequest::ContentLength() const {
    std::wstring length = Header(L"Content-Length");
    return length.empty() ? -1 : std::wcstoll(length.c_str(), nullptr, 10);
}

// Redirects are not followed here, so the URL is the one asked for.
std::wstring BundleRequest::Url() const { return url_; }

std::wstring BundleRequest::Header(const std::wstring& name) const {
    HINTERNET request = call_->request.load();
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (request == nullptr || size == 0) return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), value.data(), &size, WINHTTP_NO_HEADER_INDEX))
        return {};
    value.resize(size / sizeof(wchar_t));
    return value;
}

bool BundleRequest::Wait(std::function<void()> call) {
    std::shared_ptr<Call> shared = call_;
    BlockingCall::Outcome outcome =
        calls_.Run(std::move(call), stop_, stallMilliseconds_, [shared] { shared->CloseRequest(); });
    if (outcome == BlockingCall::Outcome::Stopped) error_ = "stopped";
    if (outcome == BlockingCall::Outcome::Stalled) error_ = "stalled";
    return outcome == BlockingCall::Outcome::Done;
}

}  // namespace platform::win32
