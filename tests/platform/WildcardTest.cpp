// File-name wildcards matched as Windows matches them.
#include <gtest/gtest.h>

#include "platform/Paths.h"

using namespace platform;

TEST(Paths, WildcardsFollowWindowsRules) {
    EXPECT_TRUE(MatchesWildcard("README", "*.*"));
    EXPECT_TRUE(MatchesWildcard("a.LOG", "*.log"));
    EXPECT_FALSE(MatchesWildcard("a.log.bak", "*.log"));
    EXPECT_TRUE(MatchesWildcard("LPA080.DAT.003", "LPA080.DAT.???"));
    EXPECT_TRUE(MatchesWildcard("パソコン.txt", "??コン.*"));
    EXPECT_FALSE(MatchesWildcard("パソコン.txt", "?.*"));
}
