// The offer of the service, asked for once after the window has opened: the server area shows
// it and the downloads of an earlier run can be transferred without pressing download first.
// The call runs beside the window, so that a slow or silent service never holds the window
// up; its reply comes back as a notification.
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/Operation.h"
#include "net/ExternalInterface.h"
#include "net/Http.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

void CVeltraneDlg::RequestOffer() {
    offerPending_ = true;
    offerReply_ = {};
    bool started = offerThread_.Start([this] {
        offerResult_ = OPERATION("RequestOffer", "", kHttpTransportError, OnException::LogOnly, [&] {
            DOWNLOAD_START_REQUEST request{theApp.ProductNumber};
            return CExternalInterface().DownloadStartRequest(&request, &offerReply_);
        });
        view_.PostNotify(ids::kMainWindow, kNotifyOfferArrived, 0);
    });
    if (!started) {
        offerPending_ = false;
        ButtonEnable(ButtonMode::Idle);
    }
}

bool CVeltraneDlg::OnOfferArrived() {
    offerThread_.JoinAndClose();
    // The download button asked the service itself meanwhile: its answer stands.
    if (!offerPending_) return false;
    offerPending_ = false;
    bool offered = OPERATION("OnOfferArrived", "", false, OnException::LogOnly, [&] {
        std::string messageCode;
        // No box: the download button asks again and reports what goes wrong then.
        if (offerResult_ != 0 ||
            ServiceResultToCode(offerReply_.result_cd, offerReply_.result_detail_cd, &messageCode) != 0 ||
            offerReply_.product_name.empty()) {
            VLOG(LOG_INFO, "提供データ取得不可[%d]", offerResult_);
            return false;
        }
        theApp.OfferName = offerReply_.product_name;
        DownloadJob.start = offerReply_;
        SetServerAreaData(kColumnName, theApp.OfferName);
        DownloadState state = CheckDownloadState();
        SetServerAreaData(kColumnStatus, state == DownloadState::Downloaded ? kStatusDownloaded : kStatusDownloadable);
        SetDownloadFace(state == DownloadState::Unfinished ? DownloadFace::Resume : DownloadFace::Start);
        ScrollPcListToCurrent();
        return true;
    });
    // The buttons follow the offer (or the records, when none came).
    ButtonEnable(ButtonMode::Idle);
    return offered;
}

void CVeltraneDlg::StopServiceCalls() {
    // A call still waiting is abandoned at once, so the window closes without waiting for it.
    if (!offerThread_.IsNull() || !theApp.LineTestThreadHandle.IsNull()) theApp.Internet.AbandonTransfers();
    offerThread_.JoinAndClose();
    theApp.LineTestThreadHandle.JoinAndClose();
}
