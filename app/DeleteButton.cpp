// The delete button: the checked download goes to the deletion job, unless another record
// shares its folder.
#include "state/Results.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/Operation.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

void CVeltraneDlg::OnDeleteButton() {
    OPERATION("OnDeleteButton", "", 0, [&] {
        ButtonEnable(ButtonMode::DeletionStarting);
        // The buttons come back when the running job ends.
        if (AnyJobRuns()) return 0;
        DeleteRow = 0;
        MapDelete.RemoveAll();
        bool checked = false;
        for (int row = 0; row < static_cast<int>(PcMapData.size()); ++row) {
            if (!view_.IsRowChecked(ids::kPcArea, row)) continue;
            checked = true;
            const PC_MAP_DATA& record = PcMapData[row];
            MapDelete.AddDeleteData(record.version, record.folder, record.name);
            int sharing = 0;
            for (const PC_MAP_DATA& other : PcMapData)
                if (other.version == record.version) ++sharing;
            if (MapDelete.MapDataDelete(sharing == 1 ? 1 : 0) == 0) DeleteRow = row;
        }
        if (!checked) theApp.Messages.ShowErrorMessage(kNothingChecked, "", "");
        ShowButtonsAfterDeletion();
        return 0;
    });
}

// A deleted record may have been the offer's download: the download button and the offer's row
// follow what is left.
void CVeltraneDlg::ShowButtonsAfterDeletion() {
    ButtonEnable(ButtonMode::Idle);
    DownloadState state = CheckDownloadState();
    if (state != DownloadState::Unfinished) {
        SetDownloadFace(DownloadFace::Start);
        if (!theApp.OfferName.empty())
            SetServerAreaData(kColumnStatus,
                              state == DownloadState::Downloaded ? kStatusDownloaded : kStatusDownloadable);
    }
    RedrawButtonIcons();
}
