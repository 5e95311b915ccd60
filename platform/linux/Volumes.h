// The real PC's volumes as the program sees them: FAT file systems on removable USB disks, each
// with its drive letter for the life of the process, a volume GUID path, and its folder, which
// is where the file system is mounted (through udisks2 when nobody has mounted it).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/UDisks.h"

namespace platform::linuxpc {

struct Volume {
    char letter = 0;
    std::string node;  // "/dev/sdb1"
    dev_t number = 0;
    std::string idType;  // as blkid saw it ("vfat"); empty when unknown
    std::string uuid;
    std::string label;
    std::string object;  // the udisks2 block, empty without udisks2
    // The file system mounted as the drive's folder: the volume's own, or the stand-in the
    // letter table's test hook names.
    dev_t folderNumber = 0;
    std::string folderObject;
};

// Whether a block udisks2 shows is a volume the program may use: a FAT file system on a
// removable disk on the USB bus.
bool UnitCandidate(const UDisksBlock& block, const UDisksDrive* drive);
// Gives letters to the candidates udisks2 shows now and lists every lettered volume present,
// in letter order. Without udisks2 the letters given to device nodes stand alone.
std::vector<Volume> LetteredVolumes();
std::optional<Volume> LetteredVolume(char letter);
// "\\?\Volume{...}\" made from the file system's UUID (from the device number without one).
std::string VolumeGuidPath(const Volume& volume);
// The drive's folder, mounted through udisks2 when it is not mounted; nullopt with the last
// error set: ERROR_UNRECOGNIZED_VOLUME when sector 0 holds no file system (never mounted then),
// ERROR_NOT_READY when this user cannot read sector 0 and nobody has mounted the volume
// (VolumeFormat.h: Unknown volumes are not mounted by the program).
[[nodiscard]] std::optional<std::string> VolumeFolder(const Volume& volume);
// The lettered volume mounted where nativePath lies (the longest match), with its mount point.
std::optional<std::pair<char, std::string>> VolumeOfNativePath(const std::string& nativePath);

}  // namespace platform::linuxpc
