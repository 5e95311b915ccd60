// What the program knows of the navigation unit: its drive, identity and version, the raw
// handle of its volume and the flags that keep discovery away from a unit a job holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Handle.h"

// Byte positions of the raw reads and writes on the unit's volume (32-bit, as the seeks are).
struct IMAGE_POSITION {
    uint32_t readPosition = 0;
    uint32_t writePosition = 0;
};

// The strings are written on the user-interface thread only while no job holds the unit; the
// transfer job takes its own copy of NaviDrive when it starts.
struct NaviUnitState {
    std::string NaviDrive;        // "E:\" or empty
    std::string NaviVolumeName;   // "\\?\Volume{...}\"
    std::string NaviDeviceId;     // text of DEVICE.DAT
    std::string NaviVersion;      // CURRVER.DAT's version without dots
    std::string NaviVersionName;  // from MAP.VER, at most 12 bytes
    std::string NaviInstanceId;   // the instance ID of the USB device whose disk holds the volume
    // The volume's free space as discovery read it, before the hold locked the file system away;
    // empty when unknown.
    std::string NaviFreeSpace;
    std::atomic<platform::HANDLE> DriveHandle{nullptr};
    IMAGE_POSITION ImagePosition;
    std::vector<std::string> LetterlessVolumes;
    std::atomic<int32_t> TransferRunning{0};
    std::atomic<int32_t> CompetingProcess{0};
    std::atomic<int32_t> CompetingCount{0};
    std::atomic<int32_t> ImageWritePending{0};
    // 1 while the unit found is the one the transfer record names: the next transfer finishes
    // the recorded one.
    std::atomic<int32_t> ResumePending{0};

    void Reset() {
        NaviDrive.clear();
        NaviVolumeName.clear();
        NaviDeviceId.clear();
        NaviVersion.clear();
        NaviVersionName.clear();
        NaviInstanceId.clear();
        NaviFreeSpace.clear();
        DriveHandle = nullptr;
        ImagePosition = {};
        LetterlessVolumes.clear();
        TransferRunning = 0;
        CompetingProcess = 0;
        CompetingCount = 0;
        ImageWritePending = 0;
        ResumePending = 0;
    }
};
