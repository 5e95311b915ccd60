// A thin synchronous HTTP(S) client for the small XML exchanges with the web service: each
// call builds its request, sends it through the program's internet session (again only after
// a proxy-credential prompt) and reads the whole reply.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "state/Results.h"
#include "platform/Internet.h"

// The HTTP statuses the program acts on: a type of their own, so that a status is never taken for
// a result code of the same number.
enum class HttpStatus : int {
    PartialContent = 206,
    BadRequest = 400,  // this and every status above it end a call
    ProxyAuthenticationRequired = 407,
    RangeNotSatisfiable = 416,
};

inline HttpStatus StatusOf(int status) { return static_cast<HttpStatus>(status); }

// A call ended by a status of 400 and above has the status's number as its result: the message
// kind of that number (an HTTP 401 shows kDownloadFailed's box), as logs and messages have it.
inline int ResultOf(HttpStatus status) { return static_cast<int>(status); }

// Results of Request(): 0, ResultOf an HTTP status (400 and above), kHttpNoSession,
// kHttpTransportError or kHttpProxyDeclined.

class CHttpBase {
public:
    CHttpBase(std::string verb, std::string url, std::string contentType, std::string body, std::string* response,
              std::string headerLines);
    virtual ~CHttpBase() = default;

    // The body to send.
    virtual void GetRequestBody(std::string* body);
    // Takes the reply's body: 0.
    virtual int Response(const std::string& reply);

    int Request();

protected:
    std::string verb_;
    std::string url_;
    std::string contentType_;  // for the caller's log only; never sent
    std::string body_;
    std::string* response_;
    std::string headerLines_;
};

class CGet : public CHttpBase {
public:
    CGet(std::string url, std::string* response);
};

class CPost : public CHttpBase {
public:
    CPost(std::string url, std::string contentType, std::string body, std::string* response, std::string headerLines);
    void GetRequestBody(std::string* body) override;
    int Response(const std::string& reply) override;
};

class CHttp {
public:
    static int Get(const std::string& url, std::string* response);
    static int Post(const std::string& url, const std::string& contentType, const std::string& body,
                    std::string* response, const std::string& headerLines);
};

// Where the program trusts certificates beyond the system store: ca-bundle.pem in its folder.
std::string CaBundlePath();
// After a 407 to a request for `url` sent with `used`: the proxy-credential prompt, naming the
// proxy, whose credentials the program's internet session keeps for every later request; no
// prompt when another request got newer ones meanwhile. False when the user declines.
bool AskProxyCredentials(const platform::UrlParts& url, const std::optional<platform::ProxyCredentials>& used);
// Opens a URL (or only `range` of it) through the program's internet session, asking for proxy
// credentials when the proxy wants them and opening again; no file when it could not be opened
// (or `stop` said so), with the reply's status when there was one.
platform::OpenedUrl OpenSessionUrl(const std::string& url, const platform::StopCheck& stop,
                                   const std::optional<platform::ByteRange>& range = std::nullopt);
