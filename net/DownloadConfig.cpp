// The download description: fetched, read into the job's entries, saved as MapData.XML, and
// compared with the download folder to find where an earlier download stopped.
#include <algorithm>
#include <cstdlib>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "common/Hash.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "net/DownloadJob.h"
#include "net/ExternalInterface.h"
#include "net/Http.h"
#include "net/PartialFile.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Internet.h"

namespace {

static constexpr char kLogSource[] = ".\\ExternalInterface";

// The sub-folders of a download folder as they appear in file URLs, in the order they are
// tried: each name before the shorter ones it contains.
const char* const kKnownFolders[] = {"CONF", "FLASH\\RENEWAL", "RENEWAL", "FLASH2", "FLASH"};

// MapSize counts units of 1,020 KiB.
constexpr double kMapSizeUnitBytes = 1044480.0;

std::string TrimBlanks(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) + 1 - first);
}

// A description is small: these bound what a hostile one can make the program hold.
constexpr size_t kMaxFieldBytes = 2048;
constexpr size_t kMaxEntries = 10000;

// Reads the description's entries; MapSize goes straight to the application's MapSizeGB. A
// field or entry count past its bound marks the description as refused.
class CGetMapDownloadConfing : public CExternalInterfaceBase {
public:
    explicit CGetMapDownloadConfing(std::vector<MAP_DATA>* entries) : entries_(entries) {}
    // The description is fetched, never posted.
    void MakeRequest(std::string*, std::string*, std::string*) override {}
    void OnText(const std::string& name, const std::string& text) override {
        if (name == "url")
            Keep(&current_.url, text);
        else if (name == "HashCode")
            Keep(&current_.HashCode, text);
        else if (name == "MapSize")
            theApp.MapSizeGB.store(static_cast<double>(std::strtoll(text.c_str(), nullptr, 10)) / 1024,
                                   std::memory_order_relaxed);
    }
    // Each entry starts empty: a field it lacks is missing, not the previous entry's.
    void OnEndElement(const std::string& name) override {
        if (name != "MapData" && name != "TestMapData") return;
        if (entries_->size() >= kMaxEntries) {
            refused_ = true;
            return;
        }
        entries_->push_back(std::move(current_));
        current_ = {};
    }
    bool Refused() const { return refused_; }

private:
    void Keep(std::string* field, const std::string& text) {
        if (text.size() > kMaxFieldBytes) {
            refused_ = true;
            return;
        }
        *field = TrimBlanks(text);
    }

    std::vector<MAP_DATA>* entries_;
    MAP_DATA current_;
    bool refused_ = false;
};

// The description's digests are the only check on what is written raw onto the unit: when the
// service is reached over HTTPS, its description must come over HTTPS too (verified, as every
// secure request is, and never redirected to plain HTTP). The map files may then be plain.
bool DescriptionUrlTrusted(const std::string& url) {
    std::optional<platform::UrlParts> service = platform::CrackUrl(theApp.ServiceUrl);
    if (service && !platform::IsSecureUrl(*service)) return true;
    std::optional<platform::UrlParts> description = platform::CrackUrl(url);
    return description && platform::IsSecureUrl(*description);
}

// Where the download goes on: the first map file that is missing, still has its part mark, or
// no longer matches its digest (a power cut can leave a file whole in length with zeros in
// it). The files before it and the part of that one are added to the job's and the
// application's downloaded bytes.
int ResumeIndex(DOWNLOAD_JOB* job, const std::string& folder) {
    int index = 0;
    // The last entry is the line test's, never downloaded.
    for (; index + 1 < static_cast<int>(job->entries.size()); ++index) {
        const MAP_DATA& entry = job->entries[static_cast<size_t>(index)];
        std::optional<std::string> relative = LocalRelativePath(entry.url);
        std::optional<uint64_t> size = relative ? FoundFileSize(folder + "\\" + *relative) : std::nullopt;
        if (!size) break;
        job->downloadedBytes.fetch_add(static_cast<double>(*size), std::memory_order_relaxed);
        theApp.DownloadedBytes.fetch_add(static_cast<double>(*size), std::memory_order_relaxed);
        const std::string path = folder + "\\" + *relative;
        if (ReadPartialMark(path) ||
            HashCheckEx(folder + "\\" + GetDirectoryPart(*relative), GetFileNamePart(*relative), entry.HashCode) != 0) {
            VLOG(LOG_INFO, "再取得ファイル[%s]", relative->c_str());
            break;
        }
    }
    return index;
}

}  // namespace

std::optional<std::string> VersionName(const DOWNLOAD_START_RESPONSE& start) {
    std::string name = start.unified_map_ver_gen + start.unified_map_ver_major + start.unified_map_ver_minor;
    if (!IsPlainName(name)) return std::nullopt;
    return name;
}

uint64_t MaxSetBytes(const DOWNLOAD_JOB& job) {
    // Clamped so that a MapSize no disk could hold still converts to a number.
    return static_cast<uint64_t>(std::clamp(job.expectedBytes, 0.0, 9.0e18)) + static_cast<uint64_t>(kMapSizeUnitBytes);
}

std::string DownloadFolder(const DOWNLOAD_JOB& job) {
    return theApp.MapFolder + "\\" + VersionName(job.start).value_or("");
}

std::optional<std::string> LocalRelativePath(const std::string& url) {
    std::string path = url;
    for (char& c : path)
        if (c == '/') c = '\\';
    std::string relative = GetFileNamePart(path);
    for (const char* folder : kKnownFolders) {
        size_t at = path.find(folder);
        if (at == std::string::npos) continue;
        relative = path.substr(at);
        break;
    }
    // Every step must be a plain name, so the file cannot land outside the download folder.
    for (size_t start = 0;;) {
        size_t end = platform::FindChar(relative, '\\', start);
        if (!IsPlainName(relative.substr(start, end - start))) return std::nullopt;
        if (end == std::string::npos) return relative;
        start = end + 1;
    }
}

int CExternalInterface::GetDownloadConfing(DOWNLOAD_JOB* job, int32_t save) {
    return OPERATION("GetDownloadConfing", "", kHttpTransportError, [&] {
        VLOG(LOG_INFO, "ダウンロードコンフィグ取得開始\t[%s]", job->start.conf_file_url.c_str());
        job->downloadedBytes.store(0, std::memory_order_relaxed);
        if (!VersionName(job->start)) {
            VLOG(LOG_ERROR, "バージョン名エラー");
            return kServiceRefused;
        }
        if (!DescriptionUrlTrusted(job->start.conf_file_url)) {
            VLOG(LOG_ERROR, "ダウンロードコンフィグURLがHTTPSではありません[%s]", job->start.conf_file_url.c_str());
            return kServiceRefused;
        }
        std::string folder = DownloadFolder(*job);
        job->saveDescription = save;
        job->entries.clear();
        int result = GetMapDownloadConfing(job->start.conf_file_url, &job->entries, save, folder);
        if (result != 0) return result;
        job->expectedBytes = theApp.MapSizeGB.load(std::memory_order_relaxed) * kMapSizeUnitBytes * 1024;

        job->resumeIndex = ResumeIndex(job, folder);
        return 0;
    });
}

int ReadMapDescription(const std::string& reply, std::vector<MAP_DATA>* entries, std::string* description) {
    size_t map = reply.find("<Map>");
    *description = map == std::string::npos ? reply : reply.substr(map);
    CGetMapDownloadConfing handler(entries);
    int result = ParseResponseXml(&handler, *description);
    if (result != 0) return result;
    if (handler.Refused()) {
        VLOG(LOG_ERROR, "ダウンロードコンフィグ上限超過");
        entries->clear();
        return kTransferFailed;
    }
    return 0;
}

int CExternalInterface::GetMapDownloadConfing(const std::string& url, std::vector<MAP_DATA>* entries, int32_t save,
                                              const std::string& downloadFolder) {
    std::string reply;
    int result = CHttp::Get(url, &reply);
    if (result != 0) {
        VLOG(LOG_ERROR, "Get()エラー");
        return result;
    }
    std::string description;
    result = ReadMapDescription(reply, entries, &description);
    if (result != 0) {
        VLOG(LOG_ERROR, "ParseResponseXml()エラー");
        return result;
    }
    if (save == 1) {
        if (LinkBelowMapFolder(downloadFolder + "\\MapData.XML")) return kDownloadFailed;
        // A reply holds at most 16 MiB, so the description fits any unsigned long.
        unsigned long size = static_cast<unsigned long>(description.size());
        if (FileWrite(downloadFolder + "\\", "MapData.XML", description.data(), &size) != 0) {
            VLOG(LOG_ERROR, "ファイル書込みエラー");
            return kDownloadFailed;
        }
    }
    return 0;
}
