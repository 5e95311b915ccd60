// The transfer job's work on the unit's file system: its update folders, the verified copies
// and the cancel marker. Every path lies under the drive root the job took when it started.
#include <optional>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "jobs/TransferJob.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Files.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

const char* const kNaviFolders[] = {"UPDATE", "UPDATE\\NAVIINFO", "UPDATE\\RENEWAL", "UPDATE\\RENEWAL\\CONF"};

constexpr int kCopyAttempts = 10;
constexpr uint32_t kCopyPauseMilliseconds = 5000;

bool FolderExists(const std::string& path) {
    uint32_t attributes = platform::GetFileAttributesA(path.c_str());
    return attributes != platform::INVALID_FILE_ATTRIBUTES && (attributes & platform::FILE_ATTRIBUTE_DIRECTORY);
}

// "X:\" and nothing else: an empty or partial root would put the unit's folders on the PC.
bool IsDriveRoot(const std::string& root) {
    return root.size() == 3 && ((root[0] >= 'A' && root[0] <= 'Z') || (root[0] >= 'a' && root[0] <= 'z')) &&
           root[1] == ':' && root[2] == '\\';
}

}  // namespace

int NaviFolderCreate(const std::string& naviDrive) {
    return OPERATION("NaviFolderCreate", "", 1, [&] {
        if (!IsDriveRoot(naviDrive)) {
            VLOG(LOG_ERROR, "フォルダ作成失敗[%s][%d]", naviDrive.c_str(),
                 static_cast<int>(platform::ERROR_INVALID_NAME));
            return 1;
        }
        for (const char* folder : kNaviFolders) {
            std::string path = Format("%s%s", naviDrive.c_str(), folder);
            if (FolderExists(path)) continue;
            if (!platform::CreateDirectoryA(path.c_str())) {
                VLOG(LOG_ERROR, "フォルダ作成失敗[%s][%d]", path.c_str(), static_cast<int>(platform::GetLastError()));
                return 1;
            }
        }
        return 0;
    });
}

int NaviFileCopy(const std::string& pcPath, const std::string& naviPath) {
    return OPERATION("NaviFileCopy", "", kUnitFileCopyFailed, OnException::LogOnly, [&] {
        VLOG(LOG_TRACE, "PCファイル[%s]", pcPath.c_str());
        VLOG(LOG_TRACE, "Naviファイル[%s]", naviPath.c_str());
        for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
            if (!platform::CopyFileA(pcPath.c_str(), naviPath.c_str(), false))
                VLOG(LOG_ERROR, "ファイルコピー失敗[%d]", static_cast<int>(platform::GetLastError()));
            else if (FileSizeCompare(pcPath, naviPath) == 0)
                return 0;
            platform::Sleep(kCopyPauseMilliseconds);
        }
        return kUnitFileCopyFailed;
    });
}

int FileSizeCompare(const std::string& pcPath, const std::string& naviPath) {
    return OPERATION("FileSizeCompare", "", 1, OnException::LogOnly, [&] {
        std::optional<uint64_t> pcSize = FoundFileSize(pcPath);
        std::optional<uint64_t> naviSize = FoundFileSize(naviPath);
        if (!pcSize || !naviSize) {
            VLOG(LOG_TRACE, "ファイル無し");
            return 1;
        }
        VLOG(LOG_TRACE, "ファイルサイズ[PC=%llu][NAVI=%llu]", static_cast<unsigned long long>(*pcSize),
             static_cast<unsigned long long>(*naviSize));
        if (*pcSize != *naviSize) return 1;
        theApp.TransferredBytes.fetch_add(static_cast<double>(*pcSize), std::memory_order_relaxed);
        return 0;
    });
}

void CancelFlagDelete(const std::string& naviDrive) {
    OPERATION("CancelFlagDelete", "", 0, OnException::LogOnly, [&] {
        // A unit without the marker is as good as one whose marker was removed.
        FileDelete(Format("%s%s\\%s", naviDrive.c_str(), "UPDATE\\NAVIINFO", "CANCEL.FLG"));
        return 0;
    });
}
