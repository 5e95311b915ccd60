// File and folder services through the W calls: binary fopen modes, wildcard searches that skip
// names CP932 cannot hold, and free space from the volume's cluster geometry.
#include "platform/Files.h"

#include <io.h>

#include <cerrno>
#include <optional>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

using win32::Wide;

// The program's fopen modes without "t": files are read and written as the bytes they hold,
// as on every other system, and the program writes its own CR LF.
std::wstring BinaryMode(const char* mode) {
    std::wstring m;
    for (const char* c = mode; *c; ++c)
        if (*c != 't' && *c != 'b') m += static_cast<wchar_t>(*c);
    return m + L'b';
}

}  // namespace

FILE* fopen(const char* path, const char* mode) {
    auto wide = Wide(path);
    if (!wide || mode == nullptr) return nullptr;
    FILE* f = ::_wfopen(wide->c_str(), BinaryMode(mode).c_str());
    if (!f) SetLastError(ErrorFromErrno(errno));
    return f;
}

bool FlushToDisk(FILE* file) {
    if (::fflush(file) != 0) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle);
}

uint32_t GetFileAttributesA(const char* path) {
    auto wide = Wide(path);
    return wide ? ::GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectoryA(const char* path) {
    auto wide = Wide(path);
    return wide && ::CreateDirectoryW(wide->c_str(), nullptr);
}

bool RemoveDirectoryA(const char* path) {
    auto wide = Wide(path);
    return wide && ::RemoveDirectoryW(wide->c_str());
}

bool DeleteFileA(const char* path) {
    auto wide = Wide(path);
    return wide && ::DeleteFileW(wide->c_str());
}

bool CopyFileA(const char* existing, const char* newFile, bool failIfExists) {
    auto from = Wide(existing);
    auto to = from ? Wide(newFile) : std::nullopt;
    return to && ::CopyFileW(from->c_str(), to->c_str(), failIfExists);
}

bool MoveFileA(const char* existing, const char* newFile) {
    auto from = Wide(existing);
    auto to = from ? Wide(newFile) : std::nullopt;
    return to && ::MoveFileW(from->c_str(), to->c_str());
}

std::vector<FindData> FindFiles(std::string_view pattern) {
    std::vector<FindData> found;
    auto wide = Wide(std::string(pattern).c_str());
    if (!wide) return found;
    // The basic information only: no 8.3 short names, so a pattern matches the names as the
    // program sees them.
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileExW(wide->c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        // A name CP932 cannot hold cannot be named by the program either: it is left out.
        auto name = win32::Narrow(data.cFileName);
        if (!name) continue;
        FindData entry;
        entry.name = *name;
        entry.attributes = data.dwFileAttributes;
        entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        found.push_back(std::move(entry));
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    if (found.empty()) SetLastError(ERROR_FILE_NOT_FOUND);
    return found;
}

bool GetDiskFreeSpaceA(const char* path, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector, uint64_t* freeClusters,
                       uint64_t* totalClusters) {
    auto wide = Wide(path);
    if (!wide) return false;
    // The cluster geometry is the volume's (asked at its root); the counts come from the
    // 64-bit byte figures, which any folder on the volume gives.
    wchar_t root[MAX_PATH + 1];
    ULARGE_INTEGER available, total;
    DWORD sectors = 0, bytes = 0, freeSmall = 0, totalSmall = 0;
    if (!::GetVolumePathNameW(wide->c_str(), root, MAX_PATH + 1) ||
        !::GetDiskFreeSpaceW(root, &sectors, &bytes, &freeSmall, &totalSmall) ||
        !::GetDiskFreeSpaceExW(wide->c_str(), &available, &total, nullptr))
        return false;
    const uint64_t cluster = static_cast<uint64_t>(sectors) * bytes;
    if (cluster == 0) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    *sectorsPerCluster = sectors;
    *bytesPerSector = bytes;
    *freeClusters = available.QuadPart / cluster;
    *totalClusters = total.QuadPart / cluster;
    return true;
}

std::string SystemModulePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) return win32::NarrowNative(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

uint32_t GetModuleFileNameA(char* buffer, uint32_t size) {
    auto windows = ToWindowsPath(ModuleNativePath());
    return windows ? win32::CopyOut(*windows, buffer, size) : 0;
}

uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer) {
    DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring wide(n, L'\0');
    n = n ? ::GetCurrentDirectoryW(n, wide.data()) : 0;
    if (n == 0) return 0;
    auto cp932 = win32::Narrow(std::wstring_view(wide.data(), n));
    if (!cp932) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    return win32::CopyOut(*cp932, buffer, size);
}

}  // namespace platform
