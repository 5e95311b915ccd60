// The offer of the service, asked for once after the window has opened: the server area shows
// it and the downloads of an earlier run can be transferred without pressing download first.
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/Operation.h"
#include "net/ExternalInterface.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

bool CVeltraneDlg::RequestOffer() {
    bool offered = OPERATION("RequestOffer", "", false, [&] {
        DOWNLOAD_START_REQUEST request{theApp.ProductNumber};
        DOWNLOAD_START_RESPONSE response;
        int result = CExternalInterface().DownloadStartRequest(&request, &response);
        std::string messageCode;
        // No box: the download button asks again and reports what goes wrong then.
        if (result != 0 || ServiceResultToCode(response.result_cd, response.result_detail_cd, &messageCode) != 0 ||
            response.product_name.empty()) {
            VLOG(LOG_INFO, "提供データ取得不可[%d]", result);
            return false;
        }
        theApp.OfferName = response.product_name;
        DownloadJob.start = response;
        SetServerAreaData(1, theApp.OfferName);
        int state = CheckDownloadState();
        SetServerAreaData(2, state == 2 ? kStatusDownloaded : kStatusDownloadable);
        SetDownloadFace(state == 1 ? 2 : 1);
        ScrollPcListToCurrent();
        return true;
    }, OnException::LogOnly);
    // The buttons follow the offer (or the records, when none came).
    ButtonEnable(0);
    return offered;
}
