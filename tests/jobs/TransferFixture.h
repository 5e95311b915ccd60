// The world of the transfer tests: an update set built by mkupdate in the map folder, a
// machine with a unit made by navisim, a fake clock with a hook on every pause, and a front end
// that records the job's end message.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "NaviSim.h"
#include "device/NaviDriveImage.h"
#include "jobs/TransferJob.h"
#include "platform/RawVolume.h"
#include "support/BuildFolders.h"
#include "support/RecordingView.h"
#include "update/UpdateFixture.h"

using Notice = RecordingView::Notice;

inline constexpr Notice kDone{kNotifyTransferDone, 0};
inline Notice Failed(intptr_t result) { return {kNotifyTransferFailed, result}; }

// The fake clock with a hook on every pause, so a test can change the world while the job waits.
class HookClock : public platform::FakeClock {
public:
    HookClock() : FakeClock(2026, 12, 6, 10, 30, 0) {}
    void Sleep(uint32_t milliseconds) override {
        if (onSleep) onSleep(milliseconds);
        FakeClock::Sleep(milliseconds);
    }
    std::function<void(uint32_t)> onSleep;
};

class TransferTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        platform::SetView(&view);
        platform::SetClock(&clock);
        theApp.MessageIniPath = world.Win(BinFolder() + "/Message.ini");
        navisim::InitMachine(world.root + "/machine", false);
        navisim::CreateUnit(navisim::UnitOptions{});
        theApp.Navi.NaviDrive = "E:\\";
        // The window names the unit in the record before it starts the job.
        job.record.instanceId = "USBSTOR\\DISK&VID_2F6A&PID_0C31\\TEST&0";
    }
    void TearDown() override {
        NaviThreadWait();
        if (platform::HANDLE handle = theApp.Navi.DriveHandle.exchange(nullptr)) (void)platform::CloseHandle(handle);
        platform::SetClock(&world.clock);
        platform::SetView(&world.view);
    }

    // The write covering `failSector` fails once; while it waits for its retry, the byte at
    // `offset` of the volume changes (after it was written), so that its read-back differs.
    // byteChanged tells whether it happened.
    void ChangeAByteDuringTheRetry(uint32_t failSector, std::streamoff offset) {
        navisim::Faults faults;
        faults.writeFailSector = failSector;
        faults.writeFailAttempts = 1;
        navisim::SetFaults("navi", faults);
        clock.onSleep = [this, offset](uint32_t milliseconds) {
            if (milliseconds != 1 || byteChanged) return;
            std::fstream volume(navisim::UnitImage("navi"), std::ios::in | std::ios::out | std::ios::binary);
            volume.seekp(offset);
            volume.put('\x5A');
            byteChanged = true;
        };
    }
    bool byteChanged = false;

    // An update whose disk image is a volume with both boot signatures, in `pieces` pieces.
    void BuildSet(size_t imageBytes = 64 * 1024, int pieces = 4, std::vector<mkupdate::Corruption> corruptions = {}) {
        std::string image(imageBytes, '\0');
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7 + i / 512) % 251);
        for (size_t sector : {0, 2560}) {
            image[sector + 510] = '\x55';
            image[sector + 511] = '\xAA';
        }
        TestWorld::WriteFile(ImagePath(), image);
        mkupdate::Options options;
        options.imageFile = ImagePath();
        options.imagePieces = pieces;
        options.imagePieceTail = pieceTail;
        options.corruptions = std::move(corruptions);
        contents = Build(options);
    }
    std::string ImagePath() const { return world.root + "/image.bin"; }
    std::string Volume() const { return TestWorld::ReadFile(navisim::UnitImage("navi")); }
    std::filesystem::path UnitFile(const std::string& relative) const { return navisim::UnitFiles("navi") / relative; }

    int OpenVolume() { return DriveOpen(&theApp.Navi.ImagePosition); }
    Notice Run() {
        EXPECT_EQ(NaviUpdateStart(&job, id), 0);
        Notice notice = view.First();
        NaviThreadWait();
        EXPECT_EQ(view.Count(), 1u);
        return notice;
    }
    // Open and locked: the job's handle is there and nobody else can open the volume.
    bool VolumeHeldLocked() {
        platform::HANDLE other = platform::CreateFileA("\\\\.\\E:", platform::GENERIC_READ | platform::GENERIC_WRITE,
                                                       platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, nullptr,
                                                       platform::OPEN_EXISTING, 0, nullptr);
        if (other != platform::INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(platform::CloseHandle(other));
        }
        return theApp.Navi.DriveHandle.load() != nullptr && other == platform::INVALID_HANDLE_VALUE;
    }

    RecordingView view;
    HookClock clock;
    TransferJob job;
    mkupdate::Contents contents;
    uint32_t pieceTail = 100;  // bytes each image piece file holds past what it writes
};
