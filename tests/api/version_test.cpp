// The loaded library reports the version of the header it was built with.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <string>

TEST(Version, LibraryVersionMatchesHeader) {
    const std::string expected = std::to_string(CALMGR_VERSION_MAJOR) + "." + std::to_string(CALMGR_VERSION_MINOR) +
                                 "." + std::to_string(CALMGR_VERSION_PATCH);
    ASSERT_NE(CalVersion(), nullptr);
    EXPECT_EQ(expected, CalVersion());
}
