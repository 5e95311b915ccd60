// The image step on its own, from a prepared set onto the unit's opened volume: the progress
// figures piece by piece and the control data it refuses before writing anything.
#include "TransferFixture.h"
#include "base/Text.h"
#include "state/Results.h"

namespace fs = std::filesystem;

namespace {

// A tick count that moves on by a fixed step each time it is read: every piece takes that long.
class SteppingClock : public HookClock {
public:
    explicit SteppingClock(uint64_t step) : step_(step) {}
    uint64_t TickMilliseconds() override { return tick_ += step_; }

private:
    uint64_t step_;
    uint64_t tick_ = 0;
};

struct Progress {
    int32_t percent;
    int32_t minutes;
    uint32_t written;
    uint32_t lastPiece;
    bool operator==(const Progress&) const = default;
};

}  // namespace

class ImageCopyTest : public TransferTest {
protected:
    // The set prepared as the transfer's first six steps leave it, the volume opened.
    void Prepared(size_t imageBytes = 64 * 1024, int pieces = 4) {
        BuildSet(imageBytes, pieces);
        ASSERT_EQ(Prepare(), 0);
        job.config = data;
        job.id = id;
        ASSERT_EQ(OpenVolume(), 0);
        volumeBefore = Volume();
    }
    CONFIG_RECORD_SLOT& Pieces() { return job.config.conf6000.slots[0]; }
    // Piece `index` delivered with `tail` past its dataSize, its crc covering the stored file.
    void GrowPiece(int index, const std::string& tail) {
        const std::string name = Format("FLASH2/VTIMAGE.%03d", index);
        std::ofstream(Native(name), std::ios::binary | std::ios::app) << tail;
        Pieces().items[static_cast<size_t>(index)].crc = mkupdate::Crc16(Read(name));
    }
    // Refused before the first write: the unit as it was, nothing to format.
    void ExpectRefused() {
        EXPECT_EQ(ImageCopy(&job), kImageWriteFailed);
        EXPECT_EQ(Volume(), volumeBefore);
        EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 0);
        EXPECT_EQ(theApp.TransferPercent.load(), 0);
        EXPECT_TRUE(VolumeHeldLocked());
    }

    std::string volumeBefore;
};

TEST_F(ImageCopyTest, ProgressAndEstimateAfterEveryPiece) {
    Prepared(80 * 1024, 10);
    for (auto [step, minutes] : {std::pair<uint64_t, int32_t>{60000, 9}, {6000, 0}}) {
        SCOPED_TRACE(step);
        ASSERT_EQ(OpenVolume(), 0);
        theApp.TransferPercent = 0;
        theApp.TransferredBytes = 0;
        SteppingClock stepping(step);
        std::vector<Progress> seen;
        stepping.onSleep = [&](uint32_t milliseconds) {
            if (milliseconds == 50)
                seen.push_back({theApp.TransferPercent.load(), theApp.TransferRemainMinutes.load(),
                                job.imageWrittenBytes.load(), job.lastPieceMilliseconds.load()});
        };
        platform::SetClock(&stepping);
        EXPECT_EQ(ImageCopy(&job), 0);
        platform::SetClock(&clock);
        ASSERT_EQ(seen.size(), 10u);
        // Ten pieces of 8 KiB: after piece 0 nine remain, each as slow as it was.
        EXPECT_EQ(seen[0], (Progress{1, minutes, 8192, static_cast<uint32_t>(step)}));
        EXPECT_EQ(seen[9], (Progress{10, 0, 81920, static_cast<uint32_t>(step)}));
        EXPECT_EQ(job.imageTotalBytes.load(), 81920u);
        EXPECT_EQ(theApp.TransferredBytes.load(), 81920);
        EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    }
}

TEST_F(ImageCopyTest, PieceLongerThanItsDataSizeGivesOnlyDataSize) {
    Prepared();
    // Piece 3 carries 4 KiB more; its item still says 16 KiB, so the image and its sum stay right.
    GrowPiece(3, std::string(4096, '\x77'));
    EXPECT_EQ(ImageCopy(&job), 0);
    EXPECT_TRUE(navisim::Check("navi", ImagePath()).imageMatches);
    EXPECT_EQ(Volume().substr(64 * 1024, 4096), volumeBefore.substr(64 * 1024, 4096));
}

// The piece buffers are kept across pieces: a piece file larger than the ones before makes them
// grow, and the shorter pieces after it go out at their own length.
TEST_F(ImageCopyTest, PiecesOfDifferentFileLengthsShareTheBuffers) {
    Prepared(128 * 1024, 8);
    GrowPiece(2, std::string(40960, '\x5A'));
    GrowPiece(5, std::string(512, '\xA5'));
    EXPECT_EQ(ImageCopy(&job), 0);
    EXPECT_TRUE(navisim::Check("navi", ImagePath()).imageMatches);
    EXPECT_EQ(Volume().substr(128 * 1024, 40960), volumeBefore.substr(128 * 1024, 40960));
}

TEST_F(ImageCopyTest, PiecesTheControlDataDescribesWronglyAreRefusedBeforeWriting) {
    Prepared();
    for (uint32_t size : {0u, 1000u, 16u * 1024 + 512}) {
        SCOPED_TRACE(size);
        Pieces().items[2].dataSize = size;
        ExpectRefused();
    }
    Pieces().items[2].dataSize = 16 * 1024;
    Pieces().items.pop_back();  // the record still counts four
    ExpectRefused();
}

TEST_F(ImageCopyTest, MissingPieceFileIsRefusedBeforeWriting) {
    Prepared();
    fs::remove(Native("FLASH2/VTIMAGE.003"));
    ExpectRefused();
}

TEST_F(ImageCopyTest, ImageReachingBeyondFourGibibytesIsRefusedBeforeWriting) {
    // The 32-bit positions would wrap onto sector 0, where the read-back would still match.
    Prepared();
    const uint32_t large = 0xFFFFE000;                     // 4 GiB - 8 KiB: with the pieces before it, past 4 GiB
    fs::resize_file(Native("FLASH2/VTIMAGE.003"), large);  // sparse
    Pieces().items[3].dataSize = large;
    ExpectRefused();
}

TEST_F(ImageCopyTest, PieceFilesHoldingExactlyTheirBytesAreWritten) {
    pieceTail = 0;  // delivered sets carry filler past each piece's bytes; none is needed
    Prepared();
    EXPECT_EQ(ImageCopy(&job), 0);
    navisim::CheckReport report = navisim::Check("navi", ImagePath());
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
}

TEST_F(ImageCopyTest, AnImageEndingExactlyAtFourGibibytesIsNotRefused) {
    // The pieces (64 KiB) start where they end exactly at 4 GiB: the last byte is reachable.
    // This unit is 1 MiB, so the write itself then fails past its end; but it was begun.
    Prepared();
    theApp.Navi.ImagePosition.writePosition = (uint64_t{1} << 32) - 64 * 1024;
    EXPECT_EQ(ImageCopy(&job), 519);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
    // One sector further and the pieces are refused before the first write.
    theApp.Navi.ImageWritePending = 0;
    volumeBefore = Volume();
    theApp.Navi.ImagePosition.writePosition = (uint64_t{1} << 32) - 64 * 1024 + kSectorSize;
    ExpectRefused();
}

TEST_F(ImageCopyTest, AnImageOfOnePieceIsVerifiedWithASumWrappedAtSixteenBits) {
    // 8 KiB of 0xFF but for the two boot signatures: 8,192 × 255 − 4 × 255 + 2 × (0x55 + 0xAA)
    // = 2,088,450, which is 0xDE02 once wrapped at 16 bits.
    std::string image(8192, '\xFF');
    for (size_t sector : {0, 2560}) image.replace(sector + 510, 2, "\x55\xAA");
    TestWorld::WriteFile(ImagePath(), image);
    mkupdate::Options options;
    options.imageFile = ImagePath();
    options.imagePieces = 1;
    options.lpa080Size = 4000;  // unpacked data must fit the 8 KiB volume it goes onto
    contents = Build(options);
    ASSERT_EQ(Prepare(), 0);
    job.config = data;
    job.id = id;
    ASSERT_EQ(OpenVolume(), 0);
    ASSERT_EQ(ItemCount(Pieces()), 1);
    EXPECT_EQ(ImageChecksum(Pieces()), 0xDE02);

    // The piece carries valid signatures; they are cleared once it is verified, restored at the end.
    std::optional<bool> signedAfterThePiece;
    clock.onSleep = [&](uint32_t milliseconds) {
        if (milliseconds == 50) signedAfterThePiece = navisim::Check("navi", std::nullopt).bootSignature0;
    };
    EXPECT_EQ(ImageCopy(&job), 0);
    EXPECT_EQ(signedAfterThePiece, false);
    navisim::CheckReport report = navisim::Check("navi", ImagePath());
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_EQ(theApp.TransferPercent.load(), 1);
}

TEST_F(ImageCopyTest, NoPiecesWriteNothingAndTheEmptySumMustMatch) {
    Prepared();
    CONFIG_RECORD_SLOT& record = Pieces();
    std::fill(record.record + 264, record.record + 272, 0);  // checksum 0, itemCount 0
    record.items.clear();
    EXPECT_EQ(ImageCopy(&job), 0);
    EXPECT_EQ(Volume(), volumeBefore);
    EXPECT_EQ(theApp.TransferPercent.load(), 0);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 0);

    ASSERT_EQ(OpenVolume(), 0);
    record.record[264] = 1;  // a checksum that no empty image has
    EXPECT_EQ(ImageCopy(&job), kImageSumMismatch);
    EXPECT_EQ(Volume(), volumeBefore);
    EXPECT_TRUE(navisim::Check("navi", std::nullopt).bootSignature0);
}

// The signature is cleared after the first piece and restored after the last; a rewrite that
// fails all its tries fails the step with the image-write result and leaves the format pending.
TEST_F(ImageCopyTest, PieceZeroGoesOnWithItsSignaturesAlreadyCleared) {
    // The unit loses power 4 KiB into the first piece, after sector 0 and its copy at 2,560
    // were written: neither may carry a valid signature over the half-written image.
    Prepared();
    navisim::Faults faults;
    faults.vanishAfterBytes = 4096;
    navisim::SetFaults("navi", faults);
    EXPECT_EQ(ImageCopy(&job), kImageWriteFailed);
    navisim::CheckReport report = navisim::Check("navi", std::nullopt);
    EXPECT_FALSE(report.bootSignature0);
    EXPECT_FALSE(report.bootSignature2560);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
    EXPECT_EQ(theApp.TransferPercent.load(), 0);
}

TEST_F(ImageCopyTest, AFailedSignatureRestoreFailsTheImageStep) {
    Prepared();
    // The pause after the fourth piece is the last one before the restore.
    int pauses = 0;
    clock.onSleep = [&](uint32_t milliseconds) {
        if (milliseconds == 50 && ++pauses == 4) {
            navisim::Faults faults;
            faults.writeFailSector = 0;
            navisim::SetFaults("navi", faults);
        }
    };
    EXPECT_EQ(ImageCopy(&job), kImageWriteFailed);
    EXPECT_EQ(pauses, 4);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
    EXPECT_FALSE(navisim::Check("navi", std::nullopt).bootSignature0);
}
