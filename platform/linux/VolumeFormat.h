// The unformatted check of the real PC, for root and desktop user alike. Windows calls a volume
// whose sector 0 holds no signed boot sector RAW; blkid, udev, udisks2 and the kernel's FAT
// driver still take a FAT volume whose boot signature (55 AA) is cleared for one, and mounting
// it would show files the image step is rewriting. So sector 0 decides, read without asking
// anyone for a privilege: plainly where the kernel lets this user open the device (root, the
// "disk" group), else as the last descriptor this process held on the same medium read it (the
// raw handle's, which udisks2 gave it). Where neither can read it the volume is Unknown, and the
// program mounts only a Formatted volume.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform::linuxpc {

enum class VolumeFormat {
    Formatted,    // a file system the program may mount
    Unformatted,  // sector 0 holds no signed FAT boot sector: Windows' RAW volume
    Unknown,      // sector 0 could not be read by this user; not mounted by the program
};

// The rule: blkid's word for a file system other than FAT; sector 0 (nullopt: unread) for FAT
// and for what blkid named nothing (`idType` empty).
VolumeFormat FormatFrom(const std::string& idType, std::optional<bool> fatSector0);
// The volume at `node` (device number `device`, `idType` as udisks2 reports blkid's finding),
// with sector 0 read as told above.
VolumeFormat FormatOf(const std::string& node, dev_t device, const std::string& idType);
// What sector 0 held when a raw handle of this process read it through its descriptor (at the
// unlock, before the descriptor goes); kept for the device while the same medium is in it.
void RememberSector0(dev_t device, bool holdsFat);

}  // namespace platform::linuxpc
