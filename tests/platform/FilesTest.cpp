// The file services' contract as the program relies on it, on Linux: a copy keeps or replaces
// its target exactly as asked and never leaves a half-written one; a move never replaces; a
// path handed out fits its buffer with its NUL or is not handed out.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/resource.h>

#include "platform/Error.h"
#include "platform/Files.h"
#include "support/TestWorld.h"

namespace {

class FilesTest : public ::testing::Test {
protected:
    std::string Native(const char* name) const { return world.root + "/" + name; }
    std::string Win(const char* name) const { return world.Win(Native(name)); }
    TestWorld world;
};

// Writes past `bytes` fail (EFBIG) for as long as it lives, as on a disk that fills up.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousSignal_);
    }

private:
    rlimit previous_{};
    void (*previousSignal_)(int) = nullptr;
};

}  // namespace

TEST_F(FilesTest, ACopyKeepsOrReplacesItsTargetAsAsked) {
    TestWorld::WriteFile(Native("new.dat"), "the update's bytes");
    TestWorld::WriteFile(Native("old.dat"), "last attempt");

    EXPECT_FALSE(platform::CopyFileA(Win("new.dat").c_str(), Win("old.dat").c_str(), true));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_EXISTS);
    EXPECT_EQ(TestWorld::ReadFile(Native("old.dat")), "last attempt");

    ASSERT_TRUE(platform::CopyFileA(Win("new.dat").c_str(), Win("old.dat").c_str(), false));
    EXPECT_EQ(TestWorld::ReadFile(Native("old.dat")), "the update's bytes");
    ASSERT_TRUE(platform::CopyFileA(Win("new.dat").c_str(), Win("fresh.dat").c_str(), true));
    EXPECT_EQ(TestWorld::ReadFile(Native("fresh.dat")), "the update's bytes");
}

TEST_F(FilesTest, ACopyThatRunsOutOfRoomLeavesNoTarget) {
    TestWorld::WriteFile(Native("big.dat"), std::string(3 << 20, 'm'));
    {
        FileSizeLimit limit(1 << 20);
        EXPECT_FALSE(platform::CopyFileA(Win("big.dat").c_str(), Win("copy.dat").c_str(), false));
    }
    EXPECT_FALSE(std::filesystem::exists(Native("copy.dat")));
}

TEST_F(FilesTest, AMoveNeverReplacesAnExistingFile) {
    TestWorld::WriteFile(Native("from.dat"), "moved");
    TestWorld::WriteFile(Native("to.dat"), "kept");
    EXPECT_FALSE(platform::MoveFileA(Win("from.dat").c_str(), Win("to.dat").c_str()));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(TestWorld::ReadFile(Native("to.dat")), "kept");
    EXPECT_EQ(TestWorld::ReadFile(Native("from.dat")), "moved");

    ASSERT_TRUE(platform::MoveFileA(Win("from.dat").c_str(), Win("moved.dat").c_str()));
    EXPECT_EQ(TestWorld::ReadFile(Native("moved.dat")), "moved");
    EXPECT_FALSE(std::filesystem::exists(Native("from.dat")));
}

TEST_F(FilesTest, TheProgramsPathIsHandedOutOnlyWithRoomForItsNul) {
    platform::SetModuleFileNameForProcess("/opt/veltrane/bin/veltrane");
    const std::string path = "Z:\\opt\\veltrane\\bin\\veltrane";
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    const uint32_t length = static_cast<uint32_t>(path.size());
    EXPECT_EQ(platform::GetModuleFileNameA(buffer, length), 0u);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    EXPECT_EQ(platform::GetModuleFileNameA(buffer, length + 1), length);
    EXPECT_EQ(std::string(buffer), path);
    EXPECT_EQ(buffer[length + 1], '#');
    platform::SetModuleFileNameForProcess("");
}
