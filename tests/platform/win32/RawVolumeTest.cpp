// Sector I/O on a raw volume: the run gives the test a drive whose device is an image file
// (VELTRANE_RAW_DRIVE, VELTRANE_RAW_IMAGE), so what is written can be read back through the
// volume and found in the image.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/RawVolume.h"

using namespace platform;

namespace {

std::vector<unsigned char> Pattern(size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 7 + seed) & 0xFF);
    return bytes;
}

class RawVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* drive = std::getenv("VELTRANE_RAW_DRIVE");
        const char* image = std::getenv("VELTRANE_RAW_IMAGE");
        if (drive == nullptr || image == nullptr) GTEST_SKIP() << "no drive with an image behind it";
        volume = std::string("\\\\.\\") + drive + ":";
        imagePath = image;
    }
    std::string volume;
    std::string imagePath;
};

TEST_F(RawVolumeTest, SectorsWrittenAreReadBackThroughTheVolumeAndFoundInTheImage) {
    HANDLE handle = CreateFileA(volume.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    uint32_t returned = 0;
    EXPECT_TRUE(DeviceIoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));

    const std::vector<unsigned char> written = Pattern(2 * kRawSectorSize, 3);
    EXPECT_EQ(SetFilePointer(handle, 3 * kRawSectorSize, nullptr, FILE_BEGIN), 3 * kRawSectorSize);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    uint32_t done = 0;
    ASSERT_TRUE(WriteFile(handle, written.data(), static_cast<uint32_t>(written.size()), &done, nullptr));
    EXPECT_EQ(done, written.size());
    EXPECT_TRUE(FlushFileBuffers(handle));

    std::vector<unsigned char> read(written.size());
    EXPECT_EQ(SetFilePointer(handle, 3 * kRawSectorSize, nullptr, FILE_BEGIN), 3 * kRawSectorSize);
    ASSERT_TRUE(ReadFile(handle, read.data(), static_cast<uint32_t>(read.size()), &done, nullptr));
    EXPECT_EQ(done, read.size());
    EXPECT_EQ(read, written);

    // The volume's last sector: a read of two gives one.
    const int32_t last = -static_cast<int32_t>(kRawSectorSize);
    const uint32_t end = SetFilePointer(handle, last, nullptr, FILE_END);
    EXPECT_EQ(end, 64u * 1024 - kRawSectorSize);
    ASSERT_TRUE(ReadFile(handle, read.data(), static_cast<uint32_t>(read.size()), &done, nullptr));
    EXPECT_EQ(done, kRawSectorSize);

    EXPECT_TRUE(DeviceIoControl(handle, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(CloseHandle(handle));

    FILE* image = platform::fopen(imagePath.c_str(), "rb");
    ASSERT_NE(image, nullptr) << imagePath;
    std::vector<unsigned char> stored(written.size());
    fseek(image, 3 * kRawSectorSize, SEEK_SET);
    EXPECT_EQ(fread(stored.data(), 1, stored.size(), image), stored.size());
    fclose(image);
    EXPECT_EQ(stored, written);
}

TEST_F(RawVolumeTest, ALetterWithoutAVolumeDoesNotOpen) {
    const std::string absent = "\\\\.\\" + std::string(1, volume[4] == 'Q' ? 'P' : 'Q') + ":";
    HANDLE handle = CreateFileA(absent.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
