// The three web-service calls: their request documents, the WSSE header line, the reading of
// each reply into its fields and the service's result codes turned into the program's.
#include "net/ExternalInterface.h"

#include <initializer_list>
#include <optional>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/Hash.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "net/Http.h"
#include "net/UrlCoding.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/XmlReader.h"

namespace {

static constexpr char kLogSource[] = ".\\ExternalInterface";

constexpr char kContentType[] = "Content-type: application/xml";
// The namespace of the documents: a fixed name, not where the service lives.
constexpr char kNamespaceBase[] = "http://www.veltrane.invalid/map-dl";

constexpr char kWsseUser[] = "NaviUser";
constexpr char kWssePassword[] = "KestrelWing";
constexpr char kWsseNonce[] = "5820917364";

const std::initializer_list<const char*> kResultParams = {"result-status", "result-cd", "result-detail-cd",
                                                          "result-msg"};
const std::initializer_list<const char*> kDownloadStartParams = {"result-status",         "result-cd",
                                                                 "result-detail-cd",      "result-msg",
                                                                 "unified-map-ver-gen",   "unified-map-ver-major",
                                                                 "unified-map-ver-minor", "product-name",
                                                                 "conf-file-url"};

struct Param {
    const char* name;
    const std::string& value;
};

// The request document: declaration, document type, root with its namespace, the in-params
// with their values as they stand, and the out-params empty; no whitespace between tags.
std::string RequestXml(const char* root, const char* prefix, std::initializer_list<Param> inParams,
                       std::initializer_list<const char*> outParams) {
    std::string xml = Format("<?xml version=\"1.0\" encoding=\"utf-8\"?><!DOCTYPE %s SYSTEM \"%s.dtd\">", root, prefix);
    xml += Format("<%s xmlns:%s='%s/%s/'>", root, prefix, kNamespaceBase, prefix);
    xml += "<in-param-section>";
    for (const Param& param : inParams) xml += Format("<%s>", param.name) + param.value + Format("</%s>", param.name);
    xml += "</in-param-section><out-param-section>";
    for (const char* name : outParams) xml += Format("<%s></%s>", name, name);
    xml += "</out-param-section>";
    return xml + Format("</%s>", root);
}

// The four result fields every reply carries; false when `name` is none of them.
template <class Response>
bool StoreResultField(Response* response, const std::string& name, const std::string& text) {
    if (name == "result-status")
        response->result_status = text;
    else if (name == "result-cd")
        response->result_cd = text;
    else if (name == "result-detail-cd")
        response->result_detail_cd = text;
    else if (name == "result-msg")
        response->result_msg = text;
    else
        return false;
    return true;
}

}  // namespace

void CExternalInterfaceBase::OnEndElement(const std::string&) {}

void CDownloadStartRequest::MakeRequest(std::string* header, std::string* body, std::string* path) {
    *header = kContentType;
    *body =
        RequestXml("download-start-if", "dsif", {{"model-group-cd", request_->model_group_cd}}, kDownloadStartParams);
    *path = "/MDL";
}

void CDownloadStartRequest::OnText(const std::string& name, const std::string& text) {
    if (StoreResultField(response_, name, text)) return;
    if (name == "unified-map-ver-gen")
        response_->unified_map_ver_gen = text;
    else if (name == "unified-map-ver-major")
        response_->unified_map_ver_major = text;
    else if (name == "unified-map-ver-minor")
        response_->unified_map_ver_minor = text;
    else if (name == "product-name")
        response_->product_name = text;
    else if (name == "conf-file-url")
        response_->conf_file_url = text;
}

void CDownloadCompletionRequest::MakeRequest(std::string* header, std::string* body, std::string* path) {
    *header = kContentType;
    *body = RequestXml("download-completion-if", "dcif", {{"model-group-cd", request_->model_group_cd}}, kResultParams);
    *path = "/DLS";
}

void CDownloadCompletionRequest::OnText(const std::string& name, const std::string& text) {
    StoreResultField(response_, name, text);
}

void CTransferCompletionRequest::MakeRequest(std::string* header, std::string* body, std::string* path) {
    *header = kContentType;
    *body =
        RequestXml("transfer-completion-if", "tcif",
                   {{"model-group-cd", request_->model_group_cd}, {"maptrs_failure_cd", request_->maptrs_failure_cd}},
                   kResultParams);
    *path = "/TSC";
}

void CTransferCompletionRequest::OnText(const std::string& name, const std::string& text) {
    StoreResultField(response_, name, text);
}

int CExternalInterface::DownloadStartRequest(const DOWNLOAD_START_REQUEST* request, DOWNLOAD_START_RESPONSE* response) {
    return OPERATION("DownloadStartRequest", "", kHttpTransportError, [&] {
        CDownloadStartRequest handler(request, response);
        return ExecuteRequest(&handler);
    });
}

int CExternalInterface::DownloadCompletionRequest(const DOWNLOAD_COMPLETION_REQUEST* request,
                                                  DOWNLOAD_COMPLETION_RESPONSE* response) {
    return OPERATION("DownloadCompletionRequest", "", kHttpTransportError, [&] {
        CDownloadCompletionRequest handler(request, response);
        return ExecuteRequest(&handler);
    });
}

int CExternalInterface::TransferCompletionRequest(const TRANSFER_COMPLETION_REQUEST* request,
                                                  TRANSFER_COMPLETION_RESPONSE* response) {
    return OPERATION("TransferCompletionRequest", "", kHttpTransportError, [&] {
        CTransferCompletionRequest handler(request, response);
        int result = ExecuteRequest(&handler);
        if (result != 0 && result != kHttpProxyDeclined) response->result_detail_cd = "E07";
        return result;
    });
}

int ExecuteRequest(CExternalInterfaceBase* handler) {
    return OPERATION("ExecuteRequest", "", kHttpTransportError, [&] {
        std::string wsse = BuildWsseHeader();
        std::string header, body, path;
        handler->MakeRequest(&header, &body, &path);
        VLOG(LOG_TRACE, "実データ[%s]", body.c_str());
        std::string url = theApp.ServiceUrl + path;
        URLEncodeUTF8(&body);
        VLOG(LOG_TRACE, "URL[%s]", url.c_str());
        VLOG(LOG_TRACE, "HEADER[%s]", header.c_str());
        std::string reply;
        int result = CHttp::Post(url, header, body, &reply, wsse);
        if (result != 0) return result;
        URLDecode(&reply);
        // A reply that does not parse leaves the fields as far as they were filled; the
        // caller's judgement of them shows the service error.
        if (ParseResponseXml(handler, reply) != 0) VLOG(LOG_ERROR, "ParseResponseXmlエラー");
        return 0;
    });
}

std::string BuildWsseHeader() {
    platform::SYSTEMTIME now;
    platform::GetLocalTime(&now);
    // The local time, marked "Z" all the same: the service expects it so.
    std::string created =
        Format("%04d-%02d-%02dT%02d:%02d:%02dZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    std::string digestInput = std::string(kWsseNonce) + created + kWssePassword;
    VLOG(LOG_TRACE, "実データ[%s]", digestInput.c_str());
    std::string passwordDigest;
    Sha512Base64(digestInput, &passwordDigest);
    std::string nonce = Base64Encode(-1, reinterpret_cast<const unsigned char*>(kWsseNonce));
    std::string user = kWsseUser;
    for (std::string* value : {&user, &passwordDigest, &nonce, &created}) URLEncodeUTF8(value);
    std::string line =
        Format("X-WSSE: UsernameToken Username=\"%s\", PasswordDigest=\"%s\", Nonce=\"%s\", Created=\"%s\"",
               user.c_str(), passwordDigest.c_str(), nonce.c_str(), created.c_str());
    VLOG(LOG_TRACE, "実データ[%s]", line.c_str());
    return line;
}

int ParseResponseXml(CExternalInterfaceBase* handler, const std::string& text) {
    size_t section = text.find("<out-param-section>");
    platform::XmlReader reader(section == std::string::npos ? std::string_view(text)
                                                            : std::string_view(text).substr(section));
    std::string element;
    for (platform::XmlNode node; reader.Read(node);) {
        switch (node.type) {
        case platform::XmlNodeType::Element: element = node.value; break;
        // Text CP932 cannot hold arrives with "?" in its place: one such character must not
        // cost the rest of the reply.
        case platform::XmlNodeType::Text:
            handler->OnText(platform::Utf8ToCp932Replacing(element), platform::Utf8ToCp932Replacing(node.value));
            break;
        case platform::XmlNodeType::EndElement:
            handler->OnEndElement(platform::Utf8ToCp932Replacing(node.value));
            break;
        default: break;  // whitespace, CDATA, comments and processing instructions carry nothing for us
        }
    }
    return 0;
}

int ServiceResultToCode(const std::string& resultCd, const std::string& resultDetailCd, std::string* messageCode) {
    struct Row {
        const char* resultCd;
        const char* resultDetailCd;
        int result;
    };
    static const Row kServiceErrors[] = {
        {"E00", "E00", 100}, {"E00", "E02", 102}, {"E00", "E03", 103}, {"E00", "E04", 104}, {"E01", "E00", 110},
    };
    if (resultCd == "S00") return 0;
    for (const Row& row : kServiceErrors) {
        if (resultCd == row.resultCd && resultDetailCd == row.resultDetailCd) {
            *messageCode = "E06";
            return row.result;
        }
    }
    *messageCode = "E90";
    return kServiceRefused;
}
