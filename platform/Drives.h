// Logical drives: the letter bitmask, the drive type and the shell's display name.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t DRIVE_UNKNOWN = 0;
constexpr uint32_t DRIVE_NO_ROOT_DIR = 1;
constexpr uint32_t DRIVE_REMOVABLE = 2;
constexpr uint32_t DRIVE_FIXED = 3;
constexpr uint32_t DRIVE_REMOTE = 4;
constexpr uint32_t DRIVE_CDROM = 5;

constexpr uint32_t SHGFI_DISPLAYNAME = 0x200;

struct SHFILEINFOA {
    void* hIcon = nullptr;
    int iIcon = 0;
    uint32_t dwAttributes = 0;
    char szDisplayName[260] = {};
    char szTypeName[80] = {};
};

// Bit n set: drive letter 'A' + n is present.
uint32_t GetLogicalDrives();
// The type of the drive of a root such as "E:\", or of a volume by its GUID path
// ("\\?\Volume{...}\", letter or not); DRIVE_NO_ROOT_DIR for an absent letter or volume.
uint32_t GetDriveTypeA(const char* rootPath);
// With SHGFI_DISPLAYNAME: the drive's display name in CP932 ("リムーバブル ディスク (E:)").
// Non-zero on success.
[[nodiscard]] uintptr_t SHGetFileInfoA(const char* path, uint32_t fileAttributes, SHFILEINFOA* info, uint32_t infoSize,
                                       uint32_t flags);

}  // namespace platform
