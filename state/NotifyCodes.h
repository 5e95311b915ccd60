// The codes of WM_MAIN_NOTIFY, the one message the jobs, the device watcher, the keys and the
// unit's discovery post to a window; lParam carries a result for the two failures and 0
// otherwise. The numbers are the message's own and stay.
#pragma once

#include <cstdint>

enum Notify : uintptr_t {
    // A device change (the watcher), the window's start, a failed transfer's end, the
    // connection dialog: the unit is looked for again.
    kNotifyDeviceChange = 1,
    kNotifyDeleteDone = 3,
    kNotifyDeleteFailed = 4,
    kNotifyTransferDone = 5,
    kNotifyTransferFailed = 6,
    kNotifyDownloadDone = 7,
    kNotifyDownloadFailed = 8,
    kNotifyKeyF3 = 10,
    kNotifyKeyF5 = 11,
    kNotifyKeyF12 = 12,
    // The download stopped on request (pause or exit).
    kNotifyDownloadStopped = 13,
    // Discovery found and read a unit: the window holds it.
    kNotifyUnitFound = 15,
    kNotifyKeyF1 = 16,
    // The offer call beside the window has ended.
    kNotifyOfferArrived = 40,
    // The line test beside the window has ended.
    kNotifyLineTested = 41,
};
