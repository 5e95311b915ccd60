// The line test and the download thread: files streamed to disk in small pieces, so that a
// stop request takes effect within one piece, then verified against their MD5 digests.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "common/Hash.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "net/DownloadJob.h"
#include "net/Http.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Internet.h"
#include "platform/View.h"

namespace {

static constexpr char kLogSource[] = ".\\Download";

constexpr size_t kPieceBytes = 2000;
constexpr double kSlowLineBytesPerSecond = 102400.0;
// Files this large time the line for the window's remaining-time estimate.
constexpr uint64_t kMeasuredFileBytes = 1048576;
// The line test measures at most this much, for at most this long: enough for a rate.
constexpr int64_t kLineTestMaxBytes = 8 * 1048576;
constexpr uint32_t kLineTestMaxMilliseconds = 60000;

void AddDownloaded(DOWNLOAD_JOB* job, uint64_t bytes) {
    job->downloadedBytes.fetch_add(static_cast<double>(bytes), std::memory_order_relaxed);
    theApp.DownloadedBytes.fetch_add(static_cast<double>(bytes), std::memory_order_relaxed);
}

// The window or the application's end asks the download to stop.
bool StopFlagged() {
    return theApp.PauseRequested.load(std::memory_order_relaxed) == 1 ||
           theApp.ExitRequested.load(std::memory_order_relaxed) == 1;
}

// StopFlagged, with the log line of the flag that was seen.
bool StopRequested() {
    if (theApp.PauseRequested.load(std::memory_order_relaxed) == 1) {
        VLOG(LOG_INFO, "処理中断");
        return true;
    }
    if (theApp.ExitRequested.load(std::memory_order_relaxed) == 1) {
        VLOG(LOG_INFO, "処理終了");
        return true;
    }
    return false;
}

// Copies the opened body into `out` piece by piece, at most `maxBytes` of it: 0, 450, 406
// (transfer failed, or the body went on past `maxBytes`: `*overran` set) or 401.
int CopyBody(platform::InternetFile& in, FILE* out, uint64_t maxBytes, bool* overran) {
    char piece[kPieceBytes];
    for (uint64_t written = 0;;) {
        if (StopRequested()) return kDownloadStopped;
        long read = in.Read(piece, sizeof piece);
        if (read == 0) return 0;
        if (read < 0) {
            // A read waiting for data gives up as soon as a stop is asked for.
            if (StopRequested()) return kDownloadStopped;
            VLOG(LOG_ERROR, "NET例外エラー");
            return kTransferFailed;
        }
        written += static_cast<uint64_t>(read);
        if (written > maxBytes) {
            *overran = true;
            VLOG(LOG_ERROR, "ファイルサイズ超過[%llu]", static_cast<unsigned long long>(maxBytes));
            return kTransferFailed;
        }
        if (fwrite(piece, 1, static_cast<size_t>(read), out) != static_cast<size_t>(read)) {
            VLOG(LOG_ERROR, "ファイル例外エラー");
            return 401;
        }
    }
}

// Minutes left at `bytesPerSecond`; a line slower than one byte a second counts as one, so
// the estimate stays large instead of dividing by zero.
int32_t EstimateMinutes(const DOWNLOAD_JOB& job, uint64_t bytesPerSecond) {
    double remaining = std::max(0.0, job.expectedBytes - job.downloadedBytes.load(std::memory_order_relaxed));
    uint64_t minutes = static_cast<uint64_t>(remaining) / std::max<uint64_t>(bytesPerSecond, 1) / 60;
    return static_cast<int32_t>(std::min<uint64_t>(minutes, std::numeric_limits<int32_t>::max()));
}

struct Notice {
    uintptr_t code;
    intptr_t result;
};

// Fetches and verifies the map files from the resume index on, then reports completion.
Notice FetchMapFiles(DOWNLOAD_JOB* job) {
    std::string folder = DownloadFolder(*job);
    VLOG(LOG_INFO, "<<<<<地図ダウンロード開始>>>>>");
    size_t count = job->entries.size();
    // The last entry is the line test's, never downloaded.
    for (size_t i = static_cast<size_t>(job->resumeIndex); i + 1 < count; ++i) {
        const MAP_DATA& entry = job->entries[i];
        job->currentFileBytes.store(0, std::memory_order_relaxed);
        uint32_t start = platform::GetTickCount();
        int result = DownloadFile(job, entry.url, folder);
        if (result == kDownloadStopped) {
            VLOG(LOG_INFO, "ダウンロード中断");
            return {kNotifyDownloadStopped, result};
        }
        if (result != 0) {
            VLOG(LOG_ERROR, "ダウンロードエラー");
            return {kNotifyDownloadFailed, result};
        }
        std::string relative = *LocalRelativePath(entry.url);
        result = HashCheckEx(folder + "\\" + GetDirectoryPart(relative), GetFileNamePart(relative), entry.HashCode);
        if (result != 0) {
            VLOG(LOG_ERROR, "ハッシュチェックエラー");
            return {kNotifyDownloadFailed, result};
        }
        theApp.DownloadPercent.store(static_cast<int32_t>((i + 1) * 100 / (count + 1)), std::memory_order_relaxed);
        platform::Sleep(5);
        uint32_t now = platform::GetTickCount();
        if (job->currentFileBytes.load(std::memory_order_relaxed) >= kMeasuredFileBytes && now != start)
            job->measuredMilliseconds.store(static_cast<int32_t>(now - start), std::memory_order_relaxed);
    }
    VLOG(LOG_INFO, "<<<<<地図ダウンロード終了>>>>>");
    theApp.DownloadPercent.store(100, std::memory_order_relaxed);
    platform::Sleep(3000);

    // The files are complete whatever the service answers.
    job->completionResponse = {};
    int result = CExternalInterface().DownloadCompletionRequest(&job->completionRequest, &job->completionResponse);
    if (result != 0 && result != kHttpProxyDeclined) job->completionResponse.result_detail_cd = "E07";
    return {kNotifyDownloadDone, 0};
}

}  // namespace

int LineSpeedTest(DOWNLOAD_JOB* job) {
    return OPERATION("LineSpeedTest", "", 401, [&] {
        if (job->entries.empty()) return 401;
        std::unique_ptr<platform::InternetFile> file = OpenSessionUrl(job->entries.back().url, nullptr);
        if (!file) {
            VLOG(LOG_ERROR, "OpenURLエラー");
            return 401;
        }
        uint32_t start = platform::GetTickCount();
        uint32_t milliseconds = 0;
        char piece[kPieceBytes];
        int64_t bytes = 0;
        // A test entry that never ends, or trickles, is measured on what came within the bounds.
        while (bytes < kLineTestMaxBytes && milliseconds < kLineTestMaxMilliseconds) {
            long read = file->Read(piece, static_cast<unsigned long>(std::min<int64_t>(sizeof piece, kLineTestMaxBytes - bytes)));
            milliseconds = platform::GetTickCount() - start;
            if (read == 0) break;
            if (read < 0) {
                VLOG(LOG_ERROR, "NET例外エラー");
                return 401;
            }
            bytes += read;
        }
        file.reset();

        uint32_t seconds = milliseconds / 1000;
        // A test that took under a second is fast by any measure.
        bool slow = seconds > 0 && static_cast<double>(bytes) / seconds < kSlowLineBytesPerSecond;
        int result = 0;
        if (slow) {
            theApp.Messages.EstimatedMinutes = EstimateMinutes(*job, static_cast<uint64_t>(bytes) / seconds);
            result = kSlowLine;
        }
        job->measuredBytes.store(bytes, std::memory_order_relaxed);
        job->measuredMilliseconds.store(static_cast<int32_t>(milliseconds), std::memory_order_relaxed);
        VLOG(LOG_INFO, "回線テストデータダウンロード[ダウンロード時間=%d] [ダウンロードサイズ=%d]",
             static_cast<int>(milliseconds), static_cast<int>(bytes));
        return result;
    }, OnException::LogOnly);
}

int StartDownloadThread(DOWNLOAD_JOB* job) {
    return OPERATION("StartDownloadThread", "", 800, [&] {
        if (!theApp.DownloadThreadHandle.Start([job] { MapDownloadThread(job); })) {
            VLOG(LOG_ERROR, "スレッド起動エラー");
            return 800;
        }
        return 0;
    }, OnException::LogOnly);
}

void MapDownloadThread(DOWNLOAD_JOB* job) {
    // Whatever happens, the window hears how the thread ended.
    Notice notice = OPERATION("MapDownloadThread", "", Notice{kNotifyDownloadFailed, 401},
                              [&] { return FetchMapFiles(job); }, OnException::LogOnly);
    platform::CurrentView()->PostNotify(platform::IDD_MAIN_WINDOW, notice.code, notice.result);
}

int DownloadFile(DOWNLOAD_JOB* job, const std::string& url, const std::string& downloadFolder) {
    return OPERATION("DownloadFile", "", 401, [&] {
        VLOG(LOG_INFO, "ダウンロードファイル[%s]", url.c_str());
        // The server's URL names the local file: never outside the download folder.
        std::optional<std::string> relative = LocalRelativePath(url);
        if (!relative) {
            VLOG(LOG_ERROR, "URLパスエラー");
            return 406;
        }
        std::unique_ptr<platform::InternetFile> in = OpenSessionUrl(url, StopFlagged);
        if (!in) {
            if (StopRequested()) return kDownloadStopped;
            VLOG(LOG_ERROR, "OpenURLエラー");
            return 406;
        }
        VLOG(LOG_INFO, "ファイルサイズ[%lld]", in->ContentLength());
        std::string path = downloadFolder + "\\" + *relative;
        VLOG(LOG_INFO, "PC先ファイル[%s]", path.c_str());
        // No resumption inside a file: an existing one is written afresh.
        FILE* out = platform::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            VLOG(LOG_ERROR, "ファイルオープンエラー");
            return 404;
        }
        bool overran = false;
        int result = CopyBody(*in, out, MaxFileBytes(*job), &overran);
        long length = ftell(out);
        VLOG(LOG_INFO, "リードサイズ[%ld]", length);
        in.reset();
        if (fclose(out) != 0 && result == 0) result = 401;
        // A stopped file is fetched again later; one that overran is the server's fault.
        if (result == kDownloadStopped || overran) platform::DeleteFileA(path.c_str());

        uint64_t bytes = length > 0 ? static_cast<uint64_t>(length) : 0;
        job->currentFileBytes.store(bytes, std::memory_order_relaxed);
        if (bytes >= kMeasuredFileBytes) job->measuredBytes.store(static_cast<int64_t>(bytes), std::memory_order_relaxed);
        AddDownloaded(job, bytes);
        return result;
    }, OnException::LogOnly);
}

int CloseDownloadThread() {
    VLOG(LOG_ERROR, "ダウンロードスレッドクローズ");
    theApp.DownloadThreadHandle.JoinAndClose();
    return 0;
}
