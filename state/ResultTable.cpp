// The table of results: for each result number the box it shows, its short code and the code a
// transfer that ended with it reports. A new failure is a name in state/Results.h and a row here.
#include "state/ResultTable.h"

#include "state/Results.h"
#include "platform/View.h"

namespace {

using platform::MB_ICONERROR;
using platform::MB_ICONINFORMATION;
using platform::MB_ICONWARNING;

// The boxes several numbers share.
constexpr ErrorBox kSystemBox{"MSG_ERROR_SYSTEM", "ERROR_001", nullptr, Fill::Code, "エラー", MB_ICONERROR};
constexpr ErrorBox kNaviFailed{"MSG_ERROR_NAVI", "ERROR_002", nullptr, Fill::Code, "エラー", MB_ICONERROR};
constexpr ErrorBox kNaviError9{"MSG_ERROR_NAVI", "ERROR_009", nullptr, Fill::Code, "エラー", MB_ICONWARNING};
constexpr ErrorBox kNoConnection{"MSG_ERROR_NETWORK", "ERROR_001", nullptr, Fill::Code, "エラー", MB_ICONWARNING};
constexpr ErrorBox kNoUnitFound{
    nullptr,           nullptr, "ナビゲーションが見つかりませんでした。", Fill::None, "ナビゲーションの再認識",
    MB_ICONINFORMATION};

struct ResultRow {
    int result;
    ErrorBox box;
    const char* messageCode;   // shown with the box
    const char* transferCode;  // reported by a transfer that ended with the result: E01 to E17
};

// By number. Where several causes share a number, the row names the first; the numbers without
// a name are kinds no cause of the program produces.
constexpr ResultRow kResults[] = {
    {kDeletionCancelled, kSystemBox, "E99", "E15"},
    {kNotEnoughSpace,
     {"MSG_ERROR_DOWNLOAD", "ERROR_001", nullptr, Fill::Download, "エラー", MB_ICONWARNING},
     "E01",
     "E01"},
    {kDownloadFailed, {"MSG_ERROR_DOWNLOAD", "ERROR_002", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E02-1", "E15"},
    {kDigestFailed, {"MSG_ERROR_DOWNLOAD", "ERROR_003", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E03", "E03"},
    {403, {"MSG_ERROR_DOWNLOAD", "ERROR_004", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E62", "E15"},
    {kLocalFileOpenFailed, kSystemBox, "E02-1", "E15"},
    {kSetLargerThanFreeSpace,
     {"MSG_ERROR_DOWNLOAD", "ERROR_005", nullptr, Fill::Download, "エラー", MB_ICONWARNING},
     "E99",
     "E15"},
    {kTransferFailed, {"MSG_ERROR_NETWORK", "ERROR_002", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E02-2", "E15"},
    {kDownloadStopped, kSystemBox, "E99", "E15"},
    {kNoDataSelected, {"MSG_ERROR_NAVI", "ERROR_005", nullptr, Fill::LineBreaks, "エラー", MB_ICONWARNING}, "", "E15"},
    {kUnitNotConnected, {"MSG_ERROR_NAVI", "ERROR_003", nullptr, Fill::NaviCode, "エラー", MB_ICONERROR}, "E01", "E01"},
    {502, {"MSG_ERROR_NAVI", "ERROR_003", nullptr, Fill::NaviFailedCopy, "エラー", MB_ICONERROR}, "E02", "E02"},
    {kUnitFileCopyFailed, kNaviFailed, "E04", "E04"},
    {kTransferStartFailed, kNaviFailed, "E04", "E04"},
    {kUnitNotOlder, {"MSG_ERROR_NAVI", "ERROR_006", nullptr, Fill::Code, "最新版", MB_ICONINFORMATION}, "E02", "E02"},
    {kControlFilesFailed,
     {"MSG_ERROR_NAVI", "ERROR_001", nullptr, Fill::Code, "エラー", MB_ICONERROR},
     "E03",
     "E03"},                                    // also kDownloadFolderRefused
    {kCrcMismatch, kNaviFailed, "E09", "E09"},  // also kMapDataFailed
    {kImageSumMismatch, kSystemBox, "E10", "E10"},
    {510, {"MSG_ERROR_NAVI", "ERROR_007", nullptr, Fill::Code, "エラー", MB_ICONWARNING}, "E97", "E15"},
    {kMountFailed, kSystemBox, "E01", "E01"},
    {kUnmountFailed, kSystemBox, "E02", "E02"},
    {514, kNaviFailed, "E13", "E13"},
    {kEjectFailed, kSystemBox, "E99", "E15"},
    {kUpdateFolderFailed, kNaviFailed, "E15", "E15"},  // also kDataFileCopyFailed
    {kProgramFileCopyFailed, kNaviFailed, "E06", "E06"},
    {kConfFileCopyFailed, kNaviFailed, "E08", "E08"},
    {kTransferRecordFailed, kNaviFailed, "E04", "E04"},  // also kImageWriteFailed
    {kImageCompareFailed, kNaviFailed, "E05", "E05"},
    {521, kNaviFailed, "E07", "E07"},
    {kVolumeLockFailed, kNaviFailed, "E16", "E16"},  // also kVolumeUnlockFailed, kVolumeDismountFailed, kVolumeNotBack
    {kVolumeOpenFailed, kSystemBox, "E99", "E15"},   // also kVolumeNameFailed
    {kDataNameMismatch,
     {"MSG_ERROR_NAVI", "ERROR_007", nullptr, Fill::LineBreaks, "エラー", MB_ICONWARNING},
     "E99",
     "E15"},
    {kDownloadIncomplete,
     {nullptr, nullptr, "ダウンロードが完了していないため、転送できません。", Fill::None, "警告", MB_ICONWARNING},
     "E99",
     "E15"},
    {kAuthorisationRefused,
     {"MSG_ERROR_NAVI", "ERROR_011", nullptr, Fill::Code, "エラー", MB_ICONWARNING},
     "E99",
     "E15"},
    {530, kNaviError9, "E12", "E12"},
    {531, kNoConnection, "E06", "E06"},
    {532, kNaviError9, "E17", "E12"},
    {kDownloadFolderMissing,
     {"MSG_ERROR_NAVI", "ERROR_010", nullptr, Fill::Code, "エラー", MB_ICONERROR},
     "E99",
     "E15"},
    {kRecordedSetMissing,
     {"MSG_ERROR_NAVI", "ERROR_012", nullptr, Fill::NameCode, "エラー", MB_ICONWARNING},
     "E99",
     "E15"},
    {kNothingChecked,
     {"MSG_ERROR_DELETE", "ERROR_002", nullptr, Fill::LineBreaks, "エラー", MB_ICONWARNING},
     "E98",
     "E15"},
    {kDeletionFailed,
     {"MSG_ERROR_DELETE", "ERROR_001", nullptr, Fill::LineBreaks, "エラー", MB_ICONERROR},
     "E98",
     "E15"},
    {700, kSystemBox, "E98", "E15"},
    {kSystemError, kSystemBox, "E98", "E15"},
    {kStartupFailed, {"MSG_ERROR_SYSTEM", "ERROR_002", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E04", "E04"},
    {kOutOfMemory, kSystemBox, "E01", "E01"},      // also kHttpNoSession
    {kFileReadFailed, kSystemBox, "E02", "E02"},   // also kControlFileMalformed, kImagePieceTooShort,
                                                   // kJoinFileOpenFailed, kVersionFileTooShort, kSectorReadFailed
    {kFileWriteFailed, kSystemBox, "E03", "E03"},  // also kMasterDataFailed, kSectorWriteFailed
    {kDeviceIdFailed, kSystemBox, "E03", "E03"},
    {806, kSystemBox, "E03", "E03"},
    {kMapDataCopyFailed, kSystemBox, "E03", "E03"},
    {810, {"MSG_ERROR_SYSTEM", "ERROR_003", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E05", "E05"},
    {kFolderCreateFailed, kSystemBox, "E99", "E15"},
    {kHttpTransportError, kNoConnection, "E01", "E01"},
    {kServiceRefused, {"MSG_ERROR_SYSTEM", "ERROR_001", nullptr, Fill::FixedE08, "エラー", MB_ICONERROR}, "E07", "E07"},
    {kSlowLine, kSystemBox, "E99", "E15"},
    {kRecoveryMountFailed,
     {"MSG_ERROR_RESTORE", "ERROR_001", nullptr, Fill::Code, "エラー", MB_ICONERROR},
     "E01",
     "E01"},
    {kRecoveryNoFreeLetter,
     {"MSG_ERROR_RESTORE", "ERROR_002", nullptr, Fill::Code, "エラー", MB_ICONERROR},
     "E02",
     "E02"},
    {kRecoveryNoUnitVolume, kNoUnitFound, "E03", "E03"},
    {kRecoveryNoLetterlessVolume, kNoUnitFound, "E99", "E15"},
    {kCompetingProcess,
     {"MSG_ERROR_COMPETITION", "ERROR_001", nullptr, Fill::Code, "エラー", MB_ICONERROR},
     "E99",
     "E15"},
    {1201, {"MSG_ERROR_COMPETITION", "ERROR_002", nullptr, Fill::Code, "エラー", MB_ICONERROR}, "E99", "E15"},
    {kRemovalFailed,
     {"MSG_ERROR_REJECT", "ERROR_001", nullptr, Fill::Code, "ナビ取り外し", MB_ICONINFORMATION},
     "E99",
     "E15"},
    {kHttpProxyDeclined, kSystemBox, "E99", "E15"},
};

const ResultRow* FindRow(int result) {
    for (const ResultRow& row : kResults)
        if (row.result == result) return &row;
    return nullptr;
}

}  // namespace

const ErrorBox& BoxOf(int result) {
    const ResultRow* row = FindRow(result);
    return row != nullptr ? row->box : kSystemBox;
}

std::string ResultToMessageCode(int result) {
    const ResultRow* row = FindRow(result);
    return row != nullptr ? row->messageCode : "E99";
}

std::string TransferFailureCode(int result) {
    const ResultRow* row = FindRow(result);
    return row != nullptr ? row->transferCode : "E15";
}
