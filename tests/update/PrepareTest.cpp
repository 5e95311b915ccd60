// The preparation of a built update set: what the control files give back, uncompressed sets,
// pieces at their offsets, fresh control data each time, and the record parser's limits.
#include <cstring>

#include "UpdateFixture.h"
#include "state/Results.h"

using PrepareTest = UpdateFixture;

TEST_F(PrepareTest, ABuiltSetGivesBackWhatWentIntoIt) {
    mkupdate::Options options;
    options.imagePieces = 3;
    options.lpa080Pieces = 4;
    const mkupdate::Contents contents = Build(options);
    const auto delivered = Delivered();

    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(Read("FLASH/NEWVOLUME.DAT"), contents.volume);
    EXPECT_EQ(Read("FLASH/NEWRELEASE.TXT"), contents.release);
    EXPECT_EQ(Read("FLASH/RENEWAL/NEWLPA080.DAT"), contents.lpa080);
    EXPECT_EQ(Read("RENEWAL/NEWVERINFO.DAT").substr(12, 9), "2026.0411");
    EXPECT_TRUE(Exists("NEWDISKID.DAT"));

    // What the image write takes from the control data.
    EXPECT_EQ(TotalSize(data.conf6000), contents.image.size());
    const CONFIG_RECORD_SLOT& image = data.conf6000.slots[0];
    ASSERT_EQ(ItemCount(image), 3);
    ASSERT_EQ(image.items.size(), 3u);
    uint16_t sum = 0;
    for (unsigned char c : contents.image) sum = static_cast<uint16_t>(sum + c);
    EXPECT_EQ(ImageChecksum(image), sum);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(image.items[k].dataSize, contents.imagePieceSizes[k]);
    EXPECT_EQ(ImageBaseName, "VTIMAGE");

    ASSERT_EQ(ImageFileDecode(data, Folder("FLASH2"), ImageBaseName + ".000"), 0);
    const std::string piece = Read("FLASH2/VTIMAGE.000");
    const std::string decoded = Read("FLASH2/NEWVTIMAGE.000");
    ASSERT_EQ(decoded.size(), piece.size());
    EXPECT_EQ(decoded.substr(0, 5120), contents.image.substr(0, 5120));
    EXPECT_NE(piece.substr(0, 5120), decoded.substr(0, 5120));
    EXPECT_EQ(decoded.substr(5120), piece.substr(5120));

    EXPECT_EQ(Delivered(), delivered);
    EXPECT_TRUE(Intermediates().empty());
}

TEST_F(PrepareTest, AnUncompressedDeliveryIsCopiedAndJoinedAsItIs) {
    mkupdate::Options options;
    options.compress = false;
    const mkupdate::Contents contents = Build(options);
    const auto delivered = Delivered();
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(Read("FLASH/NEWVOLUME.DAT"), contents.volume);
    EXPECT_EQ(Read("FLASH/NEWRELEASE.TXT"), contents.release);
    EXPECT_EQ(Read("FLASH/RENEWAL/NEWLPA080.DAT"), contents.lpa080);
    EXPECT_EQ(Delivered(), delivered);
    EXPECT_TRUE(Intermediates().empty());
}

TEST_F(PrepareTest, PiecesLandAtTheirOffsetsWhateverTheirLengths) {
    mkupdate::Options options;
    // Piece 0 runs into piece 1, and a gap lies between piece 1 and piece 2.
    options.lpa080Layout = {{0, 6000}, {5000, 3000}, {12000, 100}};
    const mkupdate::Contents contents = Build(options);
    ASSERT_EQ(Prepare(), 0);
    const std::string joined = Read("FLASH/RENEWAL/NEWLPA080.DAT");
    ASSERT_EQ(joined.size(), 12100u);
    EXPECT_EQ(joined.substr(0, 5000), contents.lpa080Pieces[0].substr(0, 5000));
    EXPECT_EQ(joined.substr(5000, 3000), contents.lpa080Pieces[1]);
    EXPECT_EQ(joined.substr(8000, 4000), std::string(4000, '\0'));
    EXPECT_EQ(joined.substr(12000), contents.lpa080Pieces[2]);

    // A set of one piece still goes through copy, extraction and join.
    std::filesystem::remove_all(Native());
    options.lpa080Layout = {{0, 1}};
    Build(options);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(Read("FLASH/RENEWAL/NEWLPA080.DAT").size(), 1u);
}

TEST_F(PrepareTest, EveryTransferStartsFromAnEmptyConfigData) {
    Build();
    // A longer CRC list is used up to its 404th byte.
    TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), Read("CONF/CONFCRC.DAT") + std::string(1000, '\xFF'));
    memset(data.confList, 0xAA, sizeof data.confList);
    data.conf2000.slots[1].items.resize(7);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(data.conf2000.slots[1].items.size(), 3u);
    EXPECT_EQ(data.conf2000.slots[0].items.size(), 1u);
    EXPECT_EQ(data.confList[100], 0);
    EXPECT_EQ(data.confCrc[403], 0xFF);

    // A second parse of the same file replaces the item lists.
    const std::string plain = Read("CONF/NEWCONF2000.DAT");
    ASSERT_EQ(ConfRecordParse(data.conf2000, reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), false),
              0);
    EXPECT_EQ(data.conf2000.slots[1].items.size(), 3u);

    // A CRC list shorter than the last one, naming no file: nothing read last time is left over,
    // neither the tail of the old list nor the image control data of its CONF6000.DAT.
    ASSERT_EQ(data.confCrc[403], 0xFF);
    ASSERT_NE(TotalSize(data.conf6000), 0u);
    TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), std::string(4, '\0'));
    ASSERT_EQ(ConfCrcRead(data, id), 0);
    ASSERT_EQ(ConfFileDecode(data, id), 0);
    EXPECT_EQ(data.confCrc[403], 0);
    EXPECT_EQ(TotalSize(data.conf6000), 0u);
    EXPECT_TRUE(data.conf6000.slots[0].items.empty());
}

TEST_F(PrepareTest, AnEmptyCrcListSucceedsWithoutReadingConfFiles) {
    Build();
    TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), std::string(4, '\0'));
    std::filesystem::remove(Native("CONF/CONF1001.DAT"));
    ASSERT_EQ(ConfCrcRead(data, id), 0);
    EXPECT_EQ(ConfFileDecode(data, id), 0);
    EXPECT_FALSE(Exists("CONF/NEWCONF2000.DAT"));
}

TEST_F(PrepareTest, AnUnknownListedFileIsCheckedAndWrittenButNotParsed) {
    Build();
    // CONFCRC lists CONFLIST.DAT last; under another name it is only checked and written.
    std::string crcList = Read("CONF/CONFCRC.DAT");
    crcList.replace(12 + 20 * 3, 12, "CONFLIST.BAK");
    TestWorld::WriteFile(Native("CONF/CONFCRC.DAT"), crcList);
    std::filesystem::copy_file(Native("CONF/CONFLIST.DAT"), Native("CONF/CONFLIST.BAK"));
    ASSERT_EQ(ConfCrcRead(data, id), 0);
    ASSERT_EQ(ConfFileDecode(data, id), 0);
    EXPECT_EQ(Read("CONF/NEWCONFLIST.BAK").substr(0, 8), "CONFLIST");
    EXPECT_EQ(data.confList[0], 0);
}

// Control-file records built byte by byte: a header of 884 bytes with the record count at 16,
// records of 272 bytes with the item count at 268, items of 12 bytes.
class RecordParseTest : public ::testing::Test {
protected:
    static std::string File(int32_t items, const std::string& text = "FLASH2\\VTIMAGE") {
        std::string file(884 + 272 + 12 * static_cast<size_t>(items), '\0');
        Put32(file, 16, 1);
        file.replace(884 + 4, text.size(), text);
        Put32(file, 884 + 268, static_cast<uint32_t>(items));
        for (int32_t k = 0; k < items; ++k) Put32(file, 884 + 272 + 12 * static_cast<size_t>(k), 512u * (k + 1));
        return file;
    }
    static void Put32(std::string& s, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
    }
    int Parse(const std::string& file, bool conf6000 = false) {
        return ConfRecordParse(area, reinterpret_cast<const unsigned char*>(file.data()), file.size(), conf6000);
    }
    CONFIG_FILE_AREA area;
};

TEST_F(RecordParseTest, RecordsAndItemsMayEndExactlyAtTheEndOfTheFile) {
    const std::string empty = File(0);
    EXPECT_EQ(Parse(empty), 0);
    EXPECT_TRUE(area.slots[0].items.empty());
    EXPECT_EQ(Parse(empty.substr(0, empty.size() - 1)), kControlFileMalformed);

    const std::string two = File(2);
    ASSERT_EQ(Parse(two), 0);
    ASSERT_EQ(area.slots[0].items.size(), 2u);
    EXPECT_EQ(area.slots[0].items[1].dataSize, 1024u);
    EXPECT_EQ(Parse(two.substr(0, two.size() - 1)), kControlFileMalformed);
    EXPECT_TRUE(area.slots[0].items.empty());
}

TEST_F(RecordParseTest, TheImageBaseNameFollowsTheFirstBackslashOrIsTheWholeText) {
    EXPECT_EQ(Parse(File(0, "FLASH2\\PIECES"), true), 0);
    EXPECT_EQ(ImageBaseName, "PIECES");
    EXPECT_EQ(Parse(File(0, "PLAINIMG"), true), 0);
    EXPECT_EQ(ImageBaseName, "PLAINIMG");
    // "ソ" (83 5C) holds the backslash byte as its second half: no separator, the whole text.
    EXPECT_EQ(Parse(File(0, "\x83\x5CIMG"), true), 0);
    EXPECT_EQ(ImageBaseName, "\x83\x5CIMG");
    // A device name would open the device on Windows ("...\FLASH2\COM1.000").
    ImageBaseName = "KEPT";
    for (const char* device : {"FLASH2\\COM1", "FLASH2\\nul", "FLASH2\\IMG.", "FLASH2\\IM*G"}) {
        EXPECT_EQ(Parse(File(0, device), true), kControlFileMalformed) << device;
        EXPECT_EQ(ImageBaseName, "KEPT");
    }
    // Only CONF6000.DAT's record 0 names the image.
    EXPECT_EQ(Parse(File(0, "OTHER\\NAME"), false), 0);
    EXPECT_EQ(ImageBaseName, "KEPT");
}
