// The file helpers at work on the platform's file services: whole-file reads and writes that never
// leave a half-written file as good, wildcard deletion, download folders and free space.
#include "common/FileUtil.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/RawVolume.h"

namespace {

static constexpr char kLogSource[] = ".\\Common";

// Windows opens these as devices whatever extension follows, in any case, with blanks before the
// extension ("NUL .txt"), in every folder.
bool IsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device) return true;
    // COM0 and LPT0 are reserved as well as 1 to 9.
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '0' && base[3] <= '9';
}

// The five sub-folders of a download folder, in the order each function visits them.
const char* const kCheckOrder[] = {"CONF", "RENEWAL", "FLASH", "FLASH\\RENEWAL", "FLASH2"};
const char* const kCreateOrder[] = {"CONF", "FLASH", "FLASH\\RENEWAL", "RENEWAL", "FLASH2"};

bool FolderExists(const std::string& path) {
    uint32_t attributes = platform::GetFileAttributesA(path.c_str());
    return attributes != platform::INVALID_FILE_ATTRIBUTES && (attributes & platform::FILE_ATTRIBUTE_DIRECTORY);
}

std::string DownloadFolder(const std::string& name) { return theApp.MapFolder + "\\" + name; }

// The part of a path after its drive ("C:").
size_t AfterDrive(const std::string& path) { return path.size() >= 2 && path[1] == ':' ? 2 : 0; }

// The nearest folder of `path` that exists, so free space can be read before the map folder
// has been created.
std::string ExistingFolderOf(std::string path) {
    while (!FolderExists(path)) {
        size_t slash = platform::FindLastChar(path, '\\');
        if (slash == std::string::npos || slash <= AfterDrive(path)) return path.substr(0, AfterDrive(path)) + "\\";
        path = path.substr(0, slash);
    }
    return path;
}

// FileRead's body; with capacity null every call takes a fresh zeroed block.
int ReadWhole(const std::string& folder, const std::string& name, unsigned char** buffer, size_t* capacity,
              unsigned long* size) {
    return OPERATION("FileRead", Format("[%s%s]", folder.c_str(), name.c_str()), kFileReadFailed, [&] {
        std::string path = folder + name;
        FILE* file = platform::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            VLOG(LOG_ERROR, "ファイルオープンエラー");
            *size = 0;
            return kFileReadFailed;
        }
        off_t length = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
        // The caller's size is an unsigned long, 32 bits on Windows: a larger file is refused,
        // never read in part.
        if (length < 0 || static_cast<uint64_t>(length) > ULONG_MAX || fseeko(file, 0, SEEK_SET) != 0) {
            fclose(file);
            VLOG(LOG_ERROR, "ファイルレングスエラー");
            *size = 0;
            return kFileReadFailed;
        }
        const size_t needed = static_cast<size_t>(length) + 513;
        if (capacity == nullptr || needed > *capacity) {
            // The reused blocks carry image pieces straight to the raw volume: sector-aligned.
            unsigned char* data =
                capacity == nullptr ? static_cast<unsigned char*>(calloc(needed, 1)) : platform::NewRawBuffer(needed);
            if (data == nullptr) {
                fclose(file);
                throw std::bad_alloc();
            }
            if (capacity != nullptr) {
                platform::FreeRawBuffer(*buffer);
                *capacity = needed;
            }
            *buffer = data;
        }
        size_t count = fread(*buffer, 1, static_cast<size_t>(length), file);
        fclose(file);
        if (count != static_cast<size_t>(length)) {
            VLOG(LOG_ERROR, "ファイルレングスエラー");
            return kFileReadFailed;
        }
        *size = static_cast<unsigned long>(count);
        return 0;
    });
}

}  // namespace

int FileRead(const std::string& folder, const std::string& name, unsigned char** buffer, unsigned long* size) {
    return ReadWhole(folder, name, buffer, nullptr, size);
}

int FileReadReusing(const std::string& folder, const std::string& name, unsigned char** buffer, size_t* capacity,
                    unsigned long* size) {
    return ReadWhole(folder, name, buffer, capacity, size);
}

int FileWrite(const std::string& folder, const std::string& name, const void* data, const unsigned long* size) {
    return OPERATION("FileWrite", Format("[%s%s]", folder.c_str(), name.c_str()), kFileWriteFailed, [&] {
        std::string path = folder + name;
        FILE* file = platform::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            VLOG(LOG_ERROR, "ファイルオープンエラー[%d]", static_cast<int>(platform::GetLastError()));
            return kFileWriteFailed;
        }
        // A short write or a failed close is a failed write, never a good file.
        bool written = fwrite(data, 1, *size, file) == *size;
        bool closed = fclose(file) == 0;
        if (!written || !closed) {
            VLOG(LOG_ERROR, "ファイル書込エラー[%d]", errno);
            return kFileWriteFailed;
        }
        return 0;
    });
}

int FileDelete(const std::string& pattern) {
    return OPERATION("FileDelete", Format("[%s]", pattern.c_str()), -1, OnException::LogOnly, [&] {
        size_t slash = platform::FindLastChar(pattern, '\\');
        std::string folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
        bool any = false;
        for (const platform::FindData& entry : platform::FindFiles(pattern)) {
            if (entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) continue;
            any = true;
            std::string path = folder + entry.name;
            if (!platform::DeleteFileA(path.c_str())) throw std::runtime_error("delete failed");
            VLOG(LOG_TRACE, "削除ファイル名:%s", path.c_str());
        }
        if (!any) VLOG(LOG_TRACE, "ファイル無し");
        return 0;
    });
}

std::optional<uint64_t> FoundFileSize(const std::string& path) {
    for (const platform::FindData& entry : platform::FindFiles(path))
        if (!(entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)) return entry.size;
    return std::nullopt;
}

bool IsInsideMapFolder(std::string folder) {
    std::string top = theApp.MapFolder;
    for (std::string* path : {&folder, &top})
        while (!path->empty() && path->back() == '\\' && platform::CharLength(*path, path->size() - 1) == 1)
            path->pop_back();
    if (top.empty() || folder.size() < top.size() || !platform::EqualsNoCase(folder.substr(0, top.size()), top))
        return false;
    for (size_t start = top.size(); start < folder.size();) {
        if (folder[start] != '\\') return false;
        size_t end = platform::FindChar(folder, '\\', start + 1);
        if (!IsPlainName(folder.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1)))
            return false;
        start = end == std::string::npos ? folder.size() : end;
    }
    return true;
}

bool LinkBelowMapFolder(const std::string& path) {
    for (size_t end = theApp.MapFolder.size(); end != std::string::npos && end < path.size();) {
        end = platform::FindChar(path, '\\', end + 1);
        uint32_t attributes = platform::GetFileAttributesA(path.substr(0, end).c_str());
        if (attributes != platform::INVALID_FILE_ATTRIBUTES && (attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT)) {
            VLOG(LOG_ERROR, "リンクを含むフォルダ[%s]", path.c_str());
            return true;
        }
    }
    return false;
}

bool LinkInDownloadFolder(const std::string& folder) {
    std::vector<std::string> paths{folder};
    for (const char* sub : kCheckOrder) paths.push_back(folder + "\\" + sub);
    for (const std::string& path : paths) {
        if (LinkBelowMapFolder(path)) return true;
        for (const platform::FindData& entry : platform::FindFiles(path + "\\*.*")) {
            if (!(entry.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            VLOG(LOG_ERROR, "リンクを含むフォルダ[%s\\%s]", path.c_str(), entry.name.c_str());
            return true;
        }
    }
    return false;
}

bool IsPlainName(const std::string& name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (size_t i = 0; i < name.size(); i += platform::CharLength(name, i)) {
        if (platform::CharLength(name, i) == 2) continue;
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F ||
            std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    }
    return !IsDeviceName(name);
}

int DownloadFolderCheck(const std::string& name) {
    return OPERATION("DownloadFolderCheck", Format("[%s]", name.c_str()), -1, [&] {
        std::string folder = DownloadFolder(name);
        if (!FolderExists(folder)) {
            VLOG(LOG_TRACE, "フォルダ無し");
            return 1;
        }
        for (const char* sub : kCheckOrder) {
            if (!FolderExists(folder + "\\" + sub)) {
                VLOG(LOG_TRACE, "フォルダ無し");
                return 1;
            }
        }
        return 0;
    });
}

int DownloadFolderCreate(const std::string& name) {
    return OPERATION("DownloadFolderCreate", Format("[%s]", name.c_str()), kFolderCreateFailed, [&] {
        std::string folder = DownloadFolder(name);
        std::vector<std::string> paths{folder};
        for (const char* sub : kCreateOrder) paths.push_back(folder + "\\" + sub);
        for (const std::string& path : paths) {
            // A folder that is a link would take the download wherever it points.
            if (LinkBelowMapFolder(path)) return kFolderCreateFailed;
            if (FolderExists(path)) continue;
            if (!platform::CreateDirectoryA(path.c_str())) {
                VLOG(LOG_ERROR, "フォルダ作成失敗[%s][%d]", path.c_str(), static_cast<int>(platform::GetLastError()));
                return kFolderCreateFailed;
            }
        }
        return 0;
    });
}

int GetDiskSpace(double* totalGigabytes, double* freeGigabytes) {
    return OPERATION("GetDiskSpace", "", -1, [&] {
        if (theApp.MapFolder.empty()) {
            if (GetDriveLetter(theApp.ProgramFolder).empty()) return 0;
            theApp.MapFolder = theApp.ProgramFolder;
            theApp.HistoryIniPath = theApp.ProgramFolder + "History.ini";
            VLOG(LOG_ERROR, "ディスク[%s]", theApp.MapFolder.c_str());
        }
        // The map folder itself is asked, not its drive root: on this platform "Z:\" is "/",
        // and the map folder often lies on another file system.
        std::string path = ExistingFolderOf(theApp.MapFolder);
        uint32_t sectorsPerCluster = 0, bytesPerSector = 0;
        uint64_t freeClusters = 0, totalClusters = 0;
        if (!platform::GetDiskFreeSpaceA(path.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                         &totalClusters)) {
            theApp.Messages.ShowErrorMessage(kSystemError, "E98", "");
            VLOG(LOG_ERROR, "ディスク容量取得エラー[%s:%d]", theApp.MapFolder.c_str(), 0);
            return 1;
        }
        *totalGigabytes = ClustersToGigabytes(totalClusters, sectorsPerCluster, bytesPerSector);
        *freeGigabytes = ClustersToGigabytes(freeClusters, sectorsPerCluster, bytesPerSector);
        return 0;
    });
}

double ClustersToGigabytes(uint64_t clusters, uint32_t sectorsPerCluster, uint32_t bytesPerSector) {
    // 64-bit products: drives of a few TiB overflow 32 bits. Whole blocks of 512 clusters.
    const uint64_t clusterBytes = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
    return static_cast<double>(clusters / 512 * clusterBytes) * (1.0 / (1 << 21));
}

std::string GigabytesFree(const std::string& path) {
    uint32_t sectors = 0, bytes = 0;
    uint64_t freeClusters = 0, total = 0;
    if (path.empty() || !platform::GetDiskFreeSpaceA(path.c_str(), &sectors, &bytes, &freeClusters, &total))
        return "不明";
    return Format("%.1fGB", ClustersToGigabytes(freeClusters, sectors, bytes));
}

std::string GetDriveLetter(const std::string& path) {
    if (AfterDrive(path) == 0) return "";
    char letter = path[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
    return std::string(1, letter);
}

std::string GetDirectoryPart(const std::string& path) {
    size_t start = AfterDrive(path);
    size_t slash = platform::FindLastChar(path, '\\');
    if (slash == std::string::npos || slash < start) return "";
    return path.substr(start, slash + 1 - start);
}

std::string GetFileNamePart(const std::string& path) {
    size_t slash = platform::FindLastChar(path, '\\');
    size_t start = slash == std::string::npos ? AfterDrive(path) : slash + 1;
    return path.substr(start);
}
