// File and folder services on Windows paths, with the Windows results and last errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
// A junction or symbolic link (on Linux a symbolic link): the attributes are the link's own.
constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

// The runtime library's fopen on a Windows path (modes as in C; "t" is accepted and ignored).
[[nodiscard]] FILE* fopen(const char* path, const char* mode);
// Writes the stream's buffer and has the system put the file's data on the disk
// (FlushFileBuffers; fdatasync on Linux): false when either fails.
[[nodiscard]] bool FlushToDisk(FILE* file);

[[nodiscard]] uint32_t GetFileAttributesA(const char* path);
[[nodiscard]] bool CreateDirectoryA(const char* path);
[[nodiscard]] bool RemoveDirectoryA(const char* path);
[[nodiscard]] bool DeleteFileA(const char* path);
[[nodiscard]] bool CopyFileA(const char* existing, const char* newFile, bool failIfExists);
[[nodiscard]] bool MoveFileA(const char* existing, const char* newFile);

struct FindData {
    std::string name;  // CP932, without folder
    uint32_t attributes = 0;
    uint64_t size = 0;
};
// The entries of a folder that match the wildcard of the pattern's last component, in the
// folder's order, "." and ".." included where they match (as the system lists them). An
// unknown folder gives none, with the last error set.
std::vector<FindData> FindFiles(std::string_view pattern);

// Free and total clusters of the file system that holds `path` (any folder on it, not only a
// root). Cluster counts are 64-bit: today's drives overflow 32 bits.
[[nodiscard]] bool GetDiskFreeSpaceA(const char* path, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                                     uint64_t* freeClusters, uint64_t* totalClusters);

// The running executable as a Windows path; tests and tools may place it elsewhere.
[[nodiscard]] uint32_t GetModuleFileNameA(char* buffer, uint32_t size);
void SetModuleFileNameForProcess(const std::string& nativePath);
// The native path of the executable (for the platform's own look-ups).
std::string ModuleNativePath();
// The executable's native path as the system tells it, whatever was set (each backend's own).
std::string SystemModulePath();

[[nodiscard]] uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer);

}  // namespace platform
