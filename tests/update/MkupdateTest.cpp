// The update-set builder: image pieces that join back into the image, and the command that
// builds the same set and corrupts a named byte.
#include <cstdlib>
#include <stdexcept>

#include "UpdateFixture.h"
#include "support/BuildFolders.h"

namespace fs = std::filesystem;

using MkupdateTest = UpdateFixture;

TEST_F(MkupdateTest, AnImageFileIsCutIntoSectorPiecesThatJoinBackIntoIt) {
    std::string image(40 * 512, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 / 7);
    TestWorld::WriteFile(world.root + "/image.bin", image);
    mkupdate::Options options;
    options.imageFile = world.root + "/image.bin";
    options.imagePieces = 3;
    options.imagePieceTail = 100;
    const mkupdate::Contents contents = Build(options);
    EXPECT_EQ(contents.imagePieceSizes, (std::vector<uint32_t>{14 * 512, 14 * 512, 12 * 512}));

    // Each piece file carries its filler past the bytes it writes.
    ASSERT_EQ(Prepare(), 0);
    ASSERT_EQ(ImageFileDecode(data, Folder("FLASH2"), "VTIMAGE.000"), 0);
    const std::string pieces[] = {Read("FLASH2/NEWVTIMAGE.000"), Read("FLASH2/VTIMAGE.001"),
                                  Read("FLASH2/VTIMAGE.002")};
    EXPECT_EQ(pieces[1].substr(14 * 512), std::string(100, '\xA4'));
    EXPECT_EQ(pieces[2].size(), 12u * 512 + 100);
    EXPECT_EQ(pieces[0].substr(0, 14 * 512) + pieces[1].substr(0, 14 * 512) + pieces[2].substr(0, 12 * 512), image);

    options.imagePieces = 5;  // pieces of 4,096 bytes: too short for the enciphered start
    EXPECT_THROW(Build(options), std::invalid_argument);
}

TEST_F(MkupdateTest, TheCommandBuildsTheSameSetAndCorruptsTheNamedByte) {
    const std::string exe = BinFolder() + "/mkupdate";
    EXPECT_EQ(std::system((exe + " --help > " + world.root + "/help.txt").c_str()), 0);
    EXPECT_NE(TestWorld::ReadFile(world.root + "/help.txt").find("--corrupt PATH:BYTE"), std::string::npos);
    EXPECT_NE(std::system((exe + " --bogus " + world.root + "/x 2>/dev/null").c_str()), 0);

    const std::string cli = world.root + "/cli";
    ASSERT_EQ(std::system((exe + " --seed 5 --lpa080-pieces 2 --corrupt CONF/CONF6000.DAT:10 " + cli).c_str()), 0);
    mkupdate::Options options;
    options.seed = 5;
    options.lpa080Pieces = 2;
    Build(options);
    const auto built = Files();
    size_t compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(cli)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = entry.path().lexically_relative(cli).generic_string();
        std::string expected = built.at(relative);
        if (relative == "CONF/CONF6000.DAT") expected[10] = static_cast<char>(expected[10] ^ 0xFF);
        EXPECT_EQ(TestWorld::ReadFile(entry.path()), expected) << relative;
        ++compared;
    }
    EXPECT_EQ(compared, built.size());
}
