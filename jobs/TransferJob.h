// The transfer job: prepares the update data, writes and verifies the disk image on the unit's
// volume, then copies the update files into the unit's update folders. It ends by posting
// WM_MAIN_NOTIFY 5 (done) or 6 with the failed step's result.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device/TransferRecord.h"
#include "state/NotifyCodes.h"
#include "update/ControlFiles.h"

// Owned by the main window and handed to the thread.
struct TransferJob {
    ConfigData config;
    std::string id;  // the download name (version folder) being transferred
    // Set by the window before the start: the unit's identity and the set for a new transfer,
    // or the record of the cut-off transfer that this one finishes (`resume`).
    TRANSFER_RECORD record;
    bool resume = false;
    std::atomic<uint32_t> imageTotalBytes{0};
    std::atomic<uint32_t> lastPieceMilliseconds{0};
    std::atomic<uint32_t> imageWrittenBytes{0};
};

// 0 started, 1 not started. The unit's volume must already be open and locked.
[[nodiscard]] int NaviUpdateStart(TransferJob* job, const std::string& id);
void NaviThread(TransferJob* job);
// Joins the transfer thread without a time limit and nulls its handle.
void NaviThreadWait();
// Removes the NEW files of a transfer from the download folder: 0 or FileDelete's code.
[[nodiscard]] int MakeFileDelete(const std::string& id);

[[nodiscard]] int NaviFolderCreate(const std::string& naviDrive);
// 0 copied with equal sizes, 503 after ten attempts.
[[nodiscard]] int NaviFileCopy(const std::string& pcPath, const std::string& naviPath);
// 0 equal lengths (added to TransferredBytes), 1 otherwise.
[[nodiscard]] int FileSizeCompare(const std::string& pcPath, const std::string& naviPath);
void CancelFlagDelete(const std::string& naviDrive);

// Step 7: tests every piece against its CRC (507 before anything is written), then writes the
// image pieces, reads each back and compares, checks the 16-bit sum.
[[nodiscard]] int ImageCopy(TransferJob* job);
