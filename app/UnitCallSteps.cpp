// The unit's call beside the window (timer 27): the lock try, the release and the requests of
// the eject, the recovery's format, a failed transfer's release. The window looks every 50 ms
// whether it has ended, hands its result to the sequence that started it, then answers what
// waited for it.
#include <utility>

#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"

namespace {
constexpr uint32_t kUnitCallLookMs = 50;
}  // namespace

void CVeltraneDlg::StartUnitCall(UnitCallFor what, const std::function<int()>& call) {
    unitCallFor_ = what;
    unitCall_.Start(call);
    StartTimer(kTimerUnitCall, kUnitCallLookMs);
}

void CVeltraneDlg::OnUnitCallStep() {
    StopTimer(kTimerUnitCall);
    if (!unitCall_.Ended()) return StartTimer(kTimerUnitCall, kUnitCallLookMs);
    const int result = unitCall_.Take();
    // What waited for the call: a device change is looked at anew; the window's end and an
    // eject take the unit over from the sequence, a transfer press is pressed again after it.
    if (std::exchange(deviceChangedDuringUnitCall_, false)) Post(kNotifyDeviceChange);
    const bool transferPressed = std::exchange(transferAfterUnitCall_, false);
    const EjectAfterUnitCall eject = std::exchange(ejectAfterUnitCall_, EjectAfterUnitCall::None);
    const bool takenOver = theApp.ExitRequested == 1 || eject != EjectAfterUnitCall::None;
    switch (unitCallFor_) {
    case UnitCallFor::HoldLock:
        if (takenOver)
            hold_ = {};
        else
            EndHoldLock(result);
        break;
    // An eject under way takes no other eject; only the window's end takes it over.
    case UnitCallFor::EjectRelease:
        if (takenOver)
            eject_ = {};
        else
            EjectReleased();
        break;
    case UnitCallFor::EjectRequest:
        if (takenOver)
            eject_ = {};
        else
            EjectRequested(result != 0);
        break;
    // The format's result counts whatever follows: the cut-off transfer's record goes with it.
    case UnitCallFor::Format: EndRecoveryFormat(result, !takenOver); break;
    // A failed transfer's release: discovery, after it, finds the unit again.
    case UnitCallFor::Release: break;
    }
    if (theApp.ExitRequested == 1) return CloseForExit();
    if (eject != EjectAfterUnitCall::None) return StartEject(eject == EjectAfterUnitCall::ByButton);
    // Held now, or still trying: the transfer starts, or refuses as during the lock's retries.
    if (transferPressed) OnTransferButton();
}
