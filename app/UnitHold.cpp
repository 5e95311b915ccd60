// Holding a found unit (timer 21): its volume is opened and locked, retried while another
// program uses it, until the competing-use box. Every wait of the sequence (between lock
// tries, while the volume is reopened, between tries) is a timer, so the window keeps
// answering while Explorer or a virus scanner holds the unit for a while after it is plugged.
// The held unit is let go when the user removes it through the system, unless a transfer runs.
#include "state/Results.h"
#include "state/MessageCatalogue.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kMain = ids::kMainWindow;
constexpr int kOpenTries = 10;
constexpr uint32_t kRetryPause = 5000;
enum LockOutcome : int { kLocked, kNotLocked, kLockAuthorisationRefused };
}  // namespace

bool CVeltraneDlg::TransferOwnsUnit() const {
    return theApp.Navi.TransferRunning != 0 || !theApp.TransferThreadHandle.IsNull();
}

void CVeltraneDlg::HoldUnit() {
    // A try is under way, or another call of the unit (the recovery's format): the next tick.
    if (hold_.mode != HoldSequence::Mode::None || unitCall_.InFlight()) return;
    // The transfer holds the unit itself: a hold now would lock the volume between its copies.
    // An eject under way lets the unit go.
    if (TransferOwnsUnit() || eject_.step != EjectSequence::Step::None) {
        StopTimer(kTimerHoldUnit);
        return;
    }
    // A unit that discovery no longer finds is not held, nor retried; nor one the system has
    // refused to let this user hold.
    if (theApp.Navi.NaviDrive.empty() || holdRefused_) {
        StopTimer(kTimerHoldUnit);
        return;
    }
    // Started again for the next try, after the pause, when this one fails.
    StopTimer(kTimerHoldUnit);
    if (theApp.Navi.CompetingCount > kOpenTries) {
        CompetingUse(false);
        return;
    }
    VLOG(LOG_TRACE, "デバイスロック起動");
    view_.SetControlText(kMain, ids::kConnectionText, "接続済み");
    // The unit of a cut-off transfer: the user hears that the transfer button finishes it.
    SetStatusText(theApp.Navi.ResumePending == 1 ? StatusText::TransferCutOff : StatusText::UnitHeld);
    hold_ = {};
    hold_.mode = theApp.Navi.CompetingProcess == 1 ? HoldSequence::Mode::Competing : HoldSequence::Mode::Tick;
    BeginHoldTry();
}

// One try: DriveOpen's steps, each wait on the step timer.
void CVeltraneDlg::BeginHoldTry() {
    const int started = DriveOpenStart(&theApp.Navi.ImagePosition);
    if (started == kDriveAlreadyOpen) return EndHoldTry(0);
    if (started != 0) return EndHoldTry(started);
    hold_.lockTries = 0;
    TryHoldLock();
}

// The lock opens the volume, and for a desktop user on Linux udisks2 may first ask for an
// administrator's authorisation and wait for the answer: the try runs beside the window.
void CVeltraneDlg::TryHoldLock() {
    const int attempt = hold_.lockTries;
    hold_.step = HoldSequence::Step::LockAnswer;
    StartUnitCall(UnitCallFor::HoldLock, [attempt] {
        if (DriveLockTry(attempt)) return kLocked;
        return DriveLockRefusedAuthorisation() ? kLockAuthorisationRefused : kNotLocked;
    });
}

void CVeltraneDlg::EndHoldLock(int outcome) {
    if (outcome == kLocked) {
        if (DriveDismount() == 0) return EndHoldTry(0);
    } else if (outcome == kLockAuthorisationRefused) {
        DriveRelease();
        return EndHoldTry(kAuthorisationRefused);
    } else if (++hold_.lockTries < kLockAttempts) {
        return WaitForHoldStep(HoldSequence::Step::Lock, kLockPauseMs);
    } else {
        VLOG(LOG_ERROR, "デバイスロック失敗");
    }
    // Let go, then wait until the volume can be opened again, as DriveClose does.
    DriveRelease();
    if (theApp.Navi.NaviDrive.empty()) return EndHoldTry(kVolumeLockFailed);
    hold_.reopenTries = 0;
    ReopenForHold();
}

void CVeltraneDlg::ReopenForHold() {
    hold_.probe = DriveReopenTry();
    WaitForHoldStep(HoldSequence::Step::Reopen, kReopenWaitMs);
}

void CVeltraneDlg::WaitForHoldStep(HoldSequence::Step step, uint32_t milliseconds) {
    hold_.step = step;
    StartTimer(kTimerHoldStep, milliseconds);
}

void CVeltraneDlg::OnHoldStep() {
    StopTimer(kTimerHoldStep);
    if (TransferOwnsUnit()) return CancelHold();  // a hold never runs beside a transfer
    switch (hold_.step) {
    case HoldSequence::Step::Lock: TryHoldLock(); break;
    case HoldSequence::Step::LockAnswer: break;
    case HoldSequence::Step::Reopen: {
        const int reopened = DriveReopenEnd(hold_.reopenTries++, hold_.probe);
        hold_.probe = {};
        if (reopened == kReopenAgain)
            ReopenForHold();
        else
            EndHoldTry(kVolumeLockFailed);  // the lock failed, whether or not the volume came back
        break;
    }
    case HoldSequence::Step::Pause:
        if (!DriveStillThere()) {
            hold_ = {};
        } else if (hold_.competingTries >= kOpenTries) {
            hold_ = {};
            CompetingUse(true);
        } else {
            BeginHoldTry();
        }
        break;
    }
}

void CVeltraneDlg::EndHoldTry(int result) {
    const HoldSequence::Mode mode = hold_.mode;
    if (result == kAuthorisationRefused) {
        // Not another program: every try would ask the user again. The next plug-in tries anew.
        hold_ = {};
        holdRefused_ = true;
        StopTimer(kTimerHoldUnit);
        theApp.Messages.ShowErrorMessage(kAuthorisationRefused, "E04", "");
        return;
    }
    if (mode == HoldSequence::Mode::Competing && result != 0) {
        // Ten tries while the competing program runs, each after the pause.
        ++hold_.competingTries;
        return WaitForHoldStep(HoldSequence::Step::Pause, kRetryPause);
    }
    hold_ = {};
    if (mode == HoldSequence::Mode::AfterBox) {
        if (result == 0)
            UnitHeld();
        else
            theApp.Messages.ShowErrorMessage(kCompetingProcess, "E02", "");
        return;
    }
    ++theApp.Navi.CompetingCount;
    if (result == 0) {
        UnitHeld();
    } else {
        StartTimer(kTimerHoldUnit, kRetryPause);
    }
}

void CVeltraneDlg::CancelHold() {
    StopTimer(kTimerHoldStep);
    DriveReopenAbandon(&hold_.probe);
    hold_ = {};
}

void CVeltraneDlg::UnitHeld() {
    StopTimer(kTimerHoldUnit);
    NaviConnected = true;
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
    hold_ = {};
    hold_.mode = HoldSequence::Mode::AfterBox;
    BeginHoldTry();
}

// As Microsoft's "Processing a Request to Remove a Device" asks: the handle is closed on the
// query and its registration kept, so that a refusal by another program is heard and the unit
// held again; the registration ends once the removal failed or went through.
bool CVeltraneDlg::OnQueryRemoveVolume(platform::HANDLE volume) {
    // A registration that outlived its handle: nothing of ours holds the unit any more. (A lock
    // try under way has not registered its handle yet; a release under way lets it go.)
    if (volume != theApp.Navi.DriveHandle.load() || unitCall_.InFlight()) return true;
    // Only a transfer writes to the unit; a download or a deletion works on the PC's folders.
    if (TransferOwnsUnit()) {
        VLOG(LOG_ERROR, "転送中のため取り外し拒否");
        return false;
    }
    VLOG(LOG_TRACE, "取り外し要求によるドライブ解放");
    // As when the cable is pulled: the drive is forgotten first, so nothing waits for it.
    CancelHold();
    theApp.Navi.NaviDrive.clear();
    DriveReleaseForRemoval();
    ShowNoUnit();
    return true;
}

void CVeltraneDlg::OnVolumeRemoveFailed(platform::HANDLE volume) {
    DriveEndRemovalWatch(volume);
    VLOG(LOG_ERROR, "取り外し拒否によるドライブ再確保");
    // The unit stays: found again, it is held again as after its arrival (code 15).
    if (NaviConnectCheck() != 0) ShowNoUnit();
}

void CVeltraneDlg::OnVolumeRemoved(platform::HANDLE volume) { DriveEndRemovalWatch(volume); }
