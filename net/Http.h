// A thin synchronous HTTP(S) client for the small XML exchanges with the web service: each
// call builds its request, sends it (again only after a proxy-credential prompt), reads the
// whole reply and closes everything.
#pragma once

#include <string>

// Results of Request(): 0, the HTTP status (400 and above), or one of these.
constexpr int kHttpNoSession = 802;
constexpr int kHttpTransportError = 900;
constexpr int kHttpProxyDeclined = 9000;

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
