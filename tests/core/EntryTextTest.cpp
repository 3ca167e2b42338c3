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
    EXPECT_EQ(SizeText(std::uint64_t{5} << 30), "5120 MB");
}

struct ReadableSizeRow {
    std::uint64_t Bytes;
    const char* Text;
};

void PrintTo(const ReadableSizeRow& row, std::ostream* os) {
    *os << row.Bytes;
}

class ReadableSize : public ::testing::TestWithParam<ReadableSizeRow> {};

TEST_P(ReadableSize, HasOneDecimalInTheLargestUnitBelow1024) {
    EXPECT_EQ(ReadableSizeText(GetParam().Bytes), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(EntryText, ReadableSize,
                         ::testing::Values(ReadableSizeRow{0, "0 bytes"}, ReadableSizeRow{1023, "1023 bytes"},
                                           ReadableSizeRow{1024, "1.0 KB"}, ReadableSizeRow{1997, "2.0 KB"},
                                           ReadableSizeRow{1048530, "1.0 MB"}, // 1023.96 KB rounds up a unit
                                           ReadableSizeRow{12582912, "12.0 MB"}, ReadableSizeRow{1610612736, "1.5 GB"},
                                           ReadableSizeRow{5368709120, "5.0 GB"}, // past 32 bits
                                           ReadableSizeRow{UINT64_MAX, "17179869184.0 GB"}));

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
