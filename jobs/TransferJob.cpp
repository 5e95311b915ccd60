// The transfer thread: the update data prepared and checked on the PC, the image written and
// verified on the unit, then the update files copied into the unit's update folders. The
// window hears the outcome from exactly one posted notification.
#include "jobs/TransferJob.h"

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "base/Logger.h"
#include "common/FileUtil.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "platform/Power.h"
#include "platform/View.h"
#include "update/ControlFiles.h"
#include "update/MapData.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

// Steps 1-6: the control files and the bulk data, checked and prepared on the PC.
struct PrepareStep {
    int (*run)(ConfigData& config, const std::string& id);
    const char* successText;
    const char* failureText;
    int windowResult;
};

const PrepareStep kPrepareSteps[] = {
    {[](ConfigData&, const std::string& id) { return VersionFileDecode(id); }, "バージョンファイル複合",
     "バージョンファイル複合エラー[%d]", kControlFilesFailed},
    {[](ConfigData&, const std::string& id) { return DiskIdFileDecode(id); }, "DISK識別ファイル複合",
     "DISK識別ファイル複合エラー[%d]", kControlFilesFailed},
    {&ConfCrcRead, "ConfCRCファイル読込み", "ConfCRCファイル読込みエラー[%d]", kControlFilesFailed},
    {&ConfFileDecode, "Confファイル複合 CRCチェック含み", "Confファイル複合エラー[%d]", kControlFilesFailed},
    {&Conf1001CrcCheck, "Conf1001ファイルCRCチェック", "Conf1001ファイルCRCチェックエラー[%d]", kMapDataFailed},
    {&Conf2000CrcCheck, "Conf2000ファイルCRCチェック", "Conf2000ファイルCRCチェックエラー[%d]", kMapDataFailed},
};

// Steps 10-22: a file of the download folder copied into an update folder of the unit.
struct CopyStep {
    const char* source;  // inside the download folder
    const char* naviFolder;
    const char* naviName;
    const char* successText;
    const char* failureText;
    int windowResult;
};

const CopyStep kCopySteps[] = {
    {"FLASH\\NEWRELEASE.TXT", "UPDATE\\RENEWAL", "RELEASE.TXT",
     "1001番台ファイルコピー(マスターデータバージョンファイル)(RELEASE.TXT)",
     "1001番台ファイルコピー(マスターデータバージョンファイル)(RELEASE.TXT)コピーエラー[%d]", kDataFileCopyFailed},
    {"FLASH\\NEWVOLUME.DAT", "UPDATE\\RENEWAL", "VOLUME.DAT",
     "1001番台ファイルコピー(ボリューム番号ファイル)(VOLUME.DAT)",
     "1001番台ファイルコピー(ボリューム番号ファイル)(VOLUME.DAT)コピーエラー[%d]", kDataFileCopyFailed},
    {"FLASH\\RENEWAL\\NEWLPA080.DAT", "UPDATE\\RENEWAL", "LPA080.DAT",
     "2000番台ファイルコピー(プログラム更新データファイル)(LPA080.DAT)", "プログラム更新データファイルコピーエラー[%d]",
     kProgramFileCopyFailed},
    {"DISCINFO.TXT", "UPDATE\\RENEWAL", "DISCINFO.TXT", "メディア識別ファイルコピー(DISCINFO.TXT)",
     "メディア識別ファイルコピーエラー[%d]", kDataFileCopyFailed},
    {"RENEWAL\\VERINFO.DAT", "UPDATE\\RENEWAL", "VERINFO.DAT", "統合バージョンファイルコピー(VERINFO.DAT)",
     "統合バージョンファイルコピーエラー[%d]", kDataFileCopyFailed},
    {"CONF\\CONF1001.DAT", "UPDATE\\RENEWAL\\CONF", "CONF1001.DAT",
     "更新管理ファイルコピー(データ種別1001番台CONFファイル)(CONF1001.DAT)", "1001番台CONFファイルコピーエラー[%d]",
     kConfFileCopyFailed},
    {"CONF\\CONF2000.DAT", "UPDATE\\RENEWAL\\CONF", "CONF2000.DAT",
     "更新管理ファイルコピー(データ種別2000番台CONFファイル)(CONF2000.DAT)", "2000番台CONFファイルコピーエラー[%d]",
     kConfFileCopyFailed},
    {"CONF\\CONF6000.DAT", "UPDATE\\RENEWAL\\CONF", "CONF6000.DAT",
     "更新管理ファイルコピー(データ種別6000番台CONFファイル)(CONF6000.DAT)", "6000番台CONFファイルコピーエラー[%d]",
     kConfFileCopyFailed},
    {"CONF\\CONFLIST.DAT", "UPDATE\\RENEWAL\\CONF", "CONFLIST.DAT",
     "更新管理ファイルコピー(CONFリストファイル)(CONFLIST.DAT)", "CONFリストファイルコピーエラー[%d]",
     kConfFileCopyFailed},
    {"CONF\\AREANAME.TBL", "UPDATE\\RENEWAL\\CONF", "AREANAME.TBL",
     "更新管理ファイルコピー(AREANAME CONFファイル)(AREANAME.TBL)", "AREANAME CONFファイルコピーエラー[%d]",
     kConfFileCopyFailed},
    {"CONF\\CONFCRC.DAT", "UPDATE\\RENEWAL\\CONF", "CONFCRC.DAT",
     "更新管理ファイルコピー(CONF CRCファイル)(CONFCRC.DAT)", "CONF CRCファイルコピーエラー[%d]", kConfFileCopyFailed},
    {"CONF\\MAPLIST.DAT", "UPDATE\\RENEWAL\\CONF", "MAPLIST.DAT",
     "更新管理ファイルコピー(MAPLISTファイル)(MAPLIST.DAT)", "MAPLISTファイルコピーエラー[%d]", kUnitFileCopyFailed},
    {"DISKID.DAT", "UPDATE\\RENEWAL", "DISKID.DAT", "DISK識別ファイルコピー(DISKID.DAT)",
     "DISK識別ファイルコピーエラー[%d]", kDataFileCopyFailed},
};

void Post(uintptr_t code, intptr_t result) {
    platform::CurrentView()->PostNotify(platform::IDD_MAIN_WINDOW, code, result);
}

// A failure on the PC side or in the image step: the volume is as the window or the image
// step left it.
void FailBeforeUnitFiles(const char* failureText, int result, int windowResult) {
    Post(kNotifyTransferFailed, windowResult);
    LogWrite(kLogSource, LOG_ERROR, __LINE__, failureText, result);
}

// A failure on the unit's file system: the volume is opened and locked again for the window's
// recovery.
void FailOnUnitFiles(const char* failureText, int result, int windowResult) {
    LogWrite(kLogSource, LOG_ERROR, __LINE__, failureText, result);
    if (int opened = DriveOpen(&theApp.Navi.ImagePosition); opened != 0)
        VLOG(LOG_ERROR, "デバイスオープンエラー[%d]", opened);
    Post(kNotifyTransferFailed, windowResult);
}

bool CopyUnitFiles(TransferJob& job, const std::string& naviDrive);

// The 23 steps; false after the first failure has been reported. A resumed transfer goes on
// at the stage its record names.
bool RunSteps(TransferJob& job, const std::string& naviDrive) {
    // History.ini may have been edited since it was read, and another user of a shared map
    // folder may have made a link since the download: the steps below read, create, rename and
    // delete files in this folder, and never through a link.
    const std::string folder = TransferMapFolder();
    if (!IsInsideMapFolder(folder) || LinkInDownloadFolder(folder + "\\" + job.id)) {
        FailBeforeUnitFiles("転送フォルダエラー[%d]", kDownloadFolderRefused, kDownloadFolderRefused);
        return false;
    }
    // A transfer cut off by a crash or a kill left its intermediates; the extraction would
    // refuse to overwrite them.
    if (int result = RemoveStaleIntermediates(job.id); result != 0)
        VLOG(LOG_ERROR, "中間ファイル削除エラー[%d]", result);
    for (const PrepareStep& step : kPrepareSteps) {
        if (int result = step.run(job.config, job.id); result != 0) {
            FailBeforeUnitFiles(step.failureText, result, step.windowResult);
            return false;
        }
        VLOG(LOG_TRACE, "%s", step.successText);
    }

    theApp.ImageCopyActive.store(1, std::memory_order_relaxed);
    const TransferStage stage = job.resume ? job.record.stage : TransferStage::Image;
    if (stage == TransferStage::Image) {
        if (int result = ImageCopy(&job); result != 0) {
            FailBeforeUnitFiles("6000番台ファイルコピーエラー[%d]", result, result);
            return false;
        }
        VLOG(LOG_TRACE, "6000番台ファイルコピー");
    } else {
        // The image is whole on the unit already: its volume is let go as the image step does.
        (void)DriveClose();
    }
    if (stage != TransferStage::Done && !CopyUnitFiles(job, naviDrive)) return false;
    theApp.TransferPercent.store(100, std::memory_order_relaxed);
    Post(kNotifyTransferDone, 0);
    return true;
}

// Steps 8-22 and the cancel marker; false after the first failure has been reported.
bool CopyUnitFiles(TransferJob& job, const std::string& naviDrive) {
    if (int result = DriveReopenWait(); result != 0) {
        FailOnUnitFiles("アンロックエラー[%d]", result, kVolumeNotBack);
        return false;
    }
    VLOG(LOG_TRACE, "アンロックチェック");
    if (int result = NaviFolderCreate(naviDrive); result != 0) {
        FailOnUnitFiles("フォルダ作成エラー[%d]", result, kUpdateFolderFailed);
        return false;
    }
    VLOG(LOG_TRACE, "フォルダ作成");

    const std::string downloadFolder = Format("%s\\%s", TransferMapFolder().c_str(), job.id.c_str());
    for (const CopyStep& step : kCopySteps) {
        std::string pcPath = Format("%s\\%s", downloadFolder.c_str(), step.source);
        std::string naviPath = Format("%s%s\\%s", naviDrive.c_str(), step.naviFolder, step.naviName);
        if (int result = NaviFileCopy(pcPath, naviPath); result != 0) {
            FailOnUnitFiles(step.failureText, result, step.windowResult);
            return false;
        }
        VLOG(LOG_TRACE, "%s", step.successText);
    }

    CancelFlagDelete(naviDrive);
    job.record.stage = TransferStage::Done;
    // Left at the files stage, a resume copies the files again: the same result.
    (void)TransferRecordSave(job.record);
    return true;
}

}  // namespace

int NaviUpdateStart(TransferJob* job, const std::string& id) {
    return OPERATION("NaviUpdateStart", Format("[%s]", id.c_str()), 1, [&] {
        theApp.TransferMapName = id;
        job->id = id;
        if (!theApp.TransferThreadHandle.Start([job] { NaviThread(job); })) {
            theApp.Messages.ShowErrorMessage(kTransferStartFailed, "E98", "");
            VLOG(LOG_ERROR, "スレッド起動エラー");
            return 1;
        }
        return 0;
    });
}

void NaviThread(TransferJob* job) {
    const platform::KeepAwake awake;
    VLOG(LOG_TRACE, "NaviThread開始");
    theApp.Navi.TransferRunning.store(1, std::memory_order_relaxed);
    theApp.TransferAnimation.store(1, std::memory_order_relaxed);
    // Every step works on the drive the unit had when the job started, whatever a device
    // change does to the shared state meanwhile.
    const std::string naviDrive = theApp.Navi.NaviDrive;
    // The steps report their own failures; anything thrown between them still ends the job
    // with its one notification. The thread's end line has a tab, so it frames itself.
    try {
        if (RunSteps(*job, naviDrive)) VLOG(LOG_TRACE, "NaviThread\t終了");
    } catch (...) {
        VLOG(LOG_EXCEPTION, "例外");
        Post(kNotifyTransferFailed, kSystemError);
    }
}

void NaviThreadWait() { theApp.TransferThreadHandle.JoinAndClose(); }
