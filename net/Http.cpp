// The HTTP(S) exchanges on the program's internet session: the certificate bundle beside the
// program, a stop when the program ends, and on a 407 the proxy-credential prompt and a new try.
#include "net/Http.h"

#include <optional>

#include "state/VeltraneApp.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "platform/Internet.h"
#include "platform/Paths.h"
#include "platform/View.h"

namespace {

static constexpr char kLogSource[] = ".\\Http";

}  // namespace

std::string CaBundlePath() { return platform::ToNativePath(theApp.ProgramFolder + "ca-bundle.pem").value_or(""); }

bool AskProxyCredentials(const platform::UrlParts& url, const std::optional<platform::ProxyCredentials>& used) {
    // Another request got new credentials while this one was refused: try those first.
    std::optional<platform::ProxyCredentials> kept = theApp.Internet.KeptProxyCredentials();
    if (kept && (!used || kept->user != used->user || kept->password != used->password)) return true;
    // The credentials are the proxy's: the prompt names it, not the server behind it.
    std::optional<platform::ProxyCredentials> credentials =
        platform::CurrentView()->AskProxyCredentials(theApp.Internet.ProxyName(url));
    VLOG(LOG_ERROR, "ErrorDlg[%d]", credentials ? 1 : 0);
    if (!credentials) return false;
    theApp.Internet.SetProxyCredentials(*credentials);
    return true;
}

platform::OpenedUrl OpenSessionUrl(const std::string& url, const platform::StopCheck& stop,
                                   const std::optional<platform::ByteRange>& range) {
    for (;;) {
        std::optional<platform::ProxyCredentials> used = theApp.Internet.KeptProxyCredentials();
        platform::OpenedUrl opened = theApp.Internet.OpenUrl(url, platform::TrustAnchors{CaBundlePath()}, stop, range);
        if (StatusOf(opened.status) != HttpStatus::ProxyAuthenticationRequired) return opened;
        // A 407 came back, so the URL parsed.
        std::optional<platform::UrlParts> parts = platform::CrackUrl(url);
        if (!parts || !AskProxyCredentials(*parts, used)) return opened;
    }
}

CHttpBase::CHttpBase(std::string verb, std::string url, std::string contentType, std::string body,
                     std::string* response, std::string headerLines)
    : verb_(std::move(verb)),
      url_(std::move(url)),
      contentType_(std::move(contentType)),
      body_(std::move(body)),
      response_(response),
      headerLines_(std::move(headerLines)) {}

void CHttpBase::GetRequestBody(std::string* body) { body->clear(); }

int CHttpBase::Response(const std::string& reply) {
    *response_ = reply;
    return 0;
}

int CHttpBase::Request() {
    return OPERATION("Request", "", kHttpTransportError, OnException::LogOnly, [&] {
        std::optional<platform::UrlParts> url = platform::CrackUrl(url_);
        if (!url) {
            VLOG(LOG_ERROR, "URL要素毎にパースエラー");
            return kHttpTransportError;
        }
        platform::HttpRequest request;
        request.verb = verb_;
        request.url = *url;
        request.secure = platform::IsSecureUrl(*url);
        request.headerLines = headerLines_;
        request.trust.caBundle = CaBundlePath();
        // The program's end abandons a call still waiting for the service.
        request.stop = [] { return theApp.ExitRequested.load(std::memory_order_relaxed) == 1; };
        GetRequestBody(&request.body);

        VLOG(LOG_TRACE, "セッション生成開始");
        VLOG(LOG_TRACE, "HTTPコネクション取得");
        VLOG(LOG_TRACE, "データ受信前処理");
        for (;;) {
            VLOG(LOG_TRACE, "データ受信要求");
            std::optional<platform::ProxyCredentials> used = theApp.Internet.KeptProxyCredentials();
            platform::HttpReply reply = theApp.Internet.Send(request);
            if (!reply.sent) {
                VLOG(LOG_ERROR, "データ受信要求エラー[%s]", reply.error.c_str());
                return reply.noSession ? kHttpNoSession : kHttpTransportError;
            }
            VLOG(LOG_TRACE, "ステータスチェック");
            const HttpStatus status = StatusOf(reply.status);
            if (status == HttpStatus::ProxyAuthenticationRequired) {
                if (!AskProxyCredentials(*url, used)) return kHttpProxyDeclined;
                continue;
            }
            if (status >= HttpStatus::BadRequest) {
                VLOG(LOG_ERROR, "データ受信要求エラー[%d]", reply.status);
                return ResultOf(status);
            }
            VLOG(LOG_TRACE, "Response開始");
            int result = Response(reply.body);
            VLOG(LOG_TRACE, "Response終了");
            return result;
        }
    });
}

CGet::CGet(std::string url, std::string* response) : CHttpBase("GET", std::move(url), "", "", response, "") {}

CPost::CPost(std::string url, std::string contentType, std::string body, std::string* response, std::string headerLines)
    : CHttpBase("POST", std::move(url), std::move(contentType), std::move(body), response, std::move(headerLines)) {}

void CPost::GetRequestBody(std::string* body) { *body = body_; }

int CPost::Response(const std::string& reply) {
    CHttpBase::Response(reply);
    VLOG(LOG_TRACE, "[POST=%s]", response_->c_str());
    return 0;
}

int CHttp::Get(const std::string& url, std::string* response) { return CGet(url, response).Request(); }

int CHttp::Post(const std::string& url, const std::string& contentType, const std::string& body, std::string* response,
                const std::string& headerLines) {
    return CPost(url, contentType, body, response, headerLines).Request();
}
