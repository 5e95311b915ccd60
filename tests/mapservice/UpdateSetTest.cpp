// The service's scan of an update-set folder: digests kept while the files stay as they were,
// and taken again for what changed, was added, or was stamped too recently to be trusted.
#include "MapService.h"
#include "TestSupport.h"
#include "UpdateSet.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace mapservice {
namespace {

namespace fs = std::filesystem;

// A file written and stamped an hour ago, so its digest may be kept.
void WriteSettled(const fs::path& file, const std::string& bytes) {
    test::WriteFile(file, bytes);
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
}

TEST(UpdateSetScanner, HashesOnlyWhatChanged) {
    test::TempFolder folder;
    WriteSettled(folder.Path() / "A.DAT", "abc");
    WriteSettled(folder.Path() / "SUB/B.DAT", "");
    UpdateSetScanner scanner;
    std::vector<UpdateFile> first = scanner.Scan(folder.Path());
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], (UpdateFile{"A.DAT", 3, "900150983cd24fb0d6963f7d28e17f72"}));
    EXPECT_EQ(first[1], (UpdateFile{"SUB/B.DAT", 0, "d41d8cd98f00b204e9800998ecf8427e"}));
    EXPECT_EQ(scanner.Hashed(), 2);
    EXPECT_EQ(scanner.Scan(folder.Path()), first);
    EXPECT_EQ(scanner.Hashed(), 2);

    // Same size, other bytes, other time: hashed again. A new file is hashed, a gone one dropped.
    WriteSettled(folder.Path() / "A.DAT", "abd");
    fs::last_write_time(folder.Path() / "A.DAT", fs::file_time_type::clock::now() - std::chrono::minutes(30));
    WriteSettled(folder.Path() / "C.DAT", "a");
    fs::remove(folder.Path() / "SUB/B.DAT");
    std::vector<UpdateFile> second = scanner.Scan(folder.Path());
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], (UpdateFile{"A.DAT", 3, "4911e516e5aa21d327512e0c8b197616"}));
    EXPECT_EQ(second[1], (UpdateFile{"C.DAT", 1, "0cc175b9c0f1b6a831c399e269772661"}));
    EXPECT_EQ(scanner.Hashed(), 4);

    // Another folder starts afresh.
    test::TempFolder other;
    WriteSettled(other.Path() / "A.DAT", "abc");
    EXPECT_EQ(scanner.Scan(other.Path())[0].md5, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(scanner.Hashed(), 5);
}

// A write in the same clock tick as the hashing could keep size and stamp: such a file is
// never taken from what was kept.
TEST(UpdateSetScanner, AFreshlyStampedFileIsHashedEachTime) {
    test::TempFolder folder;
    test::WriteFile(folder.Path() / "A.DAT", "abc");
    UpdateSetScanner scanner;
    scanner.Scan(folder.Path());
    test::WriteFile(folder.Path() / "A.DAT", "abd");
    fs::last_write_time(folder.Path() / "A.DAT", fs::file_time_type::clock::now());
    EXPECT_EQ(scanner.Scan(folder.Path())[0].md5, "4911e516e5aa21d327512e0c8b197616");
    EXPECT_EQ(scanner.Hashed(), 2);
}

TEST(ListeningSocket, ReusesTheAddressButNotThePortAndSendsWithoutDelay) {
    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    PrepareListeningSocket(sock);
    int value = 0;
    socklen_t length = sizeof value;
    ASSERT_EQ(getsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
    EXPECT_NE(value, 0);
    ASSERT_EQ(getsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &value, &length), 0);
    EXPECT_NE(value, 0);
    ASSERT_EQ(getsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &value, &length), 0);
    EXPECT_EQ(value, 0);
    ::close(sock);
}

}  // namespace
}  // namespace mapservice
