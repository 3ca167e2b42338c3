#include "core/backup/BinaryPlist.h"

#include "core/backup/SummaryReader.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <limits>

namespace marrowick {
namespace {

using testing::BinaryPlistWriter;

struct IntegerCase {
    std::int64_t Value;
    unsigned char Marker; // the width the writer must choose, as real writers do
};

class BinaryPlistInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(BinaryPlistInteger, ReadsBackFromTheNarrowestWidth) {
    const std::string plist = testing::MakeBinaryPlist({{"n", GetParam().Value}});
    const BinaryPlist reader(plist);
    const auto value = reader.DictionaryValue(reader.TopObject(), "n");
    ASSERT_TRUE(value);
    EXPECT_EQ(reader.Marker(*value), GetParam().Marker);
    EXPECT_EQ(reader.Integer(*value), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Widths, BinaryPlistInteger,
                         ::testing::Values(IntegerCase{0, 0x10}, IntegerCase{255, 0x10}, IntegerCase{256, 0x11},
                                           IntegerCase{65535, 0x11}, IntegerCase{65536, 0x12},
                                           IntegerCase{0xFFFFFFFF, 0x12}, IntegerCase{0x100000000, 0x13},
                                           IntegerCase{-1, 0x13}, IntegerCase{-2, 0x13},
                                           IntegerCase{std::numeric_limits<std::int64_t>::min(), 0x13},
                                           IntegerCase{std::numeric_limits<std::int64_t>::max(), 0x13}));

TEST(BinaryPlist, Utf16KeysAndTextsAreFoundAndReadAsUtf8) {
    const std::string key = "Zo\xC3\xAB";
    const std::string text = "M\xC3\xBCller \xF0\x9F\x8E\xB5";
    const std::string plist = testing::MakeBinaryPlist({{"Zoe", std::string("ascii")}, {key, text}});
    const BinaryPlist reader(plist);
    const auto value = reader.DictionaryValue(reader.TopObject(), key);
    ASSERT_TRUE(value);
    EXPECT_EQ(reader.String(*value), text);
    EXPECT_EQ(reader.NarrowString(*value), std::nullopt);
    EXPECT_EQ(ReadBinaryPlistStringValue(plist, "Zoe"), "ascii");
}

TEST(BinaryPlist, LoneSurrogateBecomesQuestionMark) {
    BinaryPlistWriter writer;
    const auto top = writer.Dict();
    writer.Insert(top, writer.String("t"), writer.Raw(std::string("\x62\xD8\x00\x00z", 5)));
    const std::string plist = writer.Finish();
    const BinaryPlist reader(plist);
    EXPECT_EQ(reader.String(*reader.DictionaryValue(reader.TopObject(), "t")), "?z");
}

TEST(BinaryPlist, CollectionsGiveNoObjectPastTheirEnd) {
    BinaryPlistWriter writer;
    const auto top = writer.Array();
    writer.Append(top, writer.Dict());
    const std::string plist = writer.Finish();
    const BinaryPlist reader(plist);
    const auto array = reader.Array(reader.TopObject());
    ASSERT_TRUE(array);
    EXPECT_EQ(array->Count(), 1U);
    EXPECT_EQ(reader.Element(*array, 0), 1U);
    EXPECT_EQ(reader.Element(*array, 1), BinaryPlist::NoObject);
    // An array read as a dictionary holds no values.
    EXPECT_EQ(reader.Value(*array, 0), BinaryPlist::NoObject);
    EXPECT_FALSE(reader.Dictionary(reader.TopObject()));
}

} // namespace
} // namespace marrowick
