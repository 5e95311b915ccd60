// The real PC's rules that need no device: which volumes the program may use, the letters they
// keep per file system, their GUID paths, and "unformatted" read from sector 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/BootSector.h"
#include "platform/linux/VolumeFormat.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Volumes.h"

namespace {

using platform::linuxpc::UDisksBlock;
using platform::linuxpc::UDisksDrive;

// The start of a FAT16 boot sector as mkfs.vfat writes it: jump, name, 512-byte sectors,
// 4 sectors a cluster, 8 reserved sectors, 2 FATs, and the signature.
void FatBootSector(unsigned char (&sector)[512]) {
    std::memset(sector, 0, sizeof sector);
    const unsigned char start[] = {0xEB, 0x3C, 0x90, 'm',  'k',  'f',  's',  '.', 'f',
                                   'a',  't',  0x00, 0x02, 0x04, 0x08, 0x00, 0x02};
    std::memcpy(sector, start, sizeof start);
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

class DriveLettersTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (char letter = 'A'; letter <= 'Z'; ++letter) platform::linuxpc::SetDriveDevice(letter, "");
    }
};

}  // namespace

TEST(BootSectorTest, OnlyASignedFatBootSectorIsAFileSystem) {
    unsigned char sector[512];
    FatBootSector(sector);
    EXPECT_TRUE(platform::linuxpc::HoldsFatFileSystem(sector));

    sector[510] = 0;  // what the image step leaves while it writes
    sector[511] = 0;
    EXPECT_FALSE(platform::linuxpc::HoldsFatFileSystem(sector));

    FatBootSector(sector);
    sector[0] = 0;  // no jump: not a boot sector
    EXPECT_FALSE(platform::linuxpc::HoldsFatFileSystem(sector));
    FatBootSector(sector);
    sector[13] = 3;  // no power of two: not a FAT parameter block
    EXPECT_FALSE(platform::linuxpc::HoldsFatFileSystem(sector));
    FatBootSector(sector);
    sector[16] = 0;  // no FAT
    EXPECT_FALSE(platform::linuxpc::HoldsFatFileSystem(sector));

    // FAT's sectors hold 512 to 4,096 bytes.
    FatBootSector(sector);
    sector[12] = 0x10;  // 4,096
    EXPECT_TRUE(platform::linuxpc::HoldsFatFileSystem(sector));
    sector[12] = 0x20;  // 8,192
    EXPECT_FALSE(platform::linuxpc::HoldsFatFileSystem(sector));
    sector[12] = 0x01;  // 256
    EXPECT_FALSE(platform::linuxpc::HoldsFatFileSystem(sector));
}

TEST(BootSectorTest, SectorZeroDecidesForFatAndBlkidForOtherFileSystems) {
    using platform::linuxpc::FormatFrom;
    using platform::linuxpc::VolumeFormat;
    EXPECT_EQ(FormatFrom("vfat", false), VolumeFormat::Unformatted);  // blkid still says vfat with 55 AA cleared
    EXPECT_EQ(FormatFrom("vfat", true), VolumeFormat::Formatted);
    // Unreadable sector 0: not known, and never taken for formatted on blkid's word.
    EXPECT_EQ(FormatFrom("vfat", std::nullopt), VolumeFormat::Unknown);
    EXPECT_EQ(FormatFrom("", std::nullopt), VolumeFormat::Unknown);
    EXPECT_EQ(FormatFrom("", true), VolumeFormat::Formatted);
    EXPECT_EQ(FormatFrom("ext4", false), VolumeFormat::Formatted);
}

TEST(VolumeRulesTest, OnlyFatOnARemovableUsbDiskIsACandidate) {
    UDisksDrive stick{"/org/freedesktop/UDisks2/drives/Stick", "usb", true, true};
    UDisksBlock fat;
    fat.idType = "vfat";
    fat.idUuid = "1A2B-3C4D";
    EXPECT_TRUE(platform::linuxpc::UnitCandidate(fat, &stick));

    UDisksDrive fixedUsb = stick;
    fixedUsb.removable = false;
    EXPECT_FALSE(platform::linuxpc::UnitCandidate(fat, &fixedUsb));
    UDisksDrive sata = stick;
    sata.connectionBus = "";
    EXPECT_FALSE(platform::linuxpc::UnitCandidate(fat, &sata));
    EXPECT_FALSE(platform::linuxpc::UnitCandidate(fat, nullptr));  // a loop device has no drive
    UDisksBlock ext4 = fat;
    ext4.idType = "ext4";
    EXPECT_FALSE(platform::linuxpc::UnitCandidate(ext4, &stick));
}

TEST(VolumeRulesTest, GuidPathComesFromTheFileSystemUuid) {
    platform::linuxpc::Volume fat;
    fat.uuid = "1A2B-3C4D";
    EXPECT_EQ(platform::linuxpc::VolumeGuidPath(fat), "\\\\?\\Volume{1a2b3c4d-0000-0000-0000-000000000000}\\");
    platform::linuxpc::Volume ext4;
    ext4.uuid = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
    EXPECT_EQ(platform::linuxpc::VolumeGuidPath(ext4), "\\\\?\\Volume{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\\");
    platform::linuxpc::Volume bare;
    bare.number = 0x700003;
    EXPECT_EQ(platform::linuxpc::VolumeGuidPath(bare), "\\\\?\\Volume{00000000-0070-0003-0000-000000000000}\\");
}

TEST_F(DriveLettersTest, AFileSystemKeepsItsLetterUnderAnyNode) {
    using platform::linuxpc::DriveDevice;
    using platform::linuxpc::LetterForVolume;
    EXPECT_EQ(LetterForVolume("1111-1111", "/dev/sdb1"), 'D');
    EXPECT_EQ(LetterForVolume("2222-2222", "/dev/sdc1"), 'E');
    EXPECT_EQ(LetterForVolume("1111-1111", "/dev/sdb1"), 'D');

    // Unplugged and another stick takes sdb: D: stays the first one's, without a device.
    EXPECT_EQ(LetterForVolume("3333-3333", "/dev/sdb1"), 'F');
    EXPECT_FALSE(DriveDevice('D'));
    EXPECT_EQ(DriveDevice('f'), "/dev/sdb1");
    // The first one back under another node.
    EXPECT_EQ(LetterForVolume("1111-1111", "/dev/sdd1"), 'D');
    EXPECT_EQ(DriveDevice('D'), "/dev/sdd1");

    // A format gives a new UUID; the volume keeps its letter, the old file system its none.
    platform::linuxpc::ReleaseVolumeIdentity('D');
    EXPECT_EQ(LetterForVolume("4444-4444", "/dev/sdd1"), 'D');
    EXPECT_EQ(LetterForVolume("1111-1111", "/dev/sdb1"), 'G');
}

TEST_F(DriveLettersTest, LettersRunFromDToYAndThenOut) {
    std::string given;
    for (int i = 0; i < 22; ++i)
        given += platform::linuxpc::LetterForVolume("UUID-" + std::to_string(i), "/dev/sd" + std::to_string(i));
    EXPECT_EQ(given, "DEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_EQ(platform::linuxpc::LetterForVolume("UUID-22", "/dev/sdz"), '\0');
}

TEST(BootSectorTest, LabelComesFromTheLayoutOfItsFat) {
    unsigned char sector[512];
    FatBootSector(sector);
    sector[22] = 0x20;  // FAT16: sectors per FAT, and the label at 43
    std::memcpy(sector + 43, "NAVI       ", 11);
    EXPECT_EQ(platform::linuxpc::FatLabel(sector), "NAVI");
    std::memcpy(sector + 43, "NO NAME    ", 11);
    EXPECT_EQ(platform::linuxpc::FatLabel(sector), "");
    sector[22] = 0;  // FAT32: the label at 71
    std::memcpy(sector + 71, "MAP 2026   ", 11);
    EXPECT_EQ(platform::linuxpc::FatLabel(sector), "MAP 2026");
    sector[510] = 0;
    EXPECT_EQ(platform::linuxpc::FatLabel(sector), "");
}
