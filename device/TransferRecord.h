// The record of a transfer that has begun to change the unit. It lies in the map folder from
// just before the first write to the unit until the transfer has wholly ended, so that a
// transfer cut off by a crash, a kill, a pulled cable or a power cut is found again at the
// next start and finished on the same unit, never on another one.
#pragma once

#include <cstdint>
#include <string>

enum class TransferStage {
    Image,  // the image is being written: `verifiedPieces` of it are on the unit and read back
    Files,  // the image is whole and its signature restored; the update files follow
    Done,   // the files are on the unit and CANCEL.FLG is gone; the completion call is due
};

struct TRANSFER_RECORD {
    std::string instanceId;  // the unit's device instance ID (the device whose disk it is)
    std::string deviceId;    // the unit's DEVICE.DAT as discovery read it
    std::string version;     // the download name (version folder) being written
    std::string dataName;    // the set's name as the user knows it
    std::string folder;      // the map folder that holds the set
    uint32_t totalSize = 0;  // of the image
    int pieces = 0;
    int verifiedPieces = 0;  // pieces 0 .. verifiedPieces - 1 written and read back equal
    uint16_t sum = 0;        // the 16-bit byte sum of those pieces as issued
    TransferStage stage = TransferStage::Image;
};

// The record in the map folder; false when there is none or it is incomplete.
[[nodiscard]] bool TransferRecordRead(TRANSFER_RECORD* record);
// Replaces the record in one step (a crash leaves the old or the new one): 0, or
// kTransferRecordFailed (no unit identity, or the file could not be written).
[[nodiscard]] int TransferRecordSave(const TRANSFER_RECORD& record);
// 0 once no record is left.
[[nodiscard]] int TransferRecordClear();
