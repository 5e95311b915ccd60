// The line test and the download thread: files streamed to disk in small pieces, so that a
// stop request takes effect within one piece, then verified against their MD5 digests.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "common/Hash.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "net/DownloadJob.h"
#include "net/Http.h"
#include "net/PartialFile.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Internet.h"
#include "platform/Power.h"
#include "platform/View.h"

namespace {

static constexpr char kLogSource[] = ".\\Download";

constexpr size_t kPieceBytes = 2000;
// The written file's buffer: with stdio's 4 KiB, the kernel calls alone were 6 % of the
// download thread. A kill loses at most this much of what came; the next attempt fetches it
// again.
constexpr size_t kFileBufferBytes = 256 * 1024;
constexpr double kSlowLineBytesPerSecond = 102400.0;
// Files this large time the line for the window's remaining-time estimate.
constexpr uint64_t kMeasuredFileBytes = 1048576;
// The line test measures at most this much, for at most this long: enough for a rate.
constexpr int64_t kLineTestMaxBytes = 8 * 1048576;
constexpr uint32_t kLineTestMaxMilliseconds = 60000;

// Negative when bytes counted before are gone (a file started over, or deleted at a stop).
void AddDownloaded(DOWNLOAD_JOB* job, double bytes) {
    job->downloadedBytes.fetch_add(bytes, std::memory_order_relaxed);
    theApp.DownloadedBytes.fetch_add(bytes, std::memory_order_relaxed);
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

// Copies the opened body into `out` piece by piece, counting the bytes in `copied`, at most
// `maxBytes` of them: 0, 450, 406 (transfer failed, or the body went on past `maxBytes`:
// `*overran` set) or 401.
int CopyBody(platform::InternetFile& in, FILE* out, uint64_t maxBytes, uint64_t* copied, bool* overran) {
    char piece[kPieceBytes];
    for (;;) {
        if (StopRequested()) return kDownloadStopped;
        long read = in.Read(piece, sizeof piece);
        if (read == 0) return 0;
        if (read < 0) {
            // A read waiting for data gives up as soon as a stop is asked for.
            if (StopRequested()) return kDownloadStopped;
            VLOG(LOG_ERROR, "NET例外エラー");
            return kTransferFailed;
        }
        if (*copied + static_cast<uint64_t>(read) > maxBytes) {
            *overran = true;
            VLOG(LOG_ERROR, "ファイルサイズ超過[%llu]", static_cast<unsigned long long>(maxBytes));
            return kTransferFailed;
        }
        if (fwrite(piece, 1, static_cast<size_t>(read), out) != static_cast<size_t>(read)) {
            VLOG(LOG_ERROR, "ファイル例外エラー");
            return kDownloadFailed;
        }
        *copied += static_cast<uint64_t>(read);
    }
}

// Deletes a file and its mark: a part left without its mark is fetched whole next time.
void DeleteFetched(const std::string& path) {
    RemovePartialMark(path);
    (void)platform::DeleteFileA(path.c_str());
}

// The reply carries exactly the rest of a file of `length` bytes from `offset` on.
bool CarriesTheRest(const platform::InternetFile& in, uint64_t offset, uint64_t length) {
    return in.Header("Content-Range") == Format("bytes %llu-%llu/%llu", static_cast<unsigned long long>(offset),
                                                static_cast<unsigned long long>(length - 1),
                                                static_cast<unsigned long long>(length));
}

// Marks a file about to be written afresh with the version and length its reply names: true
// when it can be continued later.
bool MarkNewFile(const std::string& path, const platform::InternetFile& in) {
    std::string validator = RangeValidator(in.Header("ETag"), in.Header("Last-Modified"));
    long long length = in.ContentLength();
    if (validator.empty() || length <= 0) return false;
    if (WritePartialMark(path, {validator, static_cast<uint64_t>(length)})) return true;
    VLOG(LOG_ERROR, "レジューム情報書込みエラー");
    return false;
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

// Fetches one entry and checks it against its digest: 0, the DownloadFile result, or the
// HashCheckEx result (then `hashFailed` is set).
int FetchVerified(DOWNLOAD_JOB* job, const MAP_DATA& entry, const std::string& folder, KeptBytes kept,
                  bool* hashFailed) {
    *hashFailed = false;
    int result = DownloadFile(job, entry.url, folder, kept);
    if (result == kDownloadStopped) {
        VLOG(LOG_INFO, "ダウンロード中断");
        return result;
    }
    if (result != 0) {
        VLOG(LOG_ERROR, "ダウンロードエラー");
        return result;
    }
    std::string relative = *LocalRelativePath(entry.url);
    result = HashCheckEx(folder + "\\" + GetDirectoryPart(relative), GetFileNamePart(relative), entry.HashCode);
    if (result != 0) {
        VLOG(LOG_ERROR, "ハッシュチェックエラー");
        *hashFailed = true;
    }
    return result;
}

// Fetches and verifies the map files from the resume index on, then reports completion.
Notice FetchMapFiles(DOWNLOAD_JOB* job) {
    std::string folder = DownloadFolder(*job);
    VLOG(LOG_INFO, "<<<<<地図ダウンロード開始>>>>>");
    size_t count = job->entries.size();
    const std::string reported = folder + "\\" + kCompletionReportedName;
    // Files to fetch: whatever was reported before is no longer this download.
    if (static_cast<size_t>(job->resumeIndex) + 1 < count) (void)platform::DeleteFileA(reported.c_str());
    // The last entry is the line test's, never downloaded.
    for (size_t i = static_cast<size_t>(job->resumeIndex); i + 1 < count; ++i) {
        const MAP_DATA& entry = job->entries[i];
        job->currentFileBytes.store(0, std::memory_order_relaxed);
        uint32_t start = platform::GetTickCount();
        // The resume scan counted the file it stopped at.
        KeptBytes kept = i == static_cast<size_t>(job->resumeIndex) ? KeptBytes::Counted : KeptBytes::Uncounted;
        bool hashFailed = false;
        int result = FetchVerified(job, entry, folder, kept, &hashFailed);
        if (hashFailed && job->resumedBytes > 0) {
            // The part kept from before may not be what the server held: once more, whole.
            VLOG(LOG_INFO, "ファイル全体再取得");
            result = FetchVerified(job, entry, folder, KeptBytes::Refetch, &hashFailed);
        }
        if (result == kDownloadStopped) return {kNotifyDownloadStopped, result};
        if (result != 0) return {kNotifyDownloadFailed, result};
        theApp.DownloadPercent.store(static_cast<int32_t>((i + 1) * 100 / (count + 1)), std::memory_order_relaxed);
        platform::Sleep(5);
        uint32_t now = platform::GetTickCount();
        if (job->currentFileBytes.load(std::memory_order_relaxed) >= kMeasuredFileBytes && now != start)
            job->measuredMilliseconds.store(static_cast<int32_t>(now - start), std::memory_order_relaxed);
    }
    VLOG(LOG_INFO, "<<<<<地図ダウンロード終了>>>>>");
    theApp.DownloadPercent.store(100, std::memory_order_relaxed);
    platform::Sleep(3000);

    // The files are complete whatever the service answers. Reported once per download: a kill
    // after the call, before the window saved the history, must not report it again at the
    // next start.
    job->completionResponse = {};
    if (FoundFileSize(reported)) {
        VLOG(LOG_INFO, "ダウンロード完了通知送信済み");
        return {kNotifyDownloadDone, 0};
    }
    int result = CExternalInterface().DownloadCompletionRequest(&job->completionRequest, &job->completionResponse);
    if (result != 0 && result != kHttpProxyDeclined) job->completionResponse.result_detail_cd = "E07";
    unsigned long none = 0;
    if (LinkBelowMapFolder(reported) || FileWrite(reported, "", "", &none) != 0)
        VLOG(LOG_ERROR, "ダウンロード完了通知記録エラー");
    return {kNotifyDownloadDone, 0};
}

}  // namespace

int LineSpeedTest(DOWNLOAD_JOB* job, platform::Clock& stopwatch) {
    return OPERATION("LineSpeedTest", "", kDownloadFailed, OnException::LogOnly, [&] {
        if (job->entries.empty()) return kDownloadFailed;
        std::unique_ptr<platform::InternetFile> file = OpenSessionUrl(job->entries.back().url, nullptr).file;
        if (!file) {
            VLOG(LOG_ERROR, "OpenURLエラー");
            return kDownloadFailed;
        }
        const uint64_t start = stopwatch.TickMilliseconds();
        uint32_t milliseconds = 0;
        char piece[kPieceBytes];
        int64_t bytes = 0;
        // A test entry that never ends, or trickles, is measured on what came within the bounds.
        while (bytes < kLineTestMaxBytes && milliseconds < kLineTestMaxMilliseconds) {
            long read = file->Read(
                piece, static_cast<unsigned long>(std::min<int64_t>(sizeof piece, kLineTestMaxBytes - bytes)));
            milliseconds = static_cast<uint32_t>(stopwatch.TickMilliseconds() - start);
            if (read == 0) break;
            if (read < 0) {
                VLOG(LOG_ERROR, "NET例外エラー");
                return kDownloadFailed;
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
    });
}

int StartDownloadThread(DOWNLOAD_JOB* job) {
    return OPERATION("StartDownloadThread", "", kSystemError, OnException::LogOnly, [&] {
        if (!theApp.DownloadThreadHandle.Start([job] { MapDownloadThread(job); })) {
            VLOG(LOG_ERROR, "スレッド起動エラー");
            return kSystemError;
        }
        return 0;
    });
}

void MapDownloadThread(DOWNLOAD_JOB* job) {
    const platform::KeepAwake awake;
    // Whatever happens, the window hears how the thread ended.
    Notice notice = OPERATION("MapDownloadThread", "", Notice{kNotifyDownloadFailed, kDownloadFailed},
                              OnException::LogOnly, [&] { return FetchMapFiles(job); });
    platform::CurrentView()->PostNotify(platform::IDD_MAIN_WINDOW, notice.code, notice.result);
}

int DownloadFile(DOWNLOAD_JOB* job, const std::string& url, const std::string& downloadFolder, KeptBytes kept) {
    return OPERATION("DownloadFile", "", kDownloadFailed, OnException::LogOnly, [&] {
        VLOG(LOG_INFO, "ダウンロードファイル[%s]", url.c_str());
        // The server's URL names the local file: never outside the download folder.
        std::optional<std::string> relative = LocalRelativePath(url);
        if (!relative) {
            VLOG(LOG_ERROR, "URLパスエラー");
            return kTransferFailed;
        }
        job->resumedBytes = 0;
        std::string path = downloadFolder + "\\" + *relative;
        // A file or folder another user made a link would be written wherever it points.
        if (LinkBelowMapFolder(path) || LinkBelowMapFolder(PartialMarkPath(path))) return kLocalFileOpenFailed;
        uint64_t onDisk = FoundFileSize(path).value_or(0);
        uint64_t counted = kept == KeptBytes::Uncounted ? 0 : onDisk;

        // Bytes kept from an earlier attempt: ask only for the rest, while it is the same version.
        std::optional<PartialFileMark> mark =
            kept == KeptBytes::Refetch || onDisk == 0 ? std::nullopt : ReadPartialMark(path);
        std::optional<platform::ByteRange> range;
        if (mark && onDisk < mark->length) range = platform::ByteRange{onDisk, mark->validator};
        platform::OpenedUrl opened = OpenSessionUrl(url, StopFlagged, range);
        const HttpStatus status = StatusOf(opened.status);
        bool resumed =
            range && status == HttpStatus::PartialContent && CarriesTheRest(*opened.file, onDisk, mark->length);
        if (range && !resumed && (status == HttpStatus::PartialContent || status == HttpStatus::RangeNotSatisfiable)) {
            // Not the part that was asked for: the whole file instead.
            VLOG(LOG_INFO, "レンジ不一致[%d]", opened.status);
            opened.file.reset();
            opened = OpenSessionUrl(url, StopFlagged);
        }
        if (!opened.file) {
            if (StopRequested()) return kDownloadStopped;
            VLOG(LOG_ERROR, "OpenURLエラー");
            return kTransferFailed;
        }
        platform::InternetFile& in = *opened.file;
        VLOG(LOG_INFO, "ファイルサイズ[%lld]", in.ContentLength());
        VLOG(LOG_INFO, "PC先ファイル[%s]", path.c_str());
        if (resumed) job->resumedBytes = onDisk;
        // The whole set on disk, the other files and the part kept from before included, stays
        // within what the description announced; a file also stops at its own length.
        const uint64_t others = static_cast<uint64_t>(
            std::max(0.0, job->downloadedBytes.load(std::memory_order_relaxed) - static_cast<double>(counted)));
        const uint64_t setBytes = MaxSetBytes(*job);
        uint64_t room = setBytes - std::min(setBytes, others + job->resumedBytes);
        if (in.ContentLength() >= 0) {
            if (static_cast<uint64_t>(in.ContentLength()) > room) {
                VLOG(LOG_ERROR, "ファイルサイズ超過[%llu]", static_cast<unsigned long long>(room));
                opened.file.reset();
                DeleteFetched(path);
                AddDownloaded(job, -static_cast<double>(counted));
                return kTransferFailed;
            }
            room = static_cast<uint64_t>(in.ContentLength());
        }
        FILE* out = nullptr;
        bool resumable = resumed;
        if (resumed) {
            VLOG(LOG_INFO, "レジューム[%llu/%llu]", static_cast<unsigned long long>(onDisk),
                 static_cast<unsigned long long>(mark->length));
            out = platform::fopen(path.c_str(), "ab");
        } else {
            // The old mark goes before the file is emptied, the new one comes after.
            RemovePartialMark(path);
            out = platform::fopen(path.c_str(), "wb");
            resumable = out != nullptr && MarkNewFile(path, in);
        }
        if (out == nullptr) {
            VLOG(LOG_ERROR, "ファイルオープンエラー");
            return kLocalFileOpenFailed;
        }
        // The 2,000-byte pieces reach the file in large writes (refused, in smaller ones).
        (void)setvbuf(out, nullptr, _IOFBF, kFileBufferBytes);
        uint64_t fetched = 0;
        bool overran = false;
        int result = CopyBody(in, out, room, &fetched, &overran);
        opened.file.reset();
        // On the disk before it counts as complete: a power cut must not leave zeros in a file
        // the next start takes as whole.
        if (result == 0 && !platform::FlushToDisk(out)) {
            VLOG(LOG_ERROR, "ファイルフラッシュエラー");
            result = kDownloadFailed;
        }
        if (fclose(out) != 0 && result == 0) result = kDownloadFailed;
        uint64_t length = job->resumedBytes + fetched;
        VLOG(LOG_INFO, "リードサイズ[%llu]", static_cast<unsigned long long>(length));
        if (result == 0) {
            RemovePartialMark(path);
        } else if (overran || (result == kDownloadStopped && !resumable)) {
            // A part that cannot be continued is no use; one that overran is the server's fault.
            DeleteFetched(path);
            length = 0;
        }

        // What was fetched now is what the line delivered in the time the thread measures.
        job->currentFileBytes.store(fetched, std::memory_order_relaxed);
        if (fetched >= kMeasuredFileBytes)
            job->measuredBytes.store(static_cast<int64_t>(fetched), std::memory_order_relaxed);
        AddDownloaded(job, static_cast<double>(length) - static_cast<double>(counted));
        return result;
    });
}

int CloseDownloadThread() {
    VLOG(LOG_ERROR, "ダウンロードスレッドクローズ");
    theApp.DownloadThreadHandle.JoinAndClose();
    return 0;
}
