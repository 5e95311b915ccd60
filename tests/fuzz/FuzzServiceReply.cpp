// A web-service reply as it arrives: percent-coded XML, cut anywhere, read by the handlers of
// the three calls and judged by the service result table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/ExternalInterface.h"
#include "net/UrlCoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reply(reinterpret_cast<const char*>(data), size);
    URLDecode(&reply);

    DOWNLOAD_START_REQUEST startRequest;
    DOWNLOAD_START_RESPONSE start;
    CDownloadStartRequest startHandler(&startRequest, &start);
    ParseResponseXml(&startHandler, reply);
    std::string messageCode;
    ServiceResultToCode(start.result_cd, start.result_detail_cd, &messageCode);

    DOWNLOAD_COMPLETION_REQUEST downloadRequest;
    DOWNLOAD_COMPLETION_RESPONSE download;
    CDownloadCompletionRequest downloadHandler(&downloadRequest, &download);
    ParseResponseXml(&downloadHandler, reply);

    TRANSFER_COMPLETION_REQUEST transferRequest;
    TRANSFER_COMPLETION_RESPONSE transfer;
    CTransferCompletionRequest transferHandler(&transferRequest, &transfer);
    ParseResponseXml(&transferHandler, reply);
    return 0;
}
