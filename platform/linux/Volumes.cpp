// Volumes from udisks2's block objects, letters from the process's letter table, folders from
// the kernel's mount table.
#include "platform/linux/Volumes.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>

#include "platform/Error.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/VolumeFormat.h"

namespace platform::linuxpc {
namespace {

// A block device node's number and the udisks2 block it is; the block is null without udisks2.
// False when the node is no block device, or udisks2 does not know it.
[[nodiscard]] bool BlockAt(const std::string& node, const std::optional<UDisksObjects>& objects, dev_t* number,
                           const UDisksBlock** block) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    *number = st.st_rdev;
    *block = objects ? objects->BlockOf(st.st_rdev) : nullptr;
    return !objects || *block != nullptr;
}

// The volume behind a letter's node, described by udisks2 when it knows the node.
std::optional<Volume> VolumeAt(char letter, const std::string& node, const std::optional<UDisksObjects>& objects) {
    Volume volume;
    const UDisksBlock* block = nullptr;
    if (!BlockAt(node, objects, &volume.number, &block)) return std::nullopt;
    volume.letter = letter;
    volume.node = node;
    if (block) {
        volume.idType = block->idType;
        volume.uuid = block->idUuid;
        volume.label = block->idLabel;
        volume.object = block->object;
    }
    volume.folderNumber = volume.number;
    volume.folderObject = volume.object;
    if (std::optional<std::string> folderNode = DriveFolderDevice(letter); folderNode && *folderNode != node) {
        if (!BlockAt(*folderNode, objects, &volume.folderNumber, &block)) return std::nullopt;
        volume.folderObject = block ? block->object : std::string();
    }
    return volume;
}

}  // namespace

bool UnitCandidate(const UDisksBlock& block, const UDisksDrive* drive) {
    return drive != nullptr && drive->connectionBus == "usb" && drive->removable && block.idType == "vfat" &&
           !block.idUuid.empty();
}

std::vector<Volume> LetteredVolumes() {
    std::optional<UDisksObjects> objects = UDisksList();
    if (objects)
        for (const UDisksBlock& block : objects->blocks)
            if (UnitCandidate(block, objects->DriveOf(block)))
                static_cast<void>(LetterForVolume(block.idUuid, block.device));  // 0: no letter free, as on Windows
    std::vector<Volume> volumes;
    for (const auto& [letter, node] : LetteredDevices())
        if (auto volume = VolumeAt(letter, node, objects)) volumes.push_back(std::move(*volume));
    return volumes;
}

std::optional<Volume> LetteredVolume(char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (Volume& volume : LetteredVolumes())
        if (volume.letter == letter) return std::move(volume);
    return std::nullopt;
}

std::string VolumeGuidPath(const Volume& volume) {
    std::string digits;
    for (char c : volume.uuid)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += static_cast<char>(std::tolower(c));
    if (digits.empty()) {
        char number[17];
        std::snprintf(number, sizeof number, "%016llx", static_cast<unsigned long long>(volume.number));
        digits = number;
    }
    digits.resize(32, '0');
    return "\\\\?\\Volume{" + digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" +
           digits.substr(16, 4) + "-" + digits.substr(20, 12) + "}\\";
}

std::optional<std::string> VolumeFolder(const Volume& volume) {
    const VolumeFormat format = FormatOf(volume.node, volume.number, volume.idType);
    if (format == VolumeFormat::Unformatted) {
        SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return std::nullopt;
    }
    std::vector<std::string> points = MountPointsOf(volume.folderNumber);
    if (!points.empty()) return points.back();
    // A volume whose sector 0 this user cannot read may be a unit whose image step stopped
    // half-way: the program does not mount it (the desktop may have; that mount is used).
    if (format == VolumeFormat::Unknown) {
        SetLastError(ERROR_NOT_READY);
        return std::nullopt;
    }
    if (volume.folderObject.empty()) {
        SetLastError(ERROR_NOT_READY);
        return std::nullopt;
    }
    std::string point;
    if (uint32_t error = UDisksMount(volume.folderObject, &point); error != ERROR_SUCCESS) {
        SetLastError(error);
        return std::nullopt;
    }
    return point;
}

std::optional<std::pair<char, std::string>> VolumeOfNativePath(const std::string& nativePath) {
    // From the letter table alone: every path the program turns back into a Windows one passes
    // here, and a mounted volume's letter is known already.
    std::optional<std::pair<char, std::string>> best;
    for (const auto& [letter, node] : LetteredDevices()) {
        struct stat st {};
        const std::string folderNode = DriveFolderDevice(letter).value_or(node);
        if (::stat(folderNode.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
        for (const std::string& point : MountPointsOf(st.st_rdev)) {
            bool inside = nativePath.compare(0, point.size(), point) == 0 &&
                          (nativePath.size() == point.size() || nativePath[point.size()] == '/');
            if (inside && (!best || point.size() > best->second.size())) best = std::make_pair(letter, point);
        }
    }
    return best;
}

}  // namespace platform::linuxpc
