#include "core/crypto/KeyWrap.h"
#include "core/crypto/UnlockedBackup.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

using testing::FromHex;
using testing::ToHex;

// FORMATS.md V1 (RFC 3394 section 4.6).
const std::string V1Kek = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const std::string V1Wrapped =
    FromHex("28c9f404c4b810f4cbccb35cfb87f8263f5786e2d80ed326cbc7f0e71a99f43bfb988b9b7a02dd21");

// FORMATS.md V3: wrapped with the class 3 key of V2.
const std::string V3ManifestKey =
    FromHex("03000000838fd5a6e263fbd3a563e678bf04e10ceb8e921406bdd4c53e486afeb41c73d10e565eadc42515b4");
const std::string V3EncryptionKey =
    FromHex("03000000dae69b6f38b9b81892fe29a323dabe48205d1949a0c4a74ef937ef83e96f1b64eb8dda2208fba5a6");

TEST(KeyWrap, VectorUnwrapsAndAnyAlteredByteFailsTheCheck) {
    const SecretBytes kek = SecretBytes::CopyOf(V1Kek);
    const std::optional<SecretBytes> key = UnwrapKey(kek, V1Wrapped);
    ASSERT_TRUE(key);
    EXPECT_EQ(ToHex(key->View()), "00112233445566778899aabbccddeeff000102030405060708090a0b0c0d0e0f");
    for (const std::size_t at : {std::size_t{0}, std::size_t{20}, std::size_t{39}}) {
        std::string altered = V1Wrapped;
        altered[at] ^= 1;
        EXPECT_FALSE(UnwrapKey(kek, altered)) << "byte " << at;
    }
    EXPECT_FALSE(UnwrapKey(kek, V1Wrapped.substr(0, 32)));
}

// Class 3 of the sample keybags holds V2's class key, so V3's wrapped keys unwrap with it.
UnlockedBackup UnlockedSample() {
    const testing::SampleKeybag sample{.Classes = {{.Class = 3}, {.Class = 4}}};
    Result<Keybag> keybag = ParseKeybag(testing::MakeKeybag(sample));
    const SecretBytes kek = SecretBytes::CopyOf(testing::SamplePasswordKey(sample, sample.Password));
    Result<UnlockedBackup> unlocked =
        UnlockedBackup::Unlock(LockedBackup{"/nonexistent/", std::move(*keybag), {}}, kek);
    EXPECT_TRUE(unlocked);
    return std::move(*unlocked);
}

TEST(RecordKeys, VectorKeysUnwrapWithTheirClassKey) {
    const UnlockedBackup backup = UnlockedSample();
    const Result<SecretBytes> manifestKey = backup.FileKey(V3ManifestKey);
    const Result<SecretBytes> fileKey = backup.FileKey(V3EncryptionKey);
    ASSERT_TRUE(manifestKey);
    ASSERT_TRUE(fileKey);
    EXPECT_EQ(ToHex(manifestKey->View()), "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f");
    EXPECT_EQ(ToHex(fileKey->View()), "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
}

struct BadRecordKey {
    const char* Name;
    std::string Key;
    FailureCause Verdict;
};

void PrintTo(const BadRecordKey& row, std::ostream* os) {
    *os << row.Name;
}

class BadRecordKeys : public ::testing::TestWithParam<BadRecordKey> {};

TEST_P(BadRecordKeys, FailWithTheirVerdict) {
    const Result<FileDecryptor> decryptor = UnlockedSample().MakeFileDecryptor(GetParam().Key);
    ASSERT_FALSE(decryptor);
    EXPECT_EQ(decryptor.Error().Cause, GetParam().Verdict);
}

std::string WithClass(std::string key, char protectionClass) {
    key[0] = protectionClass;
    return key;
}

INSTANTIATE_TEST_SUITE_P(
    RecordKeys, BadRecordKeys,
    ::testing::Values(BadRecordKey{"Missing", "", FailureCause::MissingFileKey},
                      BadRecordKey{"Short", V3EncryptionKey.substr(0, 43), FailureCause::DamagedFileKey},
                      BadRecordKey{"ClassNotUnlocked", WithClass(V3EncryptionKey, 2), FailureCause::DamagedFileKey},
                      BadRecordKey{"OtherUnlockedClass", WithClass(V3EncryptionKey, 4), FailureCause::DamagedFileKey},
                      BadRecordKey{"ClassInTheWrongByteOrder", FromHex("00000003") + V3EncryptionKey.substr(4),
                                   FailureCause::DamagedFileKey}),
    [](const auto& row) { return std::string(row.param.Name); });

} // namespace
} // namespace marrowick
