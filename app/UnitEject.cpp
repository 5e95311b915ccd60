// Ejecting the unit (the remove button, the end of a transfer): every wait of the sequence is a
// timer (kTimerEjectStep), so the window keeps answering through the 5 s reopen, the 2 s pause,
// the 5 s before the request and the requests a veto repeats. Each step is one call of the
// device layer, the same steps DriveClose and RemoveNaviUsb take with waits in place; the
// release (the volume mounted again) and each request may ask the user, and run beside the
// window.
#include "state/Results.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "device/NaviFunction.h"
#include "state/MessageCatalogue.h"
#include "state/VeltraneApp.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr uint32_t kRemovePauseMs = 2000;
}  // namespace

void CVeltraneDlg::StartEject(bool byButton) {
    if (eject_.step != EjectSequence::Step::None) return;  // one is under way
    // The unit's call running beside the window (the hold's lock try, the recovery's format)
    // keeps the unit: the eject follows it.
    if (unitCall_.InFlight()) {
        ejectAfterUnitCall_ = byButton ? EjectAfterUnitCall::ByButton : EjectAfterUnitCall::AfterTransfer;
        return;
    }
    // The eject takes the unit: a hold under way would lock it again.
    CancelHold();
    StopTimer(kTimerHoldUnit);
    eject_ = {};
    eject_.byButton = byButton;
    if (!byButton) return WaitForEjectStep(EjectSequence::Step::Pause, 0);
    eject_.step = EjectSequence::Step::Call;
    StartUnitCall(UnitCallFor::EjectRelease, [] {
        DriveRelease();
        return 0;
    });
}

void CVeltraneDlg::EjectReleased() {
    // As DriveClose: with no unit known there is nothing to wait for.
    if (theApp.Navi.NaviDrive.empty()) return WaitForEjectStep(EjectSequence::Step::Pause, kRemovePauseMs);
    ReopenForEject();
}

void CVeltraneDlg::ReopenForEject() {
    eject_.probe = DriveReopenTry();
    WaitForEjectStep(EjectSequence::Step::Reopen, kReopenWaitMs);
}

void CVeltraneDlg::WaitForEjectStep(EjectSequence::Step step, uint32_t milliseconds) {
    eject_.step = step;
    StartTimer(kTimerEjectStep, milliseconds);
}

void CVeltraneDlg::OnEjectStep() {
    StopTimer(kTimerEjectStep);
    switch (eject_.step) {
    case EjectSequence::Step::None:
    case EjectSequence::Step::Call: break;
    case EjectSequence::Step::Reopen: {
        const int reopened = DriveReopenEnd(eject_.reopenTries++, eject_.probe);
        eject_.probe = {};
        if (reopened == kReopenAgain) return ReopenForEject();
        if (reopened != 0) {
            VLOG(LOG_ERROR, "アンロックエラー");
            return EndEject("E00");
        }
        return WaitForEjectStep(EjectSequence::Step::Pause, kRemovePauseMs);
    }
    case EjectSequence::Step::Pause:
        if (FindUnitUsbDevice(&eject_.device) != 0) return EndEject("E01");
        return WaitForEjectStep(EjectSequence::Step::Request, kEjectWaitMs);
    case EjectSequence::Step::Request: {
        eject_.step = EjectSequence::Step::Call;
        const platform::DEVINST device = eject_.device;
        return StartUnitCall(UnitCallFor::EjectRequest, [device] { return RequestUnitEject(device) ? 1 : 0; });
    }
    }
}

void CVeltraneDlg::EjectRequested(bool ejected) {
    if (ejected) return EndEject(nullptr);
    if (++eject_.requests < kEjectRequests) return WaitForEjectStep(EjectSequence::Step::Request, kEjectRetryMs);
    EndEject("E01");
}

void CVeltraneDlg::EndEject(const char* failureCode) {
    const bool byButton = eject_.byButton;
    eject_ = {};
    // The device changes while it ran (the unit's going among them) were left to this look.
    Post(kNotifyDeviceChange);
    // After a transfer the notice tells the user to pull the cable, ejected or not.
    if (failureCode == nullptr || !byButton) return;
    if (std::string(failureCode) == "E01") VLOG(LOG_ERROR, "USB取り外しエラー");
    theApp.Messages.ShowErrorMessage(kRemovalFailed, failureCode, "");
}
