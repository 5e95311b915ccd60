// Real block devices for the real PC's raw path: an image file attached to a loop device with
// losetup (as root), FAT images made by mkfs.vfat and seeded with mmd/mcopy, checked with
// fsck.fat and mtools. Each test asks LoopSkipReason() first and skips with its text where the
// machine has no loop devices or the tools are missing.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TestWorld.h"

// Runs a shell command, its output out of sight; true when it exits 0.
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A command's standard output, or "" when it fails.
inline std::string ShellOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    return ::pclose(pipe) == 0 ? output : std::string();
}

// Empty when loop-device tests can run here, else why not.
inline std::string LoopSkipReason() {
    if (::geteuid() != 0) return "loop devices need root";
    if (::access("/dev/loop-control", F_OK) != 0) return "this kernel has no loop devices (/dev/loop-control)";
    for (const char* tool : {"losetup", "mkfs.vfat", "fsck.fat", "mcopy", "mmd", "mtype"})
        if (!Shell(std::string("command -v ") + tool))
            return std::string(tool) + " is missing (scripts/install-deps.sh installs dosfstools and mtools)";
    return {};
}

// A FAT16 volume image of `bytes` at `path` with the unit's identity and version files; sector 5
// lies in the reserved area, where the image step keeps its second boot signature.
inline bool MakeUnitFatImage(const std::string& path, size_t bytes, const std::string& folder) {
    TestWorld::WriteFile(folder + "/DEVICE.DAT", "NAVI-UNIT-0001\r\n");
    TestWorld::WriteFile(folder + "/MAP.VER", "2025101\r\n");
    return Shell("truncate -s " + std::to_string(bytes) + " '" + path + "'") &&
           Shell("mkfs.vfat -F 16 -S 512 -s 1 -R 8 -n NAVI '" + path + "'") &&
           Shell("mmd -i '" + path + "' ::/UPDATE ::/UPDATE/NAVIINFO") &&
           Shell("mcopy -i '" + path + "' '" + folder + "/DEVICE.DAT' ::/UPDATE/NAVIINFO/DEVICE.DAT") &&
           Shell("mcopy -i '" + path + "' '" + folder + "/MAP.VER' ::/MAP.VER");
}

// The offset of the one partition of a partitioned image: 1 MiB, as partitioning tools align it.
constexpr off_t kPartitionOffset = 1 << 20;

// What most USB sticks are: `disk` becomes an MBR with one FAT partition (type 0x0c) at
// kPartitionOffset holding the volume image `volume`.
inline bool MakePartitionedImage(const std::string& disk, const std::string& volume) {
    return Shell("dd if='" + volume + "' of='" + disk + "' bs=1M seek=1 status=none") &&
           Shell("echo 'start=2048, type=c' | sfdisk -q '" + disk + "'");
}

// Empty when partitioned loop devices can be made here (after LoopSkipReason), else why not.
inline std::string PartitionSkipReason() {
    for (const char* tool : {"sfdisk", "partx"})
        if (!Shell(std::string("command -v ") + tool))
            return std::string(tool) + " is missing (scripts/install-deps.sh installs fdisk and util-linux)";
    return {};
}

// A file attached to a free loop device for the object's life; a partitioned one shows its
// partitions as "<node>p1"... (added through BLKPG where the kernel reads no partition table).
class LoopDevice {
public:
    explicit LoopDevice(const std::string& backingFile, unsigned sectorSize = 512, bool partitioned = false) {
        std::string output = ShellOutput("losetup -f --show " + std::string(partitioned ? "-P " : "") +
                                         "--sector-size " + std::to_string(sectorSize) + " '" + backingFile + "'");
        while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
        node_ = output;
        // Where udev runs, it handles the new disk first and may read its partition table again
        // meanwhile, dropping partitions added before: they are added once it is done.
        for (int attempt = 0; partitioned && !node_.empty() && attempt < 3; ++attempt) {
            static_cast<void>(Shell("udevadm settle -t 10"));  // fails at once without udev
            if (::access((node_ + "p1").c_str(), F_OK) == 0) break;
            static_cast<void>(Shell("partx -a '" + node_ + "'"));  // the node's presence tells
        }
        if (partitioned && ::access((node_ + "p1").c_str(), F_OK) != 0) {
            static_cast<void>(Shell("losetup -d " + node_));  // nothing to keep
            node_.clear();
        }
        if (!node_.empty()) static_cast<void>(Shell("udevadm settle -t 10"));
    }
    ~LoopDevice() {
        // Detaching is what a pulled unit does; a failure leaves a loop device behind, nothing more.
        if (!node_.empty()) Shell("losetup -d " + node_);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    // "/dev/loopN", empty when losetup failed.
    const std::string& Node() const { return node_; }

private:
    std::string node_;
};
