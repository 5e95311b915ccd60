// File and folder services on the native file system: Windows paths mapped to native ones,
// errno turned into the Windows last errors, the free space a simulated drive states, and
// copies onto a real PC's removable volume written through to it.
#include "platform/Files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

std::optional<std::string> Native(const char* path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    return ToNativePath(path);
}

bool Fail() {
    SetLastError(ErrorFromErrno(errno));
    return false;
}

// A path on one of the real PC's drive letters other than Z: (the native root): a volume of a
// USB disk, which Windows writes through to (quick removal); Linux's page cache would keep a
// copy off the stick until its writeback, long after the program has called the copy done.
bool OnRemovableVolume(const char* windowsPath) {
    if (!CurrentMachine().copiesWriteThrough || windowsPath[0] == '\0' || windowsPath[1] != ':') return false;
    return std::isalpha(static_cast<unsigned char>(windowsPath[0])) &&
           std::toupper(static_cast<unsigned char>(windowsPath[0])) != 'Z';
}

uint32_t CopyPath(const std::string& text, char* buffer, uint32_t size) {
    if (text.size() + 1 > size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

}  // namespace

FILE* fopen(const char* path, const char* mode) {
    auto native = Native(path);
    if (!native) return nullptr;
    std::string m;
    for (const char* c = mode; *c; ++c)
        if (*c != 't') m += *c;
    FILE* f = ::fopen(native->c_str(), m.c_str());
    if (!f) SetLastError(ErrorFromErrno(errno));
    return f;
}

bool FlushToDisk(FILE* file) { return ::fflush(file) == 0 && ::fdatasync(::fileno(file)) == 0; }

uint32_t GetFileAttributesA(const char* path) {
    auto native = Native(path);
    struct stat st {};
    if (!native || ::lstat(native->c_str(), &st) != 0) {
        if (native) SetLastError(ErrorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    // As on Windows, a link is marked and is a directory when it points at one.
    uint32_t attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        if (::stat(native->c_str(), &st) != 0) st.st_mode = 0;
    }
    if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (::access(native->c_str(), W_OK) != 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool CreateDirectoryA(const char* path) {
    auto native = Native(path);
    if (!native) return false;
    return ::mkdir(native->c_str(), 0755) == 0 || Fail();
}

bool RemoveDirectoryA(const char* path) {
    auto native = Native(path);
    if (!native) return false;
    return ::rmdir(native->c_str()) == 0 || Fail();
}

bool DeleteFileA(const char* path) {
    auto native = Native(path);
    if (!native) return false;
    struct stat st {};
    if (::lstat(native->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return ::unlink(native->c_str()) == 0 || Fail();
}

bool CopyFileA(const char* existing, const char* newFile, bool failIfExists) {
    auto from = Native(existing);
    auto to = Native(newFile);
    if (!from || !to) return false;
    int in = ::open(from->c_str(), O_RDONLY);
    if (in < 0) return Fail();
    int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : O_TRUNC);
    int out = ::open(to->c_str(), flags, 0644);
    if (out < 0) {
        int err = errno;
        ::close(in);
        // Windows names a target that is there already this way for a copy.
        if (err == EEXIST) {
            SetLastError(ERROR_FILE_EXISTS);
            return false;
        }
        errno = err;
        return Fail();
    }
    static constexpr size_t kChunk = 1 << 20;
    std::string buffer(kChunk, '\0');
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), kChunk);
        if (n == 0) break;
        if (n < 0) {
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    if (ok && OnRemovableVolume(newFile) && ::fsync(out) != 0) ok = false;
    int err = errno;
    ::close(in);
    if (::close(out) != 0) ok = false;
    if (!ok) {
        // A half-written copy is never left behind as if it were good.
        ::unlink(to->c_str());
        errno = err ? err : EIO;
        return Fail();
    }
    CurrentMachine().FileWritten(*to);
    return true;
}

bool MoveFileA(const char* existing, const char* newFile) {
    auto from = Native(existing);
    auto to = Native(newFile);
    if (!from || !to) return false;
    struct stat st {};
    if (::lstat(to->c_str(), &st) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    return ::rename(from->c_str(), to->c_str()) == 0 || Fail();
}

std::vector<FindData> FindFiles(std::string_view pattern) {
    std::vector<FindData> found;
    std::string folderPart;
    std::string namePattern(pattern);
    size_t slash = FindLastChar(pattern, '\\');
    if (slash != std::string_view::npos) {
        folderPart = std::string(pattern.substr(0, slash + 1));
        namePattern = std::string(pattern.substr(slash + 1));
    } else if (pattern.size() >= 2 && pattern[1] == ':') {
        folderPart = std::string(pattern.substr(0, 2));
        namePattern = std::string(pattern.substr(2));
    }
    auto folder = ToNativePath(folderPart.empty() ? "." : folderPart);
    if (!folder) return found;
    if (folder->empty()) *folder = ".";
    DIR* dir = ::opendir(folder->c_str());
    if (!dir) {
        SetLastError(ErrorFromErrno(errno));
        return found;
    }
    while (dirent* entry = ::readdir(dir)) {
        auto name = Utf8ToCp932(entry->d_name);
        if (!name || !MatchesWildcard(*name, namePattern)) continue;
        struct stat st {};
        std::string full = *folder + "/" + entry->d_name;
        if (::lstat(full.c_str(), &st) != 0) continue;
        // As on Windows, a link is listed marked, even when it points nowhere.
        const bool link = S_ISLNK(st.st_mode);
        if (link && ::stat(full.c_str(), &st) != 0) st = {};
        FindData data;
        data.name = *name;
        data.attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        if (link) data.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        data.size = static_cast<uint64_t>(st.st_size);
        found.push_back(std::move(data));
    }
    ::closedir(dir);
    if (found.empty()) SetLastError(ERROR_FILE_NOT_FOUND);
    return found;
}

bool GetDiskFreeSpaceA(const char* path, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector, uint64_t* freeClusters,
                       uint64_t* totalClusters) {
    auto native = Native(path);
    if (!native) return false;
    struct statvfs vfs {};
    if (::statvfs(native->empty() ? "." : native->c_str(), &vfs) != 0) return Fail();
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    if (std::optional<uint64_t> stated =
            path[0] != '\0' && path[1] == ':' ? CurrentMachine().StatedFreeBytes(letter) : std::nullopt) {
        // A simulated drive that states its free space: 4 KiB clusters, the total at least that.
        *bytesPerSector = 512;
        *sectorsPerCluster = 8;
        *freeClusters = *stated / 4096;
        *totalClusters = std::max<uint64_t>(*freeClusters, vfs.f_blocks);
        return true;
    }
    // One cluster is the file system's fragment; report it as 512-byte sectors where it can be.
    uint64_t cluster = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    uint32_t sector = cluster % 512 == 0 ? 512 : static_cast<uint32_t>(cluster);
    *bytesPerSector = sector;
    *sectorsPerCluster = static_cast<uint32_t>(cluster / sector);
    *freeClusters = vfs.f_bavail;
    *totalClusters = vfs.f_blocks;
    return true;
}

std::string SystemModulePath() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

uint32_t GetModuleFileNameA(char* buffer, uint32_t size) {
    auto windows = ToWindowsPath(ModuleNativePath());
    if (!windows) return 0;
    return CopyPath(*windows, buffer, size);
}

uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer) {
    char native[4096];
    if (!::getcwd(native, sizeof native)) return Fail();
    auto windows = ToWindowsPath(native);
    if (!windows) return 0;
    return CopyPath(*windows, buffer, size);
}

}  // namespace platform
