// Reading a FAT boot sector's signature and parameters (BIOS parameter block).
#include "platform/linux/BootSector.h"

#include <unistd.h>

#include <cstdint>

namespace platform::linuxpc {
namespace {

uint16_t Le16(const unsigned char* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

bool PowerOfTwo(unsigned value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool HoldsFatFileSystem(const unsigned char (&sector)[512]) {
    if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
    bool jump = sector[0] == 0xEB || sector[0] == 0xE9;
    unsigned bytesPerSector = Le16(sector + 11);
    unsigned sectorsPerCluster = sector[13];
    unsigned reservedSectors = Le16(sector + 14);
    unsigned fats = sector[16];
    return jump && PowerOfTwo(bytesPerSector) && bytesPerSector >= 512 && bytesPerSector <= 4096 &&
           PowerOfTwo(sectorsPerCluster) && reservedSectors != 0 && fats != 0;
}

std::string FatLabel(const unsigned char (&sector)[512]) {
    if (!HoldsFatFileSystem(sector)) return {};
    // FAT32 has no 16-bit FAT size, and its extended parameters start further on.
    size_t at = Le16(sector + 22) == 0 ? 71 : 43;
    std::string label(reinterpret_cast<const char*>(sector + at), 11);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
    return label == "NO NAME" ? std::string() : label;
}

std::optional<bool> DeviceHoldsFatFileSystem(int fd) {
    unsigned char sector[512];
    if (::pread(fd, sector, sizeof sector, 0) != static_cast<ssize_t>(sizeof sector)) return std::nullopt;
    return HoldsFatFileSystem(sector);
}

}  // namespace platform::linuxpc
