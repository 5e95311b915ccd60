// Files past 4 GiB in the Windows build: a sparse file of 5 GiB whose last bytes are not zero is
// hashed over its whole length, refused whole by FileRead (whose size is 32 bits there) and
// copied with its size and its last bytes intact.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "common/Hash.h"
#include "platform/Files.h"
#include "support/TestWorld.h"

namespace {

constexpr uint64_t kLength = 5ull << 30;
constexpr char kTail[] = "tail";

// Sparse: a seek past the end, then the four last bytes.
bool MakeSparse(const std::string& path) {
    FILE* file = platform::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = fseeko(file, static_cast<off_t>(kLength - 4), SEEK_SET) == 0 && fwrite(kTail, 1, 4, file) == 4;
    return fclose(file) == 0 && ok;
}

std::string LastBytes(const std::string& path) {
    FILE* file = platform::fopen(path.c_str(), "rb");
    if (file == nullptr) return "";
    char last[5] = {};
    bool ok = fseeko(file, -4, SEEK_END) == 0 && fread(last, 1, 4, file) == 4;
    fclose(file);
    return ok ? last : "";
}

std::optional<uint64_t> ListedSize(const std::string& path) {
    std::vector<platform::FindData> found = platform::FindFiles(path);
    if (found.size() != 1) return std::nullopt;
    return found[0].size;
}

}  // namespace

TEST(LargeFileTest, AFileOfFiveGigabytesIsHashedWholeAndCopiedWhole) {
    theApp.ResetState();
    TestWorld world;
    const std::string folder = world.Win(world.root) + "\\";
    const std::string big = folder + "BIG.DAT";
    const std::string copy = folder + "COPY.DAT";
    ASSERT_TRUE(MakeSparse(big));
    EXPECT_EQ(ListedSize(big), kLength);

    // md5sum of 5 GiB - 4 zero bytes and "tail".
    EXPECT_EQ(HashCheckEx(folder, "BIG.DAT", "83182b994c8f8e9c1001fb48f25d7362"), 0);
    EXPECT_EQ(HashCheckEx(folder, "BIG.DAT", "c9a5a6878d97b48cc965c1e41859f034"),
              kDigestFailed);  // of its first 4 GiB alone

    unsigned char* buffer = nullptr;
    unsigned long size = 99;
    EXPECT_EQ(FileRead(folder, "BIG.DAT", &buffer, &size), kFileReadFailed);
    EXPECT_EQ(size, 0u);
    free(buffer);

    ASSERT_TRUE(platform::CopyFileA(big.c_str(), copy.c_str(), false));
    EXPECT_EQ(ListedSize(copy), kLength);
    EXPECT_EQ(LastBytes(copy), kTail);
    EXPECT_TRUE(platform::DeleteFileA(copy.c_str()));  // five gigabytes not kept for the world's own clean-up
    EXPECT_TRUE(platform::DeleteFileA(big.c_str()));
}
