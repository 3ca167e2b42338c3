#include "core/backup/EntryText.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

TEST(EntryText, SizeThresholdsTruncate) {
    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(1023), "1023 bytes");
    EXPECT_EQ(SizeText(1024), "1 KB");
    EXPECT_EQ(SizeText(1536), "1 KB");
    EXPECT_EQ(SizeText(1048575), "1023 KB");
    EXPECT_EQ(SizeText(1048576), "1 MB");
    EXPECT_EQ(SizeText(4294967295u), "4095 MB");
}

TEST(EntryText, TimesBefore1989AreBlankAndSecondsNeverShow) {
    testing::TempHome home("XYZ-8"); // eight hours east of UTC
    EXPECT_EQ(TimeText(630719999), "");
    EXPECT_EQ(TimeText(0), "");
    EXPECT_EQ(TimeText(-5), "");
    EXPECT_EQ(TimeText(630720000), "1989-12-27 08:00");
    EXPECT_EQ(TimeText(630720059), "1989-12-27 08:00");
    EXPECT_EQ(TimeText(INT64_MAX), ""); // beyond any calendar year
}

} // namespace
} // namespace marrowick
