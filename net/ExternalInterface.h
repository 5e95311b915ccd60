// The program's client of the map-update web service: three XML calls posted to the service
// URL with a WSSE header line, and the XML reading shared with the download description.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MAP_DATA;
struct DOWNLOAD_JOB;

struct DOWNLOAD_START_REQUEST {
    std::string model_group_cd;
};

struct DOWNLOAD_START_RESPONSE {
    std::string result_status;
    std::string result_cd;
    std::string result_detail_cd;
    std::string result_msg;
    std::string unified_map_ver_gen;
    std::string unified_map_ver_major;
    std::string unified_map_ver_minor;
    std::string product_name;
    std::string conf_file_url;
};

struct DOWNLOAD_COMPLETION_REQUEST {
    std::string model_group_cd;
};

struct DOWNLOAD_COMPLETION_RESPONSE {
    std::string result_status;
    std::string result_cd;
    std::string result_detail_cd;
    std::string result_msg;
};

struct TRANSFER_COMPLETION_REQUEST {
    std::string model_group_cd;
    std::string maptrs_failure_cd;
};

struct TRANSFER_COMPLETION_RESPONSE {
    std::string result_status;
    std::string result_cd;
    std::string result_detail_cd;
    std::string result_msg;
};

// A request and the reading of its reply. Names and text reach the handler in CP932.
class CExternalInterfaceBase {
public:
    virtual ~CExternalInterfaceBase() = default;
    virtual void MakeRequest(std::string* header, std::string* body, std::string* path) = 0;
    virtual void OnEndElement(const std::string& name);
    virtual void OnText(const std::string& name, const std::string& text) = 0;
};

class CDownloadStartRequest : public CExternalInterfaceBase {
public:
    CDownloadStartRequest(const DOWNLOAD_START_REQUEST* request, DOWNLOAD_START_RESPONSE* response)
        : request_(request), response_(response) {}
    void MakeRequest(std::string* header, std::string* body, std::string* path) override;
    void OnText(const std::string& name, const std::string& text) override;

private:
    const DOWNLOAD_START_REQUEST* request_;
    DOWNLOAD_START_RESPONSE* response_;
};

class CDownloadCompletionRequest : public CExternalInterfaceBase {
public:
    CDownloadCompletionRequest(const DOWNLOAD_COMPLETION_REQUEST* request, DOWNLOAD_COMPLETION_RESPONSE* response)
        : request_(request), response_(response) {}
    void MakeRequest(std::string* header, std::string* body, std::string* path) override;
    void OnText(const std::string& name, const std::string& text) override;

private:
    const DOWNLOAD_COMPLETION_REQUEST* request_;
    DOWNLOAD_COMPLETION_RESPONSE* response_;
};

class CTransferCompletionRequest : public CExternalInterfaceBase {
public:
    CTransferCompletionRequest(const TRANSFER_COMPLETION_REQUEST* request, TRANSFER_COMPLETION_RESPONSE* response)
        : request_(request), response_(response) {}
    void MakeRequest(std::string* header, std::string* body, std::string* path) override;
    void OnText(const std::string& name, const std::string& text) override;

private:
    const TRANSFER_COMPLETION_REQUEST* request_;
    TRANSFER_COMPLETION_RESPONSE* response_;
};

class CExternalInterface {
public:
    // 0 when a reply came back (whatever it says), else the transport result.
    int DownloadStartRequest(const DOWNLOAD_START_REQUEST* request, DOWNLOAD_START_RESPONSE* response);
    int DownloadCompletionRequest(const DOWNLOAD_COMPLETION_REQUEST* request, DOWNLOAD_COMPLETION_RESPONSE* response);
    int TransferCompletionRequest(const TRANSFER_COMPLETION_REQUEST* request, TRANSFER_COMPLETION_RESPONSE* response);
    // Fetches and reads the download description of job->start, saves it when `save` is 1 and
    // finds where an earlier download stopped: 0, a transport or parse result, 401 (not
    // saved) or 901 (unusable version name).
    int GetDownloadConfing(DOWNLOAD_JOB* job, int32_t save);

private:
    int GetMapDownloadConfing(const std::string& url, std::vector<MAP_DATA>* entries, int32_t save,
                              const std::string& downloadFolder);
};

int ExecuteRequest(CExternalInterfaceBase* handler);
std::string BuildWsseHeader();
// Hands the nodes of `text` (UTF-8, from its out-param-section on) to the handler, converted
// to CP932 with "?" for what CP932 cannot hold: 0.
int ParseResponseXml(CExternalInterfaceBase* handler, const std::string& text);
// The program's judgement of a reply: 0 for success, else the message kind, with the
// message code it shows.
int ServiceResultToCode(const std::string& resultCd, const std::string& resultDetailCd, std::string* messageCode);
