// The mark beside a partly downloaded file: what it sends back as If-Range.
#include <gtest/gtest.h>

#include <string>

#include "net/PartialFile.h"
#include "support/TestWorld.h"

// A weak ETag does not name exact bytes: a range may only be asked with a strong one or the date.
TEST(PartialFileTest, AWeakETagIsNeverTheValidator) {
    const std::string date = "Tue, 08 Dec 2026 15:31:54 GMT";
    EXPECT_EQ(RangeValidator("\"5f3a-28\"", date), "\"5f3a-28\"");
    EXPECT_EQ(RangeValidator("W/\"5f3a-28\"", date), date);
    EXPECT_EQ(RangeValidator("", date), date);
}

// The validator goes back as a header line: a lone LF (or any control byte) would start another.
TEST(PartialFileTest, AMarkHoldingAControlByteIsNoMark) {
    TestWorld world;
    const std::string path = world.Win(world.root + "/MAP01.ZIP");
    TestWorld::WriteFile(world.root + "/MAP01.ZIP.resume", "ETag: \"5f3a\"\r\nContent-Length: 40\r\n");
    ASSERT_TRUE(ReadPartialMark(path));
    EXPECT_EQ(ReadPartialMark(path)->validator, "\"5f3a\"");
    for (const char* injected : {"\"5f3a\"\nX-Injected: 1", "\"5f3a\"\rX", "\"5f\ta\""}) {
        TestWorld::WriteFile(world.root + "/MAP01.ZIP.resume",
                             std::string("ETag: ") + injected + "\r\nContent-Length: 40\r\n");
        EXPECT_FALSE(ReadPartialMark(path)) << injected;
    }
}
