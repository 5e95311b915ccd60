// The transfer job end to end: it runs on its own thread from the set in the map folder onto
// the unit and reports to the recording front end.
#include "TransferFixture.h"
#include "state/Results.h"
#include "support/LogCapture.h"

namespace fs = std::filesystem;

namespace {

// What the unit's drive shows under UPDATE, by "/"-separated path.
const std::vector<std::pair<std::string, std::string>> kUnitFiles = {
    {"UPDATE/RENEWAL/RELEASE.TXT", "FLASH/NEWRELEASE.TXT"},
    {"UPDATE/RENEWAL/VOLUME.DAT", "FLASH/NEWVOLUME.DAT"},
    {"UPDATE/RENEWAL/LPA080.DAT", "FLASH/RENEWAL/NEWLPA080.DAT"},
    {"UPDATE/RENEWAL/DISCINFO.TXT", "DISCINFO.TXT"},
    {"UPDATE/RENEWAL/VERINFO.DAT", "RENEWAL/VERINFO.DAT"},
    {"UPDATE/RENEWAL/DISKID.DAT", "DISKID.DAT"},
    {"UPDATE/RENEWAL/CONF/CONF1001.DAT", "CONF/CONF1001.DAT"},
    {"UPDATE/RENEWAL/CONF/CONF2000.DAT", "CONF/CONF2000.DAT"},
    {"UPDATE/RENEWAL/CONF/CONF6000.DAT", "CONF/CONF6000.DAT"},
    {"UPDATE/RENEWAL/CONF/CONFLIST.DAT", "CONF/CONFLIST.DAT"},
    {"UPDATE/RENEWAL/CONF/AREANAME.TBL", "CONF/AREANAME.TBL"},
    {"UPDATE/RENEWAL/CONF/CONFCRC.DAT", "CONF/CONFCRC.DAT"},
    {"UPDATE/RENEWAL/CONF/MAPLIST.DAT", "CONF/MAPLIST.DAT"},
};

}  // namespace

TEST_F(TransferTest, SucceedsWithTheWholeImageAndEveryUpdateFileOnTheUnit) {
    BuildSet();
    ASSERT_TRUE(fs::exists(UnitFile("UPDATE/NAVIINFO/CANCEL.FLG")));
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), kDone);

    navisim::CheckReport report = navisim::Check("navi", ImagePath());
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);
    double copied = 0;
    for (const auto& [onUnit, inDownload] : kUnitFiles) {
        EXPECT_EQ(TestWorld::ReadFile(UnitFile(onUnit)), Read(inDownload)) << onUnit;
        copied += static_cast<double>(fs::file_size(UnitFile(onUnit)));
    }
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/RELEASE.TXT")), contents.release);
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/VOLUME.DAT")), contents.volume);
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/LPA080.DAT")), contents.lpa080);
    EXPECT_TRUE(fs::exists(UnitFile("UPDATE/NAVIINFO/DEVICE.DAT")));
    EXPECT_FALSE(fs::exists(UnitFile("UPDATE/NAVIINFO/CANCEL.FLG")));

    EXPECT_EQ(theApp.TransferPercent.load(), 100);
    EXPECT_EQ(theApp.TransferredBytes.load(), static_cast<double>(contents.image.size()) + copied);
    EXPECT_EQ(job.imageTotalBytes.load(), contents.image.size());
    EXPECT_EQ(job.imageWrittenBytes.load(), contents.image.size());
    EXPECT_EQ(theApp.TransferMapName, id);
    EXPECT_EQ(theApp.TransferAnimation.load(), 1);
    EXPECT_EQ(theApp.Navi.TransferRunning.load(), 1);
    EXPECT_EQ(theApp.ImageCopyActive.load(), 1);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);  // released for the unit's firmware
    EXPECT_TRUE(theApp.TransferThreadHandle.IsNull());

    EXPECT_EQ(MakeFileDelete(id), 0);
    for (const auto& [path, content] : Files())
        EXPECT_FALSE(fs::path(path).filename().string().starts_with("NEW")) << path;
    EXPECT_EQ(Files().size(), Delivered().size());
}

TEST_F(TransferTest, ControlFileWithABadCrcFailsBeforeTheUnitIsTouched) {
    BuildSet(64 * 1024, 4, {{"CONF/CONF2000.DAT", 100}});
    const std::string before = Volume();
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kControlFilesFailed));
    EXPECT_EQ(Volume(), before);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 0);  // nothing to format
    EXPECT_EQ(theApp.TransferPercent.load(), 0);
    EXPECT_TRUE(VolumeHeldLocked());
    EXPECT_FALSE(fs::exists(UnitFile("UPDATE/RENEWAL")));
}

// History.ini was edited to name a folder outside the map folder: nothing is read or made there.
TEST_F(TransferTest, AFolderOutsideTheMapFolderIsRefused) {
    BuildSet();
    const std::string before = Volume();
    ASSERT_EQ(OpenVolume(), 0);
    theApp.TransferDataFolder = world.Win(world.root);
    fs::rename(world.root + "/maps/" + id, world.root + "/" + id);
    EXPECT_EQ(Run(), Failed(kDownloadFolderRefused));
    EXPECT_EQ(Volume(), before);
    theApp.TransferDataFolder.clear();
}

// Another user of a shared map folder made FLASH a link: no intermediate is written through it.
TEST_F(TransferTest, ADownloadFolderHoldingALinkIsRefused) {
    BuildSet();
    const std::string before = Volume();
    ASSERT_EQ(OpenVolume(), 0);
    fs::rename(Native("FLASH"), world.root + "/elsewhere");
    fs::create_directory_symlink(world.root + "/elsewhere", Native("FLASH"));
    EXPECT_EQ(Run(), Failed(kDownloadFolderRefused));
    for (const auto& entry : fs::recursive_directory_iterator(world.root + "/elsewhere"))
        EXPECT_FALSE(entry.path().filename().string().starts_with("NEW")) << entry.path();
    EXPECT_EQ(Volume(), before);
}

TEST_F(TransferTest, VolumeNeverOpenedFailsWithoutChangingTheUnit) {
    BuildSet();
    const std::string before = Volume();
    EXPECT_EQ(Run(), Failed(kVolumeNotBack));
    EXPECT_EQ(Volume(), before);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 0);
    EXPECT_EQ(theApp.ImageCopyActive.load(), 1);
}

TEST_F(TransferTest, AUnitWhoseDiskHasLargerSectorsIsRefusedAndLeftAlone) {
    navisim::Unplug("navi");
    navisim::UnitOptions unit;
    unit.sectorSize = 4096;
    navisim::CreateUnit(unit);
    BuildSet();
    const std::string before = Volume();
    LogCapture log(world.root);
    EXPECT_EQ(OpenVolume(), kVolumeOpenFailed);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_EQ(log.Count("Veltrane: E: has 4096-byte logical sectors; only 512-byte sectors can hold the unit's image"),
              1u);
    EXPECT_EQ(Run(), Failed(kVolumeNotBack));
    EXPECT_TRUE(Volume() == before) << "the volume was written";
}

TEST_F(TransferTest, WriteThatFailsNineTimesThenSucceeds) {
    BuildSet();
    navisim::Faults faults;
    faults.writeFailSector = 40;  // in the second piece
    faults.writeFailAttempts = 9;
    navisim::SetFaults("navi", faults);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), kDone);
    EXPECT_TRUE(navisim::Check("navi", ImagePath()).imageMatches);
}

TEST_F(TransferTest, WriteThatKeepsFailingLeavesTheVolumeLockedAndPending) {
    BuildSet();
    navisim::Faults faults;
    faults.writeFailSector = 70;  // in the third piece: the first is on the volume already
    navisim::SetFaults("navi", faults);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kImageWriteFailed));
    EXPECT_TRUE(VolumeHeldLocked());
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
    navisim::CheckReport report = navisim::Check("navi", std::nullopt);
    EXPECT_FALSE(report.bootSignature0);
    EXPECT_FALSE(report.bootSignature2560);
    EXPECT_EQ(theApp.TransferPercent.load(), 2);
}

TEST_F(TransferTest, ReadBackThatDiffersClearsTheSignatures) {
    // Pieces of 128 KiB go out in four writes; while the last write of the second piece waits
    // for its retry, a byte its first write put on the volume changes.
    BuildSet(256 * 1024, 2);
    ChangeAByteDuringTheRetry(256 + 3 * 64, 128 * 1024 + 1000);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kImageCompareFailed));
    EXPECT_TRUE(byteChanged);
    navisim::CheckReport report = navisim::Check("navi", std::nullopt);
    EXPECT_FALSE(report.bootSignature0);
    EXPECT_FALSE(report.bootSignature2560);
    EXPECT_TRUE(VolumeHeldLocked());
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
}

TEST_F(TransferTest, ReadBackThatDiffersInTheFirstPieceClearsTheSignaturesItWrote) {
    // The first piece carries the image's valid boot signatures and nothing has cleared them yet
    // when its read-back differs: the failure itself must clear them.
    BuildSet(256 * 1024, 2);
    ChangeAByteDuringTheRetry(3 * 64, 1000);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kImageCompareFailed));
    EXPECT_TRUE(byteChanged);
    navisim::CheckReport report = navisim::Check("navi", std::nullopt);
    EXPECT_FALSE(report.bootSignature0);
    EXPECT_FALSE(report.bootSignature2560);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
    EXPECT_EQ(theApp.TransferPercent.load(), 0);  // no piece verified
}

TEST_F(TransferTest, PiecesOfManyReadBackBlocksAreVerifiedAndSummedWhole) {
    // Pieces of 512 KiB are read back 128 KiB at a time.
    BuildSet(1024 * 1024, 2);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), kDone);
    navisim::CheckReport report = navisim::Check("navi", ImagePath());
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_EQ(job.imageWrittenBytes.load(), 1024u * 1024u);
}

TEST_F(TransferTest, ReadBackThatDiffersInALaterBlockOfAPieceIsCaught) {
    // While the last write of the second 512 KiB piece waits for its retry, a byte of that
    // piece's third read-back block changes on the volume.
    BuildSet(1024 * 1024, 2);
    ChangeAByteDuringTheRetry(1024 + 15 * 64, 512 * 1024 + 300 * 1024);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kImageCompareFailed));
    EXPECT_TRUE(byteChanged);
    EXPECT_EQ(theApp.TransferPercent.load(), 1);  // the first piece verified in all its blocks
}

TEST_F(TransferTest, SumThatDiffersRestoresTheSignatures) {
    // A change the piece's CRC-16 cannot see (its bit pattern is the CRC polynomial itself)
    // passes the pieces' test, is written and read back as it is, and only the sum catches it.
    BuildSet(64 * 1024, 4);
    std::string piece = Read("FLASH2/VTIMAGE.002");
    piece[77] ^= 0x11;
    piece[78] ^= 0x08;
    piece[79] ^= 0x01;
    TestWorld::WriteFile(Native("FLASH2/VTIMAGE.002"), piece);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kImageSumMismatch));
    navisim::CheckReport report = navisim::Check("navi", ImagePath());
    EXPECT_EQ(report.firstDifference, 2 * 16 * 1024 + 77u);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);
    EXPECT_TRUE(VolumeHeldLocked());
    EXPECT_EQ(theApp.TransferPercent.load(), 4);
}

TEST_F(TransferTest, CopyWhoseSizeKeepsDifferingFailsWithItsStepsResult) {
    BuildSet();
    fs::create_directories(UnitFile("UPDATE/RENEWAL"));
    fs::create_symlink("/dev/null", UnitFile("UPDATE/RENEWAL/VOLUME.DAT"));
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kUpdateFolderFailed));
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/RELEASE.TXT")), contents.release);
    EXPECT_FALSE(fs::exists(UnitFile("UPDATE/RENEWAL/LPA080.DAT")));
    EXPECT_TRUE(VolumeHeldLocked());
}

TEST_F(TransferTest, JobKeepsTheDriveItStartedWith) {
    // A device change empties the shared drive root while the job waits for the volume.
    BuildSet();
    clock.onSleep = [&](uint32_t milliseconds) {
        if (milliseconds == 5000) theApp.Navi.NaviDrive.clear();
    };
    const fs::path current = fs::current_path();
    fs::current_path(world.root);
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), kDone);
    fs::current_path(current);
    EXPECT_TRUE(fs::exists(UnitFile("UPDATE/RENEWAL/CONF/MAPLIST.DAT")));
    EXPECT_FALSE(fs::exists(world.root + "/UPDATE"));
}

// The unit goes away during one copy step and is back only after that step's tenth attempt.
class UnitVanishingTest : public TransferTest, public ::testing::WithParamInterface<std::pair<std::string, int>> {};

TEST_P(UnitVanishingTest, StepFailsWithItsResultAndTheVolumeIsRelocked) {
    const auto [onUnit, windowResult] = GetParam();
    BuildSet();
    // The step's first attempt meets a folder where its file goes; in the pause after it the
    // unit vanishes, and the pause after the tenth attempt brings it back.
    fs::create_directories(UnitFile(onUnit));
    int waits = 0;
    int pauses = 0;
    clock.onSleep = [&](uint32_t milliseconds) {
        // The first two 5 s waits are the volume's reopen waits (at the image's end, and before
        // the copies); the others are the copies' pauses.
        if (milliseconds != 5000 || ++waits <= 2) return;
        if (++pauses == 1) {
            fs::remove(UnitFile(onUnit));
            navisim::Unplug("navi");
        }
        if (pauses == 10) navisim::Plug("navi");
    };
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(windowResult));
    EXPECT_EQ(pauses, 10);
    EXPECT_FALSE(fs::exists(UnitFile(onUnit)));
    EXPECT_TRUE(VolumeHeldLocked());
}

INSTANTIATE_TEST_SUITE_P(Steps, UnitVanishingTest,
                         ::testing::Values(std::pair<std::string, int>{"UPDATE/RENEWAL/RELEASE.TXT", 516},
                                           std::pair<std::string, int>{"UPDATE/RENEWAL/LPA080.DAT", 517},
                                           std::pair<std::string, int>{"UPDATE/RENEWAL/CONF/CONF6000.DAT", 518},
                                           std::pair<std::string, int>{"UPDATE/RENEWAL/CONF/MAPLIST.DAT", 503}));
