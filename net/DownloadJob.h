// The download job: the description's entries, where an interrupted download stopped, the
// line test, and the thread that fetches and verifies every map file into the download folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/ExternalInterface.h"
#include "platform/Clock.h"
#include "state/Results.h"
#include "state/NotifyCodes.h"

// One downloadable file of the description.
struct MAP_DATA {
    std::string url;
    std::string HashCode;  // MD5 as hexadecimal text
    uint64_t size = 0;     // never filled
};

// Owned by the window and handed to the thread. The window touches the entries and records
// only while no thread runs; the counters it reads meanwhile are atomic.
struct DOWNLOAD_JOB {
    std::vector<MAP_DATA> entries;  // in file order; the last one is the line-test entry
    DOWNLOAD_START_RESPONSE start;  // the offer the job follows: version parts and conf-file-url
    double expectedBytes = 0;
    std::atomic<double> downloadedBytes{0};
    std::atomic<int32_t> measuredMilliseconds{0};
    std::atomic<int64_t> measuredBytes{0};
    std::atomic<uint64_t> currentFileBytes{0};
    int32_t resumeIndex = 0;
    // Bytes the file being fetched kept from an earlier attempt; 0 when it was fetched whole.
    uint64_t resumedBytes = 0;
    DOWNLOAD_COMPLETION_REQUEST completionRequest;
    DOWNLOAD_COMPLETION_RESPONSE completionResponse;
    int32_t saveDescription = 0;
};

// The three version parts joined; nullopt unless that is a plain folder name.
std::optional<std::string> VersionName(const DOWNLOAD_START_RESPONSE& start);
// The most the map files together may hold: the whole set the description announces (MapSize,
// rounded up to its unit by the service), and one unit more for a service that rounds down.
uint64_t MaxSetBytes(const DOWNLOAD_JOB& job);
// Beside the map files once the download-completion call was made for them.
constexpr char kCompletionReportedName[] = "MapData.END";
// MapFolder \ version name.
std::string DownloadFolder(const DOWNLOAD_JOB& job);
// Where the file of `url` lies inside the download folder ("FLASH\RENEWAL\MAP01.ZIP", or the
// URL's file name when no known folder occurs in it); nullopt when that path would leave it.
std::optional<std::string> LocalRelativePath(const std::string& url);

// Reads the entries of a fetched description (from its <Map> on, which is what is saved as
// MapData.XML): 0, the parse result, or 406 with no entries when a url or HashCode is longer
// than 2 KiB or there are more than 10,000 entries.
int ReadMapDescription(const std::string& reply, std::vector<MAP_DATA>* entries, std::string* description);

// Measures the line with the test entry, timed on `stopwatch` (the program passes the machine's
// clock): 0, 902 (slow, EstimatedMinutes set) or 401.
int LineSpeedTest(DOWNLOAD_JOB* job, platform::Clock& stopwatch);
// 0, or 800 when the thread could not be started.
int StartDownloadThread(DOWNLOAD_JOB* job);
void MapDownloadThread(DOWNLOAD_JOB* job);
// What DownloadFile makes of the bytes of the file already on disk. A part with its mark
// (net/PartialFile.h) is continued while the server holds the same version; otherwise, and
// always with Refetch, the file is fetched whole.
enum class KeptBytes {
    Uncounted,  // not in the downloaded bytes yet
    Counted,    // already in them (the resume scan counted them)
    Refetch,    // already in them, and fetched whole again whatever they are
};
// Fetches one file into the download folder: 0, 404, 406, 401 or 450 (stopped on request). A
// stopped file that can be continued stays with its mark; one that cannot is deleted.
int DownloadFile(DOWNLOAD_JOB* job, const std::string& url, const std::string& downloadFolder,
                 KeptBytes kept = KeptBytes::Uncounted);
// Waits for the thread and nulls its handle: 0.
int CloseDownloadThread();
