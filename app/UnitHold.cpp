// Holding a found unit (timer 21): its volume is opened and locked, retried while another
// program uses it, until the competing-use box.
#include "app/ResultCodes.h"
#include "state/MessageCatalogue.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "platform/Clock.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kMain = ids::kMainWindow;
constexpr int kOpenTries = 10;
constexpr uint32_t kRetryPause = 5000;

bool UnitStillThere() {
    std::string root;
    return GetDrive(&root) == 0;
}
}  // namespace

void CVeltraneDlg::HoldUnit() {
    // A unit that discovery no longer finds is not held, nor retried.
    if (theApp.Navi.NaviDrive.empty()) {
        StopTimer(kTimerHoldUnit);
        return;
    }
    VLOG(LOG_TRACE, "デバイスロック起動");
    view_.SetControlText(kMain, ids::kConnectionText, "接続済み");
    SetStatusText(1000);

    if (theApp.Navi.CompetingProcess == 1) {
        StopTimer(kTimerHoldUnit);
        bool opened = false;
        for (int attempt = 0; attempt < kOpenTries && !opened; ++attempt) {
            opened = DriveOpen(&theApp.Navi.ImagePosition) == 0;
            if (opened) break;
            platform::Sleep(kRetryPause);
            if (!UnitStillThere()) return;
        }
        if (!opened) {
            CompetingUse(true);
            return;
        }
    }

    bool held = DriveOpen(&theApp.Navi.ImagePosition) == 0;
    if (held) {
        StopTimer(kTimerHoldUnit);
        UnitHeld();
    } else {
        platform::Sleep(kRetryPause);
    }
    if (++theApp.Navi.CompetingCount > kOpenTries && !held) {
        StopTimer(kTimerHoldUnit);
        CompetingUse(false);
    }
}

void CVeltraneDlg::UnitHeld() {
    NaviConnected = 1;
    if (theApp.TransferThreadHandle.IsNull()) view_.EnableControl(kMain, ids::kRemoveButton, true);
}

void CVeltraneDlg::CompetingUse(bool processCheck) {
    if (theApp.Messages.ShowConfirmMessage(kConfirmCompetingProcess) != platform::IDOK) return;
    if (processCheck) {
        // A process list that cannot be taken finds no competitor: the lock below still decides.
        (void)CheckCompetingProcess();
        if (theApp.Navi.CompetingProcess == 1) {
            theApp.Messages.ShowErrorMessage(kCompetingProcess, "E02", "");
            return;
        }
    }
    if (DriveOpen(&theApp.Navi.ImagePosition) == 0)
        UnitHeld();
    else
        theApp.Messages.ShowErrorMessage(kCompetingProcess, "E02", "");
}
