// Damaged update sets: bad CRCs, cut gzip streams, joins that fail, and control, version, disk ID
// and image files outside the format, each refused before it can do harm.
#include <filesystem>
#include <functional>

#include "GzipBomb.h"
#include "UpdateFixture.h"
#include "decode/Encipher.h"
#include "update/Crc16.h"
#include "state/Results.h"

namespace fs = std::filesystem;

namespace {

// Offsets inside the CONF files as mkupdate lays them out: one item in record 0.
constexpr size_t kRecordCount = 16;
constexpr size_t kRecord0 = 884;
constexpr size_t kRecord0Item0 = kRecord0 + 272;
constexpr size_t kRecord1 = kRecord0Item0 + 12;
constexpr size_t kRecord1Items = kRecord1 + 272;

void Put32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}
void Put16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}
uint16_t Crc(const std::string& bytes) {
    return Crc16(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

class BadInputTest : public UpdateFixture {
protected:
    // The preparation fails with 807 and takes back every intermediate, leaving the delivered
    // files as they were.
    void ExpectUnpackingRefused() {
        const auto delivered = Delivered();
        EXPECT_EQ(Prepare(), kMapDataCopyFailed);
        EXPECT_TRUE(Intermediates().empty());
        EXPECT_EQ(Delivered(), delivered);
    }
    // The deciphered content of a delivered CONF file.
    std::string Plain(const std::string& name) {
        std::string bytes = Read("CONF/" + name);
        theApp.pDecodeEx(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
        return bytes.substr(0, bytes.size() - 8);
    }
    // Delivers `plain` as CONF file `name`, enciphered and listed with its CRC, as the issuing
    // side would.
    void Deliver(const std::string& name, const std::string& plain) {
        auto bytes = veltrane::decode::EncipherEx({reinterpret_cast<const unsigned char*>(plain.data()), plain.size()},
                                                  {1, 2, 3, 4, 5, 6, 7, 8});
        TestWorld::WriteFile(Native("CONF/" + name), std::string(bytes.begin(), bytes.end()));
        std::string list = Read("CONF/CONFCRC.DAT");
        for (size_t entry = 4; entry + 20 <= list.size(); entry += 20)
            if (list.compare(entry + 8, name.size(), name) == 0) Put16(list, entry, Crc(plain));
        TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), list);
    }
    // Delivers `bytes` as a data file and lists their CRC in item `itemAt` of `conf`.
    void Relist(const std::string& relative, const std::string& bytes, const std::string& conf, size_t itemAt) {
        TestWorld::WriteFile(Native(relative), bytes);
        std::string plain = Plain(conf);
        Put16(plain, itemAt + 4, Crc(bytes));
        Deliver(conf, plain);
    }
    // Cuts a delivered data file short and lists the cut file's CRC.
    void CutAndRelist(const std::string& relative, const std::string& conf, size_t itemAt) {
        std::string bytes = Read(relative);
        bytes.resize(bytes.size() - 20);
        Relist(relative, bytes, conf, itemAt);
    }
    int ConfSteps() {
        int result = ConfCrcRead(data, id);
        return result != 0 ? result : ConfFileDecode(data, id);
    }
};

TEST_F(BadInputTest, ABitFlippedConfFileFailsItsCrcAndGetsNoNewFile) {
    mkupdate::Options options;
    options.corruptions = {{"CONF/CONF2000.DAT", 300}};
    Build(options);
    const auto delivered = Delivered();
    EXPECT_EQ(Prepare(), kCrcMismatch);
    EXPECT_TRUE(Exists("CONF/NEWCONF1001.DAT"));
    EXPECT_FALSE(Exists("CONF/NEWCONF2000.DAT"));
    EXPECT_EQ(Delivered(), delivered);
}

TEST_F(BadInputTest, APieceWithAWrongCrcStopsTheStepBeforeAnyPieceIsTouched) {
    mkupdate::Options options;
    options.corruptions = {{"FLASH/RENEWAL/LPA080.DAT.002", 40}};
    Build(options);
    const auto delivered = Delivered();
    EXPECT_EQ(Prepare(), kCrcMismatch);
    EXPECT_TRUE(Intermediates().empty());
    EXPECT_FALSE(Exists("FLASH/RENEWAL/NEWLPA080.DAT"));
    EXPECT_EQ(Delivered(), delivered);
}

TEST_F(BadInputTest, ACutGzipStreamGives807AndLeavesTheDeliveredFiles) {
    Build();
    CutAndRelist("FLASH/RENEWAL/LPA080.DAT.001", "CONF2000.DAT", kRecord1Items + 12);
    ExpectUnpackingRefused();
    EXPECT_FALSE(Exists("FLASH/RENEWAL/NEWLPA080.DAT"));

    fs::remove_all(Native());
    Build();
    CutAndRelist("FLASH/VOLUME.DAT.000", "CONF1001.DAT", kRecord0Item0);
    ExpectUnpackingRefused();
}

// The image is 64 KiB (mkupdate's default): no product may unpack to more.
TEST_F(BadInputTest, AGzipBombGives807AndLeavesNothingItWrote) {
    const std::string bomb = GzipBomb(64 << 20);
    ASSERT_LT(bomb.size(), 80000u);
    Build();
    Relist("FLASH/RENEWAL/LPA080.DAT.001", bomb, "CONF2000.DAT", kRecord1Items + 12);
    ExpectUnpackingRefused();
    EXPECT_FALSE(Exists("FLASH/RENEWAL/NEWLPA080.DAT"));

    fs::remove_all(Native());
    Build();
    Relist("FLASH/VOLUME.DAT.000", bomb, "CONF1001.DAT", kRecord0Item0);
    ExpectUnpackingRefused();
    EXPECT_FALSE(Exists("FLASH/NEWVOLUME.DAT"));
}

TEST_F(BadInputTest, SplitPiecesMustFitTheImageEachFromItsOffsetAndAllTogether) {
    mkupdate::Options options;
    // Ends exactly at the image's 65,536th byte.
    options.lpa080Layout = {{0, 30000}, {35536, 30000}};
    Build(options);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(Read("FLASH/RENEWAL/NEWLPA080.DAT").size(), 65536u);

    // One byte past the image's end.
    fs::remove_all(Native());
    options.lpa080Layout = {{0, 30000}, {35537, 30000}};
    Build(options);
    ExpectUnpackingRefused();
    EXPECT_FALSE(Exists("FLASH/RENEWAL/NEWLPA080.DAT"));

    // Each piece inside the image, but 70,000 bytes unpacked in all.
    fs::remove_all(Native());
    options.lpa080Layout = {{0, 35000}, {0, 35000}};
    Build(options);
    ExpectUnpackingRefused();
}

TEST_F(BadInputTest, AnExistingDecompFileGives807AndThePiecesIntermediatesGo) {
    Build();
    TestWorld::WriteFile(Native("FLASH/RENEWAL/DECOMPLPA080.DAT.001"), "left over");
    ExpectUnpackingRefused();
    EXPECT_TRUE(Exists("FLASH/NEWRELEASE.TXT"));
}

TEST_F(BadInputTest, AJoinThatCannotSeekFailsWith804AndCleansUp) {
    Build();
    std::string plain = Plain("CONF2000.DAT");
    Put32(plain, kRecord1Items + 12 + 8, 0xFFFFFFFF);  // piece 1 at offset -1
    Deliver("CONF2000.DAT", plain);
    const auto delivered = Delivered();
    EXPECT_EQ(Prepare(), kMasterDataFailed);
    EXPECT_TRUE(Intermediates().empty());
    EXPECT_EQ(Delivered(), delivered);
}

TEST_F(BadInputTest, ControlFilesOutsideTheFormatAreRejected) {
    struct Case {
        const char* name;
        std::function<void()> spoil;
        bool beforeConf2000;  // the bad file is listed before CONF2000.DAT
    };
    const std::vector<Case> cases = {
        {"more than 20 entries",
         [&] {
             std::string list = Read("CONF/CONFCRC.DAT");
             Put32(list, 0, 21);
             TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), list);
         },
         true},
        {"more than two records",
         [&] {
             std::string plain = Plain("CONF1001.DAT");
             Put32(plain, kRecordCount, 3);
             Deliver("CONF1001.DAT", plain);
         },
         true},
        {"items beyond the end",
         [&] {
             std::string plain = Plain("CONF1001.DAT");
             Put32(plain, kRecord0 + 268, 1000);
             Deliver("CONF1001.DAT", plain);
         },
         true},
        {"a record beyond the end",
         [&] {
             std::string plain = Plain("CONF1001.DAT");
             Put32(plain, kRecordCount, 2);
             Deliver("CONF1001.DAT", plain);
         },
         true},
        {"a short CONF file", [&] { Deliver("CONF1001.DAT", Plain("CONF1001.DAT").substr(0, 883)); }, true},
        {"a short CONFLIST", [&] { Deliver("CONFLIST.DAT", Plain("CONFLIST.DAT").substr(0, 879)); }, false},
        {"a listed name with a separator",
         [&] {
             std::string list = Read("CONF/CONFCRC.DAT");
             list.replace(12, 12, std::string("..\\CONF1001\0", 12));
             TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), list);
             // There is a file to read behind that name.
             fs::copy_file(Native("CONF/CONF1001.DAT"), Native("CONF1001"));
         },
         true},
        {"an image base name with a separator",
         [&] {
             std::string plain = Plain("CONF6000.DAT");
             const std::string text = "FLASH2\\..\\VTIMAGE";
             plain.replace(kRecord0 + 4, text.size() + 1, text + '\0');
             Deliver("CONF6000.DAT", plain);
         },
         false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        fs::remove_all(Native());
        Build();
        test.spoil();
        const auto delivered = Delivered();
        EXPECT_EQ(ConfSteps(), kControlFileMalformed);
        EXPECT_EQ(Delivered(), delivered);
        // The step stops at the bad file.
        EXPECT_EQ(Exists("CONF/NEWCONF2000.DAT"), !test.beforeConf2000);
    }
}

TEST_F(BadInputTest, ShortVersionDiskIdAndImageFilesAreRejected) {
    Build();
    TestWorld::WriteFile(Native("RENEWAL/VERINFO.DAT"), "1234567");
    TestWorld::WriteFile(Native("DISKID.DAT"), "");
    EXPECT_EQ(VersionFileDecode(id), kControlFileMalformed);
    EXPECT_EQ(DiskIdFileDecode(id), kControlFileMalformed);
    EXPECT_FALSE(Exists("RENEWAL/NEWVERINFO.DAT"));
    EXPECT_FALSE(Exists("NEWDISKID.DAT"));
    // The IV alone is the shortest file: nothing after it to decipher.
    TestWorld::WriteFile(Native("DISKID.DAT"), "12345678");
    EXPECT_EQ(DiskIdFileDecode(id), 0);
    EXPECT_EQ(Read("NEWDISKID.DAT"), "");

    ASSERT_EQ(ConfSteps(), 0);
    // The enciphered 5,120 bytes alone are a whole first piece; one byte less is not.
    const std::string piece = Read("FLASH2/VTIMAGE.000");
    TestWorld::WriteFile(Native("FLASH2/VTIMAGE.000"), piece.substr(0, 5120));
    ASSERT_EQ(ImageFileDecode(data, Folder("FLASH2"), "VTIMAGE.000"), 0);
    EXPECT_EQ(Read("FLASH2/NEWVTIMAGE.000").size(), 5120u);
    fs::remove(Native("FLASH2/NEWVTIMAGE.000"));
    TestWorld::WriteFile(Native("FLASH2/VTIMAGE.000"), piece.substr(0, 5119));
    EXPECT_EQ(ImageFileDecode(data, Folder("FLASH2"), "VTIMAGE.000"), kImagePieceTooShort);
    EXPECT_FALSE(Exists("FLASH2/NEWVTIMAGE.000"));
}
