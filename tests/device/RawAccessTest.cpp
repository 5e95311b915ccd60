// The raw handle on a simulated unit: open and lock, sector runs with their retries and pauses,
// the signature rewrite, the reopen wait, a unit that vanishes, and the format.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>

#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "state/Results.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/RawVolume.h"
#include "platform/sim/Machine.h"
#include "support/LogCapture.h"
#include "support/UnitWorld.h"

namespace {

// Flushes of the file with this inode that fail (EIO) before flushes succeed again.
ino_t refusedFlushInode = 0;
int refusedFlushes = 0;

}  // namespace

// The test program's own fdatasync: the simulated volume's flush is the one the tests refuse.
extern "C" int fdatasync(int fd) {
    using Flush = int (*)(int);
    static Flush next = reinterpret_cast<Flush>(dlsym(RTLD_NEXT, "fdatasync"));
    struct stat status {};
    if (refusedFlushes > 0 && ::fstat(fd, &status) == 0 && status.st_ino == refusedFlushInode) {
        --refusedFlushes;
        errno = EIO;
        return -1;
    }
    return next(fd);
}

namespace {

NaviUnitState& Navi() { return theApp.Navi; }

class RawAccess : public ::testing::Test {
protected:
    void SetUp() override {
        navisim::CreateUnit({});
        ASSERT_EQ(NaviConnectCheck(), 0);
    }
    std::string Volume() const { return TestWorld::ReadFile(navisim::UnitImage("navi").string()); }
    static std::string Pattern(size_t size, unsigned seed) {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (char& b : bytes) b = static_cast<char>(random());
        return bytes;
    }
    // The bytes in an aligned block: the volume takes no other.
    static platform::RawBuffer Aligned(const std::string& data) {
        platform::RawBuffer block(platform::NewRawBuffer(data.size()));
        std::memcpy(block.get(), data.data(), data.size());
        return block;
    }
    int Write(const std::string& data) {
        return WriteImageData(static_cast<unsigned>(data.size() / kSectorSize), &Navi().ImagePosition,
                              Aligned(data).get());
    }
    uint64_t Elapsed(uint64_t since) const { return platform::GetTickCount64() - since; }

    UnitWorld world;
};

}  // namespace

TEST_F(RawAccess, OpenLocksTheVolumeAndResetsThePositionsOnlyWhenClosed) {
    Navi().ImagePosition = {512, 1024};
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    ASSERT_NE(Navi().DriveHandle, nullptr);
    EXPECT_EQ(Navi().ImagePosition.readPosition, 0u);
    EXPECT_EQ(Navi().ImagePosition.writePosition, 0u);

    // Locked: nobody else opens the volume.
    platform::HANDLE other =
        platform::CreateFileA("\\\\.\\E:", platform::GENERIC_READ, 3, nullptr, platform::OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, platform::INVALID_HANDLE_VALUE);

    Navi().ImagePosition = {2048, 4096};
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    EXPECT_EQ(Navi().ImagePosition.readPosition, 2048u);

    ASSERT_EQ(DriveUnlock(), 0);
    other = platform::CreateFileA("\\\\.\\E:", platform::GENERIC_READ, 3, nullptr, platform::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(DriveLock(), kVolumeLockFailed);  // exclusive against the other handle
    EXPECT_TRUE(platform::CloseHandle(other));
    EXPECT_EQ(DriveLock(), 0);

    EXPECT_EQ(DriveClose(), 0);
    EXPECT_EQ(Navi().DriveHandle, nullptr);
    EXPECT_EQ(DriveClose(), 0);  // closing a closed handle is harmless
}

// The calls on a handle go to the machine that opened it, not to the one in use now: without
// machine.ini the real PC is in use, which would not know the handle (ERROR_INVALID_HANDLE).
TEST_F(RawAccess, AHandleStaysWithTheMachineThatOpenedIt) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    const std::string ini = platform::MachineIniPath();
    std::filesystem::rename(ini, ini + ".away");
    platform::ChooseMachine();
    ASSERT_FALSE(platform::MachineSimulated());
    platform::RawBuffer block(platform::NewRawBuffer(kSectorSize));
    uint32_t read = 1;
    EXPECT_FALSE(platform::ReadFile(Navi().DriveHandle, block.get(), kSectorSize, &read, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_DEVICE_NOT_CONNECTED) << "the unit went with machine.ini";
    EXPECT_EQ(read, 0u);
    std::filesystem::rename(ini + ".away", ini);
    platform::ChooseMachine();
    EXPECT_TRUE(platform::ReadFile(Navi().DriveHandle, block.get(), kSectorSize, &read, nullptr));
    EXPECT_EQ(read, kSectorSize);
}

TEST_F(RawAccess, OpenFailuresLeaveNoHandle) {
    navisim::SetFaults("navi", {.lockRefused = true});
    EXPECT_EQ(DriveOpen(&Navi().ImagePosition), kVolumeLockFailed);
    EXPECT_EQ(Navi().DriveHandle, nullptr);
    navisim::ClearFaults("navi");
    Navi().NaviDrive = "Q:\\";
    EXPECT_EQ(DriveOpen(&Navi().ImagePosition), kVolumeOpenFailed);
    EXPECT_EQ(Navi().DriveHandle, nullptr);
}

// A disk that does not answer the question (as under Wine) is written in the model's sectors,
// as every unit was before the question was asked.
TEST_F(RawAccess, AVolumeThatCannotTellItsSectorSizeIsTakenAsTheModels) {
    ASSERT_TRUE(platform::ModifyMachine([](platform::ProfileDocument& doc) {
        doc.Set("Device navi.disk", "SectorSize", "untold");
        return true;
    }));
    LogCapture log(world.root);
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    EXPECT_EQ(log.Count("セクタサイズ取得失敗[50]"), 1u);
    const std::string data = Pattern(8 * kSectorSize, 8);
    EXPECT_EQ(Write(data), 0);
    EXPECT_EQ(Volume().substr(0, data.size()), data);
}

TEST_F(RawAccess, SixtyFiveSectorsGoOutAsAFullPieceAndOneSector) {
    std::string data = Pattern(65 * kSectorSize, 1);
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    // Sector 64 refuses every write: the first piece of 64 sectors is through, the second fails.
    navisim::SetFaults("navi", {.writeFailSector = 64});
    EXPECT_EQ(Write(data), kSectorWriteFailed);
    EXPECT_EQ(Navi().ImagePosition.writePosition, 32768u);
    EXPECT_EQ(Volume().substr(0, 32768), data.substr(0, 32768));
    EXPECT_NE(Volume().substr(32768, 512), data.substr(32768, 512));

    navisim::ClearFaults("navi");
    Navi().ImagePosition.writePosition = 0;
    ASSERT_EQ(Write(data), 0);
    EXPECT_EQ(Navi().ImagePosition.writePosition, 33280u);
    EXPECT_EQ(Volume().substr(0, data.size()), data);

    platform::RawBuffer back(platform::NewRawBuffer(data.size()));
    ASSERT_EQ(ReadImageData(65, &Navi().ImagePosition, back.get()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.get()), data.size()), data);
    EXPECT_EQ(Navi().ImagePosition.readPosition, 33280u);
}

TEST_F(RawAccess, APieceIsTriedTenTimesWithTheLongerPauseOnce) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    std::string data = Pattern(8 * kSectorSize, 2);

    navisim::SetFaults("navi", {.writeFailSector = 3, .writeFailAttempts = 9});
    uint64_t start = platform::GetTickCount64();
    ASSERT_EQ(Write(data), 0);
    EXPECT_EQ(Elapsed(start), 9u * 1 + 10);
    EXPECT_EQ(Volume().substr(0, data.size()), data);

    navisim::SetFaults("navi", {.writeFailSector = 3, .writeFailAttempts = 10});
    Navi().ImagePosition.writePosition = 0;
    start = platform::GetTickCount64();
    EXPECT_EQ(Write(data), kSectorWriteFailed);
    EXPECT_EQ(Elapsed(start), 10u * 1 + 10);
    EXPECT_EQ(Navi().ImagePosition.writePosition, 0u);

    // A short write is retried from the same position.
    navisim::SetFaults("navi", {.shortWriteSector = 5, .shortWriteAttempts = 1});
    std::string other = Pattern(8 * kSectorSize, 3);
    ASSERT_EQ(Write(other), 0);
    EXPECT_EQ(Volume().substr(0, other.size()), other);
}

TEST_F(RawAccess, TheLongerPauseFollowsTheSixthAttemptExactly) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    std::string data = Pattern(2 * kSectorSize, 4);
    // Five failures: five short pauses. The sixth failure brings the longer one.
    for (auto [failures, pause] : {std::pair{5, 5u}, std::pair{6, 6u + 10}}) {
        navisim::SetFaults("navi", {.writeFailSector = 0, .writeFailAttempts = failures});
        Navi().ImagePosition.writePosition = 0;
        uint64_t start = platform::GetTickCount64();
        ASSERT_EQ(Write(data), 0) << failures;
        EXPECT_EQ(Elapsed(start), pause) << failures;
    }
}

// The file system is dismounted before the raw write: files copied once the handle is gone land
// in the new file system, not on clusters the old one's map thought free.
TEST_F(RawAccess, TheOpenDismountsSoCopiesAfterTheImageStayOffIt) {
    std::string data = Pattern(16 * kSectorSize, 5);
    data.replace(510, 2, "\x55\xAA");  // a volume the drive can show
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    ASSERT_EQ(Write(data), 0);
    ASSERT_EQ(DriveClose(), 0);
    std::string source = world.root + "/copy.dat";
    TestWorld::WriteFile(source, std::string(700, 'Z'));
    ASSERT_TRUE(platform::CopyFileA(world.Win(source).c_str(), "E:\\UPDATE\\COPY.DAT", false));
    EXPECT_TRUE(Volume().substr(0, data.size()) == data) << "the copy landed inside the image";
}

TEST_F(RawAccess, RewriteSignatureChangesExactlyTheTwoSignatureWords) {
    std::string data = Pattern(6 * kSectorSize, 4);
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    ASSERT_EQ(Write(data), 0);
    std::string before = Volume();

    ASSERT_EQ(RewriteSignature(0, 2), 0);
    std::string cleared = Volume();
    std::string expected = before;
    for (size_t at : {510u, 511u, 2560u + 510, 2560u + 511}) expected[at] = '\0';
    EXPECT_EQ(cleared, expected);
    // Let go, the drive now reads as unformatted (locked, its files are out of reach anyway).
    DriveRelease();
    EXPECT_EQ(platform::GetFileAttributesA("E:\\MAP\\MAP.VER"), platform::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_UNRECOGNIZED_VOLUME);

    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    ASSERT_EQ(RewriteSignature(0, 1), 0);
    expected[510] = expected[2560 + 510] = '\x55';
    expected[511] = expected[2560 + 511] = '\xAA';
    EXPECT_EQ(Volume(), expected);
    ASSERT_EQ(DriveClose(), 0);
    EXPECT_NE(platform::GetFileAttributesA("E:\\MAP\\MAP.VER"), platform::INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(RewriteSignature(1, 2), 0);  // skipped, even without a handle
    EXPECT_EQ(Volume(), expected);
    Navi().DriveHandle = platform::INVALID_HANDLE_VALUE;
    EXPECT_EQ(RewriteSignature(0, 2), kVolumeOpenFailed);
    EXPECT_EQ(Navi().DriveHandle, nullptr);
}

TEST_F(RawAccess, ReopenWaitEndsAtOnceWithoutAUnitAndGivesUpAfterTenTries) {
    std::string drive = Navi().NaviDrive;
    Navi().NaviDrive.clear();
    uint64_t start = platform::GetTickCount64();
    EXPECT_EQ(DriveReopenWait(), 0);
    EXPECT_EQ(Elapsed(start), 0u);

    Navi().NaviDrive = drive;
    start = platform::GetTickCount64();
    EXPECT_EQ(DriveReopenWait(), 0);
    EXPECT_EQ(Elapsed(start), 5000u);

    navisim::Unplug("navi");
    start = platform::GetTickCount64();
    EXPECT_EQ(DriveReopenWait(), kVolumeNotBack);
    EXPECT_EQ(Elapsed(start), 50000u);
    EXPECT_EQ(Navi().DriveHandle, nullptr);
}

TEST_F(RawAccess, AUnitVanishingMidWriteTakesItsLetterAlong) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    navisim::SetFaults("navi", {.vanishAfterBytes = 40000});
    EXPECT_EQ(Write(Pattern(128 * kSectorSize, 5)), kSectorWriteFailed);
    EXPECT_EQ(Navi().ImagePosition.writePosition, 32768u);
    std::string root;
    EXPECT_EQ(CheckDriveNo('E', &root), 0);  // free again
    EXPECT_EQ(DriveClose(), kVolumeNotBack);
}

// The volume's presence is looked up again only when the machine changes: a unit pulled after
// good sector calls fails the next one, and a fault set meanwhile takes effect at once.
TEST_F(RawAccess, TheNextSectorCallSeesAChangeOfTheMachine) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    std::string data = Pattern(8 * kSectorSize, 6);
    ASSERT_EQ(Write(data), 0);
    navisim::SetFaults("navi", {.writeFailSector = 1});
    Navi().ImagePosition.writePosition = 0;
    EXPECT_EQ(Write(data), kSectorWriteFailed);
    navisim::ClearFaults("navi");
    Navi().ImagePosition.writePosition = 0;
    ASSERT_EQ(Write(data), 0);

    navisim::Unplug("navi");
    uint32_t written = 0;
    EXPECT_FALSE(platform::WriteFile(Navi().DriveHandle, data.data(), kSectorSize, &written, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_DEVICE_NOT_CONNECTED);
    std::string back(kSectorSize, '\0');
    EXPECT_EQ(ReadImageData(1, &Navi().ImagePosition, reinterpret_cast<unsigned char*>(back.data())),
              kSectorReadFailed);
    EXPECT_FALSE(platform::FlushFileBuffers(Navi().DriveHandle));

    navisim::Plug("navi");
    EXPECT_TRUE(platform::FlushFileBuffers(Navi().DriveHandle));  // the same volume is back
}

TEST_F(RawAccess, ASignatureSectorIsTriedTenTimesWithTheLongerPauseAfterTheSixth) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    for (auto [failures, pause] : {std::pair{5, 5u}, std::pair{6, 6u + 10}, std::pair{9, 9u + 10}}) {
        navisim::SetFaults("navi", {.writeFailSector = 0, .writeFailAttempts = failures});
        uint64_t start = platform::GetTickCount64();
        EXPECT_EQ(RewriteSignature(0, 1), 0) << failures;
        EXPECT_EQ(Elapsed(start), pause) << failures;
    }
    navisim::SetFaults("navi", {.writeFailSector = 0, .writeFailAttempts = 10});
    EXPECT_EQ(RewriteSignature(0, 2), kSectorWriteFailed);
    EXPECT_EQ(Volume()[510], '\x55');  // left as it was
}

// A write the volume took but could not flush is not on the unit: it is a failed attempt. A
// signature restore that ended so would leave a volume no file system can read.
TEST_F(RawAccess, AWriteThatCannotBeFlushedIsAFailedAttempt) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    struct stat image {};
    ASSERT_EQ(::stat(navisim::UnitImage("navi").c_str(), &image), 0);
    refusedFlushInode = image.st_ino;

    refusedFlushes = 3;
    EXPECT_EQ(RewriteSignature(0, 1), 0);  // the fourth attempt holds
    EXPECT_EQ(refusedFlushes, 0);
    refusedFlushes = 10;
    EXPECT_EQ(RewriteSignature(0, 1), kSectorWriteFailed);

    refusedFlushes = 10;
    EXPECT_EQ(Write(Pattern(kSectorSize, 7)), kSectorWriteFailed);
    EXPECT_EQ(Navi().ImagePosition.writePosition, 0u);
    refusedFlushes = 2;
    EXPECT_EQ(Write(Pattern(kSectorSize, 7)), 0);
    EXPECT_EQ(Navi().ImagePosition.writePosition, kSectorSize);
    refusedFlushes = 0;
}

TEST_F(RawAccess, ASignatureWriteThatCameShortIsWrittenAgain) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    ASSERT_EQ(RewriteSignature(0, 2), 0);
    // The backup boot sector (sector 5) takes nothing the first time, yet reports success.
    navisim::SetFaults("navi", {.shortWriteSector = 5, .shortWriteAttempts = 1});
    ASSERT_EQ(RewriteSignature(0, 1), 0);
    EXPECT_EQ(Volume().substr(2560 + 510, 2), "\x55\xAA");
}

TEST_F(RawAccess, ASignatureSectorThatReadsShortIsNotWritten) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    // The medium now ends before the backup boot sector: its read comes back empty.
    std::filesystem::resize_file(navisim::UnitImage("navi"), 2560);
    EXPECT_EQ(RewriteSignature(0, 1), kSectorReadFailed);
    EXPECT_EQ(Volume().size(), 2560u);
}

// A volume does not grow: a write running past its last sector writes nothing, one ending there
// goes through.
TEST_F(RawAccess, AWritePastTheLastSectorFailsAndWritesNothing) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    const std::string before = Volume();
    ASSERT_EQ(before.size(), 1u << 20);
    const std::string data = Pattern(2 * kSectorSize, 7);
    platform::RawBuffer block = Aligned(data);
    platform::HANDLE handle = Navi().DriveHandle;
    ASSERT_EQ(platform::SetFilePointer(handle, (1 << 20) - kSectorSize, nullptr, platform::FILE_BEGIN),
              (1u << 20) - kSectorSize);
    uint32_t written = 99;
    EXPECT_FALSE(platform::WriteFile(handle, block.get(), 2 * kSectorSize, &written, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_SECTOR_NOT_FOUND);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(Volume(), before);

    EXPECT_TRUE(platform::WriteFile(handle, block.get(), kSectorSize, &written, nullptr));
    EXPECT_EQ(written, kSectorSize);
    EXPECT_EQ(Volume(), before.substr(0, (1 << 20) - kSectorSize) + data.substr(0, kSectorSize));
}

TEST_F(RawAccess, SizePositionAndBufferMustEachBeWholeSectors) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    const std::string before = Volume();
    platform::RawBuffer block = Aligned(Pattern(2 * kSectorSize, 3));
    platform::HANDLE handle = Navi().DriveHandle;
    struct Case {
        const char* name;
        uint32_t position;
        unsigned char* buffer;
        uint32_t size;
    };
    const Case cases[] = {{"size", 0, block.get(), 100},
                          {"position", 100, block.get(), kSectorSize},
                          {"buffer", 0, block.get() + 1, kSectorSize}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(platform::SetFilePointer(handle, c.position, nullptr, platform::FILE_BEGIN), c.position);
        uint32_t moved = 99;
        EXPECT_FALSE(platform::WriteFile(handle, c.buffer, c.size, &moved, nullptr));
        EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
        EXPECT_EQ(moved, 0u);
        moved = 99;
        EXPECT_FALSE(platform::ReadFile(handle, c.buffer, c.size, &moved, nullptr));
        EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
        EXPECT_EQ(moved, 0u);
    }
    EXPECT_EQ(Volume(), before);
}

TEST_F(RawAccess, FormatGoesThroughTheViewsDialog) {
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    ASSERT_EQ(RewriteSignature(0, 2), 0);
    ASSERT_EQ(DriveClose(), 0);
    Navi().ImageWritePending = 1;

    world.recorder.AnswerFormat(false);
    EXPECT_EQ(FormatNaviDrive(), static_cast<int>(platform::SHFMT_CANCEL));
    EXPECT_EQ(Navi().ImageWritePending, 1);

    world.recorder.AnswerFormat(true);
    EXPECT_EQ(FormatNaviDrive(), 0);
    EXPECT_EQ(Navi().ImageWritePending, 0);
    navisim::CheckReport report = navisim::Check("navi", std::nullopt);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);
    EXPECT_TRUE(report.updateFiles.empty());

    Navi().NaviDrive.clear();
    EXPECT_EQ(FormatNaviDrive(), 0);
}
