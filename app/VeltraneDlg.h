// The main window: the offered map update, the downloads on this PC and the connected unit,
// and the workflow that joins them. The long work runs on the three jobs; the window starts
// them, follows their progress on timers and hears of their end through WM_MAIN_NOTIFY.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/UnitCall.h"
#include "base/ThreadHandle.h"
#include "device/MountVolume.h"
#include "device/NaviDriveImage.h"
#include "platform/Devices.h"
#include "jobs/MapDelete.h"
#include "jobs/TransferJob.h"
#include "net/DownloadJob.h"
#include "platform/View.h"
#include "state/NotifyCodes.h"

class CDialogDeviceWatch;

// One downloaded map update: a row of the PC area and a section of History.ini.
struct PC_MAP_DATA {
    std::string name;
    std::string status;
    std::string version;
    std::string folder;
    float size = 0;
};

// The window's timers, by id.
enum Timer : uint32_t {
    kTimerTransferTime = 1,
    kTimerTransferProgress = 2,
    kTimerTransferBusy = 3,
    kTimerTransferDone = 4,
    kTimerTransferFailed = 5,
    kTimerDownloadTime = 10,
    kTimerDownloadProgress = 11,
    kTimerDownloadBusy = 13,
    kTimerDownloadEnded = 14,
    kTimerDownloadPaused = 15,
    kTimerDownloadStartFailed = 16,
    kTimerDeletionEnded = 20,
    kTimerHoldUnit = 21,
    kTimerRepaint = 22,
    kTimerOffer = 23,
    // The waits inside the unit's hold sequence (between lock tries, while reopening).
    kTimerHoldStep = 24,
    // The waits of the unit's eject (the reopen after the release, before each request).
    kTimerEjectStep = 25,
    // The letter recovery's wait while a trial letter is given.
    kTimerRecoveryStep = 26,
    // The look whether the unit's call beside the window (unitCall_) has ended.
    kTimerUnitCall = 27,
};

// What ButtonEnable turns on and off, by the moment it is called in; logged by number, and any
// number above 8 is Idle.
enum class ButtonMode : int {
    Idle = 0,  // by the records, the offer and the unit
    JobButtonsOff = 1,
    DownloadStarting = 2,
    TransferStarting = 3,
    DeletionStarting = 4,
    DeleteOff = 5,
    DownloadOff = 6,
    DownloadPausing = 7,
    PauseRefused = 8,  // the download goes on: only its button is on
};

// The texts of the status line; Empty and JobEnded both clear it.
enum class StatusText : int {
    Empty = 0,
    UnitHeld = 1000,
    TransferStarted = 1001,
    TransferDone = 1002,
    TransferCutOff = 1003,
    UnitUpToDate = 1004,
    UnplugCable = 1005,  // unless a completion text stands
    Downloading = 1100,
    DownloadDone = 1101,
    DownloadPaused = 1102,
    DownloadStarting = 1103,
    DownloadPausing = 1104,
    DeletionDone = 1301,
    UnitRecognised = 1302,
    JobEnded = 1500,
    RecoveryDone = 1502,
};

// The download button's face: what a press does.
enum class DownloadFace : int32_t { Start = 1, Resume = 2, Pause = 3 };

// The offer against the records on this PC.
enum class DownloadState : int { NotDownloaded = 0, Unfinished = 1, Downloaded = 2 };

// The columns of the three list areas: column 0 (the check box) inserts the row.
enum AreaColumn : int { kColumnRow = 0, kColumnName = 1, kColumnStatus = 2, kColumnSize = 3 };

// Status texts of the list areas (CP932, defined with the window).
extern const char kStatusDownloaded[];
extern const char kStatusDownloadable[];

// The manual: a document on the map-update web service.
inline constexpr char kManualUrl[] = "https://updates.veltrane.jp/manual/Veltrane.pdf";

// Sizes in GB are bytes × 2^-30.
inline constexpr double kBytesToGigabytes = 9.313225746154785e-10;

// "%5.1fGB" without its blanks.
std::string SizeText(double gigabytes);
// "<prefix>%d分" or "<prefix>%d時間%d分" of a remaining time, hours capped at 60.
std::string RemainingTimeText(const char* prefix, int32_t minutes);
// Minutes left of a download from the job's last measured rate; 0 when nothing was measured.
int32_t RemainingDownloadMinutes(const DOWNLOAD_JOB& job);

class CVeltraneDlg : public platform::ViewHandler {
public:
    CVeltraneDlg();
    ~CVeltraneDlg() override;

    // ViewHandler.
    void OnInitDialog() override;
    void OnNotify(uintptr_t wParam, intptr_t lParam) override;
    void OnTimer(uint32_t id) override;
    void OnCommand(uint32_t id) override;
    void OnListItemChanged(const platform::ListItemChange& change) override;
    void OnInitMenu() override;
    void OnKeyDown(uint32_t virtualKey) override;
    // The user's "safely remove" of the held unit: allowed, the unit let go at once, unless a
    // transfer is writing to it. Refused by another program, the unit is held again; gone, its
    // watch ends.
    bool OnQueryRemoveVolume(platform::HANDLE volume) override;
    void OnVolumeRemoveFailed(platform::HANDLE volume) override;
    void OnVolumeRemoved(platform::HANDLE volume) override;
    bool OnQueryEndSession() override;
    void OnEndSession() override;
    bool OnQueryCancelAutoPlay() override;
    bool OnCloseRequest() override;

    // Operations the handlers share.
    void ButtonEnable(ButtonMode mode);
    void SetStatusText(StatusText code);
    DownloadState CheckDownloadState();
    bool HasCompletedData();
    void RedrawButtonIcons();
    void ShowButtonsAfterDeletion();

    // List areas and history.
    int ServerListAreaInit();
    int SetServerAreaData(int column, const std::string& text);
    int PcListAreaInit();
    int SetPcAreaData();
    int AddPcListData();
    int SetPcAreaItem(int column, int row, const std::string& text);
    int NaviListAreaInit();
    int SetNaviAreaData(int column, const std::string& text);
    int ScrollPcListToCurrent();
    int GetHistoryData();
    int SetHistoryData();
    void PcListCheckChanged(const platform::ListItemChange& change);

    // The offer of the service, asked for once the window is shown, beside the window.
    void RequestOffer();
    // Its reply: true when an offer came and the window now shows it.
    bool OnOfferArrived();
    // The offer's three version parts joined.
    std::string OfferVersion() const;

    // Window state.
    bool NaviConnected = false;
    bool Downloading = false;
    DownloadFace DownloadButtonMode = DownloadFace::Start;
    bool DownloadFailed = false;
    bool CloseEnabled = true;
    int32_t SelectedRow = -1;
    int32_t AnimationFrame = 1;
    int32_t DeleteRow = 0;
    std::vector<PC_MAP_DATA> PcMapData;
    std::string CurrentDataName;
    PC_MAP_DATA CurrentData;      // the data chosen for the current or last transfer
    PC_MAP_DATA CurrentDownload;  // the unfinished download CheckDownloadState found
    // The record the running or last download writes its progress to; -1 for none.
    int32_t DownloadRecord = -1;
    int32_t CheckedRow = -1;

    DOWNLOAD_JOB DownloadJob;  // its start reply is the offer
    TransferJob Transfer;
    CMapDelete MapDelete;

private:
    void Initialise();
    // List areas: one PC row from its record (its row inserted first), and the size column's
    // width for the number of records.
    int FillPcRow(int row);
    void FitPcSizeColumn();
    // Progress outside the window: the taskbar button while a job runs, and a flash and a
    // desktop notice when a long one ends unseen. Every job's start and end in the kept log.
    void OnJobStarted(const char* job, const std::string& name);
    void ShowJobProgress(int percent);
    void OnJobEnd(uintptr_t code, intptr_t kind);
    // Notifications.
    void OnDeviceChanged();
    void OnDeletionDone();
    void OnTransferDone();
    void OnTransferFailed(int result);
    void OnDownloadDone();
    void OnDownloadFailed(int kind);
    void OnDownloadPaused();
    // Writes status and size into the download's record, and into every other record of the
    // offer's version, on screen too.
    void SetDownloadRecords(const std::string& status, double bytes);
    void SetDownloadFace(DownloadFace face);
    // Timers.
    void ShowTransferTime();
    void ShowTransferProgress();
    void ShowDownloadTime();
    void ShowDownloadProgress();
    void TurnBusyIcon(int iconControl);
    void HoldUnit();
    void UnitHeld();
    // The competing-use box; `processCheck` when the program was seen running.
    void CompetingUse(bool processCheck);
    // The hold sequence's steps, with timers for its waits.
    struct HoldSequence {
        // Tick: one try per tick of timer 21; Competing: ten tries while a competing program
        // runs; AfterBox: the one try after the user answered the competing-use box.
        enum class Mode { None, Tick, Competing, AfterBox } mode = Mode::None;
        // LockAnswer: the lock try runs beside the window (unitCall_).
        enum class Step { Lock, LockAnswer, Reopen, Pause } step = Step::Lock;
        int lockTries = 0;
        int reopenTries = 0;
        int competingTries = 0;
        ReopenProbe probe;  // the reopen's own handle, never DriveHandle
    };
    void BeginHoldTry();
    void TryHoldLock();
    void EndHoldLock(int outcome);
    void ReopenForHold();
    void WaitForHoldStep(HoldSequence::Step step, uint32_t milliseconds);
    void OnHoldStep();
    void EndHoldTry(int result);
    // Drops a hold sequence under way, its probe closed (the unit is gone, or a transfer takes
    // it; the caller lets its handle go).
    void CancelHold();
    // A transfer owns the unit from the transfer button until the window has handled its end.
    bool TransferOwnsUnit() const;
    // The unit's eject in steps, with timers for its waits: after the remove button the volume
    // is let go, reopened to see it back and left 2 s; after a transfer the eject starts at once.
    // Then the wait before the request, and the requests a veto repeats.
    struct EjectSequence {
        // Call: the release or a request runs beside the window (unitCall_).
        enum class Step { None, Call, Reopen, Pause, Request } step = Step::None;
        bool byButton = false;  // the remove button's failures are shown
        int reopenTries = 0;
        ReopenProbe probe;
        platform::DEVINST device = 0;
        int requests = 0;
    };
    void StartEject(bool byButton);
    // The remove button's release has ended (the volume mounted again): the reopen follows.
    void EjectReleased();
    void EjectRequested(bool ejected);
    void ReopenForEject();
    void WaitForEjectStep(EjectSequence::Step step, uint32_t milliseconds);
    void OnEjectStep();
    // The sequence's end; a failure of the remove button's is shown with its message code.
    void EndEject(const char* failureCode);
    // The recovery's format: the volume let go for it beside the window, then held again
    // through the hold's timer steps, never in place (unless the window's end or an eject
    // took over meanwhile).
    void StartRecoveryFormat();
    void EndRecoveryFormat(int formatted, bool holdAgain);
    // The calls of the device layer that may wait on the user (on Linux a desktop user's
    // authorisation prompt) run beside the window, one at a time; the window looks on timer 27
    // whether it has ended and hands its result to the sequence that started it.
    enum class UnitCallFor { HoldLock, EjectRelease, EjectRequest, Format, Release };
    void StartUnitCall(UnitCallFor what, const std::function<int()>& call);
    void OnUnitCallStep();
    // No unit is left to hold: the window says so and stops trying.
    void ShowNoUnit();
    void ShowFreeSpace();
    void StartTimer(uint32_t id, uint32_t milliseconds);
    void StopTimer(uint32_t id);
    void Post(uintptr_t code);
    // Commands.
    void OnDownloadButton();
    void PauseDownload();
    void StartDownload();
    // The download start request, up to three times, and the service's judgement.
    bool AskForOffer();
    // The description and the resume point.
    bool PrepareDownloadJob();
    // The line test runs beside the window, so that a trickling service never holds it up;
    // the start goes on when it has ended.
    void OnLineTested();
    void ContinueDownloadStart();
    // A start that went no further: the buttons back, and the window closed if exit waits.
    void AbandonDownloadStart(bool busyShown);
    void RefuseForSpace(double neededGigabytes);
    void RefuseForSet(double neededGigabytes, double freeGigabytes);
    int32_t UnfinishedOfferRecord() const;
    void OnTransferButton();
    // False when a check refused the transfer (its message shown).
    bool StartTransfer();
    // The transfer's data: the checked record's, or the cut-off transfer's from its record.
    bool ChooseCheckedData();
    bool ChooseRecordedData(const TRANSFER_RECORD& record);
    // A transfer cannot be stopped halfway: while it runs, the window's close button is off
    // and the session's end is refused with a reason the user can read.
    void HoldWindowForTransfer(bool hold);
    void OnDeleteButton();
    // A job ended while exit was requested: the window closes once no job runs any more.
    void CloseForExit();
    // The download reported its end while exit was requested: joined, then CloseForExit.
    void ExitAfterDownload();
    void OnCancel();
    int AppExitUpdate();
    void OnRemoveButton();
    void OnFolderSelection();
    void OnRecognise();
    // The letter recovery's next step once a step has ended: a trial letter waits on timer 26,
    // any other result ends it and is shown.
    void ContinueRecognise(int result);
    // A recovery whose trial letter waits ends: the letter taken back, nothing shown.
    void AbandonRecognise();
    // Closing: the held volume let go without the reopen wait, a trial letter taken back.
    void LetGoForClose();
    void OnRecovery();
    // Writes the support report and shows where it lies.
    void OnSupportReport();
    bool AnyJobRuns();
    // Whether the unit is in the middle of an update: a transfer runs, or one left the unit
    // half written (its image unfinished).
    bool UnitTransferRunningOrPending();
    // False when the PC runs on a low battery and the user chose not to start the transfer.
    bool PowerAllowsTransfer();

    // Abandons an offer call or a line test still waiting and waits for its thread.
    void StopServiceCalls();

    platform::View& view_;
    std::unique_ptr<CDialogDeviceWatch> watcher_;
    // The offer call beside the window: its thread, its reply, and whether that reply is
    // still wanted (the download button's own call supersedes it).
    ThreadHandle offerThread_;
    DOWNLOAD_START_RESPONSE offerReply_;
    int offerResult_ = 0;
    bool offerPending_ = false;
    // The line test's result, and the free space its start found.
    std::atomic<int> lineTestResult_{0};
    double startFreeGigabytes_ = 0;
    HoldSequence hold_;
    // The unit's call beside the window: on Linux it may wait minutes for a desktop user's
    // authorisation. While it runs nothing else touches the unit: a device change is looked
    // at, a transfer press answered and an eject started once it has ended.
    UnitCall unitCall_;
    UnitCallFor unitCallFor_ = UnitCallFor::HoldLock;
    bool deviceChangedDuringUnitCall_ = false;
    bool transferAfterUnitCall_ = false;
    enum class EjectAfterUnitCall { None, ByButton, AfterTransfer } ejectAfterUnitCall_ = EjectAfterUnitCall::None;
    EjectSequence eject_;
    LetterRecovery recovery_;
    uint64_t jobStartedAt_ = 0;  // the tick the running download or transfer started
    // The system refused the authorisation to hold the unit: it is not asked again until the
    // unit has gone (a refusal repeated at each device change would be a prompt each time).
    bool holdRefused_ = false;
};
