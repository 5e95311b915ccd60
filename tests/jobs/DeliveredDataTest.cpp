// What reaches the unit and what stays of the download: a damaged image piece is refused before
// the first write, the delivered files survive a failed restore and a killed transfer, and the
// preparation's intermediates go as soon as they have served.
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "FileSystemHooks.h"
#include "TransferFixture.h"
#include "state/Results.h"

namespace fs = std::filesystem;

class DeliveredDataTest : public TransferTest {
protected:
    // A set whose image piece `piece` had the byte at `offset` changed after the download.
    void ExpectDamagedPieceRefused(const std::string& piece, uint64_t offset = 6000) {
        BuildSet(64 * 1024, 4, {{"FLASH2/" + piece, offset}});
        const std::string before = Volume();
        ASSERT_EQ(OpenVolume(), 0);
        EXPECT_EQ(Run(), Failed(kMapDataFailed));
        // Nothing of any piece was written: the unit needs no recovery.
        EXPECT_EQ(Volume(), before);
        EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 0);
        EXPECT_EQ(theApp.TransferPercent.load(), 0);
        EXPECT_EQ(theApp.TransferredBytes.load(), 0);
        EXPECT_TRUE(VolumeHeldLocked());
    }
    ScopedFileSystemHooks hooks;
};

TEST_F(DeliveredDataTest, ADamagedFirstImagePieceNeverReachesTheUnit) {
    // The first piece is tested as delivered, not as its deciphered twin.
    ExpectDamagedPieceRefused("VTIMAGE.000");
}

TEST_F(DeliveredDataTest, ADamagedLastImagePieceStopsTheStepBeforeTheFirstWrite) {
    ExpectDamagedPieceRefused("VTIMAGE.003");
}

TEST_F(DeliveredDataTest, PiecesLongerThanTheBytesTheyWriteGoOntoTheUnitUpToThoseBytes) {
    pieceTail = 300;
    BuildSet(64 * 1024, 4);
    for (const char* piece : {"FLASH2/VTIMAGE.000", "FLASH2/VTIMAGE.003"})
        ASSERT_EQ(fs::file_size(Native(piece)), 16384u + 300u) << piece;
    const std::string before = Volume();
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), kDone);

    EXPECT_EQ(Volume().substr(0, 64 * 1024), TestWorld::ReadFile(ImagePath()));
    // Nothing of the last piece's tail reached the sectors after the image.
    EXPECT_EQ(Volume().substr(64 * 1024), before.substr(64 * 1024));
    EXPECT_EQ(theApp.TransferPercent.load(), 100);
}

TEST_F(DeliveredDataTest, ADamagedBytePastThePiecesDataSizeStillRefusesTheSet) {
    // The stored piece is damaged, so none of it is trusted, not even the bytes to be written.
    pieceTail = 300;
    ExpectDamagedPieceRefused("VTIMAGE.002", 16384 + 10);
}

TEST_F(DeliveredDataTest, ARestoreByRenameThatFailsIsDoneByCopy) {
    BuildSet();
    const std::string delivered = Read("FLASH/VOLUME.DAT.000");
    FileSystemHooks::onRename = [](const char* from, const char* to) {
        if (std::string_view(to).ends_with("/VOLUME.DAT.000")) {
            errno = EACCES;
            return -1;
        }
        return RealRename(from, to);
    };
    EXPECT_EQ(Prepare(), 0);
    EXPECT_EQ(Read("FLASH/VOLUME.DAT.000"), delivered);
    EXPECT_FALSE(Exists("FLASH/NEWVOLUME.DAT.000"));
    EXPECT_EQ(Read("FLASH/NEWVOLUME.DAT"), contents.volume);
}

TEST_F(DeliveredDataTest, ABackupThatCannotBePutBackIsNeverCleanedAway) {
    BuildSet();
    const std::string delivered = Read("FLASH/VOLUME.DAT.000");
    const std::string input = Native("FLASH/VOLUME.DAT.000");
    // The delivered name is taken by a folder the moment the backup is to go back: neither a
    // rename nor a copy can put it there.
    FileSystemHooks::onRename = [&](const char* from, const char* to) {
        if (to != input) return RealRename(from, to);
        mkdir(to, 0755);
        errno = EISDIR;
        return -1;
    };
    EXPECT_EQ(Prepare(), kMapDataCopyFailed);
    ASSERT_TRUE(fs::is_directory(input));
    EXPECT_EQ(Read("FLASH/NEWVOLUME.DAT.000"), delivered);

    // Neither clean-up takes the only copy; the rest of the NEW files go.
    EXPECT_EQ(RemoveStaleIntermediates(id), 0);
    EXPECT_EQ(MakeFileDelete(id), 0);
    EXPECT_EQ(Read("FLASH/NEWVOLUME.DAT.000"), delivered);
    EXPECT_FALSE(Exists("CONF/NEWCONF1001.DAT"));

    // Once the name is free again, the next clean-up puts the file back.
    FileSystemHooks::onRename = nullptr;
    fs::remove(input);
    EXPECT_EQ(MakeFileDelete(id), 0);
    EXPECT_EQ(Read("FLASH/VOLUME.DAT.000"), delivered);
    EXPECT_FALSE(Exists("FLASH/NEWVOLUME.DAT.000"));
}

TEST_F(DeliveredDataTest, ATransferAfterAKilledOneStartsFromTheDeliveredFiles) {
    BuildSet();
    const auto delivered = Delivered();
    // What a transfer killed at various points leaves: a volume file between its extraction
    // and its restore (only the backup is left), a half-written product, a master-data backup,
    // and the program update data halfway through its pieces.
    fs::rename(Native("FLASH/VOLUME.DAT.000"), Native("FLASH/NEWVOLUME.DAT.000"));
    TestWorld::WriteFile(Native("FLASH/NEWVOLUME.DAT"), "half");
    TestWorld::WriteFile(Native("FLASH/NEWRELEASE.TXT.000"), Read("FLASH/RELEASE.TXT.000"));
    TestWorld::WriteFile(Native("FLASH/RENEWAL/DECOMPLPA080.DAT.000"), "half");
    TestWorld::WriteFile(Native("FLASH/RENEWAL/NEWLPA080.DAT.001"), Read("FLASH/RENEWAL/LPA080.DAT.001"));
    TestWorld::WriteFile(Native("FLASH/RENEWAL/NEWLPA080.DAT"), "half");
    // A file of someone else's that merely starts with NEW is not the transfer's to remove.
    TestWorld::WriteFile(Native("FLASH/NEWS.TXT"), "mine");

    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(Run(), kDone);
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/VOLUME.DAT")), contents.volume);
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/RELEASE.TXT")), contents.release);
    EXPECT_EQ(TestWorld::ReadFile(UnitFile("UPDATE/RENEWAL/LPA080.DAT")), contents.lpa080);
    EXPECT_EQ(Read("FLASH/NEWS.TXT"), "mine");
    EXPECT_EQ(Intermediates(), std::vector<std::string>{});

    EXPECT_EQ(MakeFileDelete(id), 0);
    EXPECT_EQ(Delivered(), delivered);
}

TEST_F(DeliveredDataTest, EachUnpackedPieceGoesAsSoonAsItIsJoined) {
    BuildSet();
    // The joined file's length on disk when the first piece's unpacked copy is removed.
    std::optional<uintmax_t> joinedWhenFirstWent;
    const std::string first = Native("FLASH/RENEWAL/DECOMPLPA080.DAT.000");
    FileSystemHooks::beforeUnlink = [&](const char* path) {
        if (path == first && !joinedWhenFirstWent)
            joinedWhenFirstWent = fs::file_size(Native("FLASH/RENEWAL/NEWLPA080.DAT"));
    };
    ASSERT_EQ(Prepare(), 0);
    ASSERT_TRUE(joinedWhenFirstWent.has_value());
    // Three pieces of 20,000 bytes in all: the first went while the others were still to come.
    EXPECT_LT(*joinedWhenFirstWent, 20000u);
    EXPECT_EQ(Read("FLASH/RENEWAL/NEWLPA080.DAT"), contents.lpa080);
    EXPECT_EQ(Intermediates(), std::vector<std::string>{});
}

TEST_F(DeliveredDataTest, EveryTransferFindsTheImageNameAfresh) {
    BuildSet();
    ImageBaseName = "OLDIMAGE";
    ASSERT_EQ(ConfCrcRead(data, id), 0);
    EXPECT_EQ(ImageBaseName, "");
    ASSERT_EQ(ConfFileDecode(data, id), 0);
    EXPECT_EQ(ImageBaseName, "VTIMAGE");
}
