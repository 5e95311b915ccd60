// Libraries are bound from the program's folder only.
#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Library.h"
#include "support/TestWorld.h"

// libc is loaded in every process: a bare-name look-up would find it whatever the folder holds.
TEST(LibraryTest, ALibraryMissingFromTheProgramFolderIsNotSearchedElsewhere) {
    TestWorld world;
    platform::SetModuleFileNameForProcess(world.root + "/veltrane");
    EXPECT_EQ(platform::LoadLibraryA("libc.so.6"), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_MOD_NOT_FOUND);
    platform::SetModuleFileNameForProcess("");
}
