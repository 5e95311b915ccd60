// A transfer cut off on the unit: the record it keeps in the map folder, and the next transfer
// that finishes it where it stopped. The set's image is 64 KiB in four pieces of 16 KiB.
#include "TransferFixture.h"
#include "state/Results.h"
#include "device/TransferRecord.h"
#include "platform/Profile.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kPiece = 16 * 1024;

class ResumeTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        BuildSet();
    }
    // The unit loses its power at the write past `bytes`; plugged in again, it holds what
    // was flushed before.
    void CutAfter(uint64_t bytes) {
        navisim::Faults faults;
        faults.powerCutAfterBytes = bytes;
        navisim::SetFaults("navi", faults);
        ASSERT_EQ(OpenVolume(), 0);
        ASSERT_EQ(Run(), Failed(kImageWriteFailed));
        CloseDriveHandle();
        navisim::ClearFaults("navi");
        navisim::Plug("navi");
        view.Forget();
    }
    std::string Record(const char* key) const {
        return platform::ProfileDocument::Load(world.root + "/maps/Transfer.ini").Get("TRANSFER", key).value_or("");
    }
    // The next transfer as the window starts it: from the record, on the unit held again.
    Notice Resume() {
        TRANSFER_RECORD record;
        EXPECT_TRUE(TransferRecordRead(&record));
        job.record = record;
        job.resume = true;
        EXPECT_EQ(OpenVolume(), 0);
        return Run();
    }
    void ChangeVolumeByte(std::streamoff offset) {
        std::fstream volume(navisim::UnitImage("navi"), std::ios::in | std::ios::out | std::ios::binary);
        volume.seekp(offset);
        volume.put('\x5A');
    }
    void ExpectTheUpdateOnTheUnit() {
        navisim::CheckReport report = navisim::Check("navi", ImagePath());
        EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
        EXPECT_TRUE(report.bootSignature0);
        EXPECT_TRUE(report.bootSignature2560);
        EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/VOLUME.DAT")), contents.volume);
        EXPECT_FALSE(fs::exists(UnitFile("UPDATE/NAVIINFO/CANCEL.FLG")));
    }
};

}  // namespace

TEST_F(ResumeTest, TheRecordIsOnDiskBeforeTheFirstWriteAndFollowsEveryVerifiedPiece) {
    CutAfter(0);
    EXPECT_EQ(Record("VERIFIED"), "0");
    EXPECT_EQ(Record("INSTANCE"), job.record.instanceId);
    EXPECT_EQ(Record("VERSION"), id);
    EXPECT_EQ(Record("PIECES"), "4");
    EXPECT_EQ(Record("STAGE"), "IMAGE");

    // Cut in the third piece: the first two are on the unit, read back and recorded.
    CutAfter(2 * kPiece + 4096);
    EXPECT_EQ(Record("VERIFIED"), "2");
    EXPECT_EQ(Record("STAGE"), "IMAGE");
    navisim::CheckReport report = navisim::Check("navi", std::nullopt);
    EXPECT_FALSE(report.bootSignature0);
    EXPECT_FALSE(report.bootSignature2560);
}

TEST_F(ResumeTest, TheNextTransferWritesOnAfterTheVerifiedPiecesAndFinishes) {
    CutAfter(2 * kPiece + 4096);
    // Piece 1 is verified and recorded: writing it again fails.
    navisim::Faults faults;
    faults.writeFailSector = kPiece / 512 + 1;
    navisim::SetFaults("navi", faults);
    EXPECT_EQ(Resume(), kDone);
    ExpectTheUpdateOnTheUnit();
    EXPECT_EQ(Record("STAGE"), "DONE");
    EXPECT_EQ(theApp.TransferPercent.load(), 100);
}

TEST_F(ResumeTest, ALastVerifiedPieceThatChangedIsWrittenAgain) {
    CutAfter(2 * kPiece + 4096);
    ChangeVolumeByte(kPiece + 100);
    EXPECT_EQ(Resume(), kDone);
    ExpectTheUpdateOnTheUnit();
}

TEST_F(ResumeTest, BootSectorsThatChangedStartTheImageOver) {
    CutAfter(3 * kPiece + 4096);
    ChangeVolumeByte(600);
    EXPECT_EQ(Resume(), kDone);
    ExpectTheUpdateOnTheUnit();
}

TEST_F(ResumeTest, AWholeImageIsNotWrittenAgainAndADoneTransferOnlyReports) {
    ASSERT_EQ(OpenVolume(), 0);
    ASSERT_EQ(Run(), kDone);
    ASSERT_EQ(Record("STAGE"), "DONE");
    view.Forget();
    // Any write to the volume fails from now on, the signature restore's included.
    navisim::Faults faults;
    faults.writeFailSector = 0;
    navisim::SetFaults("navi", faults);

    // Cut off during the file copies: they are made again.
    fs::remove(UnitFile("UPDATE/RENEWAL/VOLUME.DAT"));
    TRANSFER_RECORD record;
    ASSERT_TRUE(TransferRecordRead(&record));
    record.stage = TransferStage::Files;
    ASSERT_EQ(TransferRecordSave(record), 0);
    EXPECT_EQ(Resume(), kDone);
    ExpectTheUpdateOnTheUnit();

    // Cut off before the completion call: nothing more goes onto the unit.
    view.Forget();
    fs::remove(UnitFile("UPDATE/RENEWAL/VOLUME.DAT"));
    EXPECT_EQ(Resume(), kDone);
    EXPECT_FALSE(fs::exists(UnitFile("UPDATE/RENEWAL/VOLUME.DAT")));
}

TEST_F(ResumeTest, AWholeImageCutOffBeforeItsStageWasSavedIsOnlyReadBack) {
    // Killed between the signature restore and the record's next save: every piece verified,
    // the signatures back. Writing piece 0 again past its boot sectors fails.
    ASSERT_EQ(OpenVolume(), 0);
    ASSERT_EQ(Run(), kDone);
    view.Forget();
    TRANSFER_RECORD record;
    ASSERT_TRUE(TransferRecordRead(&record));
    record.stage = TransferStage::Image;
    ASSERT_EQ(TransferRecordSave(record), 0);
    navisim::Faults faults;
    faults.writeFailSector = 8;
    navisim::SetFaults("navi", faults);
    EXPECT_EQ(Resume(), kDone);
    ExpectTheUpdateOnTheUnit();
}

TEST_F(ResumeTest, AUnitTheRecordCannotNameGetsNothingWritten) {
    const std::string before = Volume();
    job.record.instanceId.clear();
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), Failed(kImageWriteFailed));
    EXPECT_EQ(Volume(), before);
    EXPECT_FALSE(fs::exists(world.root + "/maps/Transfer.ini"));
}
