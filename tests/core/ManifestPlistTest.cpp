#include "core/backup/ManifestPlist.h"
#include "core/backup/Base64.h"
#include "support/Detail.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

class Base64Texts : public ::testing::TestWithParam<std::pair<const char*, std::optional<std::string>>> {};

TEST_P(Base64Texts, DecodeToTheirBytesOrToNothing) {
    EXPECT_EQ(DecodeBase64(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Base64, Base64Texts,
    ::testing::Values(std::pair{"", std::optional<std::string>("")}, std::pair{"TQ==", std::optional<std::string>("M")},
                      std::pair{"TWE=", std::optional<std::string>("Ma")},
                      std::pair{"\tTW\nFu\r\n ", std::optional<std::string>("Man")},
                      // Apple's writer leaves no padding out, but a short last group is whole bytes all the same.
                      std::pair{"TWE", std::optional<std::string>("Ma")},
                      std::pair{"TWFuT", std::optional<std::string>()}, std::pair{"TQ=", std::optional<std::string>()},
                      std::pair{"TQ==TQ==", std::optional<std::string>()},
                      std::pair{"TW-u", std::optional<std::string>()}));

const std::string Keybag = "keybag \x00\x01\xff bytes";

std::string XmlManifest() {
    testing::detail::XmlPlistWriter writer;
    writer.Key("Lockdown");
    writer.BeginDict();
    writer.Key("IsEncrypted"); // a nested key of the same name is not the backup's
    writer.Bool(false);
    writer.EndDict();
    writer.Key("BackupKeyBag");
    writer.Data(Keybag);
    writer.Key("IsEncrypted");
    writer.Bool(true);
    return writer.Finish();
}

TEST(ManifestPlist, XmlAndBinaryGiveTheSameKeys) {
    for (const std::string& plist :
         {XmlManifest(),
          testing::MakeBinaryPlist(
              {{"Lockdown", std::string("x")}, {"BackupKeyBag", testing::PlistData{Keybag}}, {"IsEncrypted", true}})}) {
        const std::optional<ManifestPlistKeys> keys = ReadManifestPlistKeys(plist);
        ASSERT_TRUE(keys);
        EXPECT_TRUE(keys->IsEncrypted);
        EXPECT_EQ(keys->BackupKeyBag, Keybag);
        EXPECT_EQ(keys->ManifestKey, std::nullopt);
    }
}

TEST(ManifestPlist, WhatIsNoDictionaryIsRefused) {
    EXPECT_FALSE(ReadManifestPlistKeys(""));
    EXPECT_FALSE(ReadManifestPlistKeys("bplist00"));
    EXPECT_FALSE(ReadManifestPlistKeys("<?xml version=\"1.0\"?><plist><array/></plist>"));
    testing::BinaryPlistWriter notADictionary;
    (void)notADictionary.String("IsEncrypted");
    EXPECT_FALSE(ReadManifestPlistKeys(notADictionary.Finish()));
}

} // namespace
} // namespace marrowick
