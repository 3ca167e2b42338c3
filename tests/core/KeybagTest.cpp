#include "core/crypto/Keybag.h"
#include "core/crypto/ClassKeys.h"
#include "core/crypto/KeyDerivation.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

using testing::FromHex;
using testing::SampleKeybag;
using testing::ToHex;

// FORMATS.md V2: one class entry (3), password "correct horse", SALT 01..14 ITER 10, DPSL 21..34 DPIC 100.
const std::string V2Keybag = FromHex(R"(
5645525300000004000000055459504500000004000000015555494400000010
a0a1a2a3a4a5a6a7a8a9aaabacadaeaf57524150000000040000000053414c54
000000140102030405060708090a0b0c0d0e0f10111213144954455200000004
0000000a4450575400000004000000014450494300000004000000644450534c
000000142122232425262728292a2b2c2d2e2f30313233345555494400000010
b0b1b2b3b4b5b6b7b8b9babbbcbdbebf434c4153000000040000000357524150
00000004000000024b545950000000040000000057504b5900000028d4c45fd2
cac9880d4cf45d16d5cd871484a71c159b0f8e8e46d4502a418d5ea2c3a15aea
853f7c57)");

Result<SecretBytes> Derive(const Keybag& keybag, const std::string& password) {
    return DerivePasswordKey(keybag, SecretBytes::CopyOf(password));
}

// The writer lays the vector out byte for byte, so that what holds for the vector holds for the sample backups.
TEST(Keybag, VectorDerivesItsKeyAndUnlocksClassThreeWithItsPasswordOnly) {
    ASSERT_EQ(ToHex(testing::MakeKeybag({.Classes = {{.Class = 3}}})), ToHex(V2Keybag));
    const Result<Keybag> keybag = ParseKeybag(V2Keybag);
    ASSERT_TRUE(keybag);
    const Result<SecretBytes> kek = Derive(*keybag, "correct horse");
    ASSERT_TRUE(kek);
    EXPECT_EQ(ToHex(kek->View()), "8067b6b06fdac24dc5d1009c96fb3594a02aa15316bc475424bf297a59beb3cc");
    const Result<ClassKeys> keys = UnlockClassKeys(*keybag, *kek);
    ASSERT_TRUE(keys);
    ASSERT_NE(keys->Find(3), nullptr);
    EXPECT_EQ(ToHex(keys->Find(3)->View()), "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f");
}

TEST(Keybag, WithoutDoubleProtectionOnlyTheSha1StageRuns) {
    const Result<Keybag> keybag = ParseKeybag(testing::MakeKeybag({.TwoStage = false}));
    ASSERT_TRUE(keybag);
    const Result<SecretBytes> kek = Derive(*keybag, "correct horse");
    ASSERT_TRUE(kek);
    EXPECT_EQ(ToHex(kek->View()), "09c75c273dc984bf18fa708b90e0de3cd40a6794895c6bad5d8cee0d3e36bd82");
    const Result<ClassKeys> keys = UnlockClassKeys(*keybag, *kek);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->Count(), 4u);
}

struct DamagedKeybagCase {
    const char* Name;
    std::string Bytes;
};

void PrintTo(const DamagedKeybagCase& row, std::ostream* os) {
    *os << row.Name;
}

class DamagedKeybags : public ::testing::TestWithParam<DamagedKeybagCase> {};

TEST_P(DamagedKeybags, AreRefusedAsDamaged) {
    const Result<Keybag> keybag = ParseKeybag(GetParam().Bytes);
    ASSERT_FALSE(keybag);
    EXPECT_EQ(keybag.Error().Cause, FailureCause::DamagedKeybag);
}

std::string Replaced(std::string bytes, const std::string& from, const std::string& to) {
    bytes.replace(bytes.find(from), from.size(), to);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Keybag, DamagedKeybags,
    ::testing::Values(
        DamagedKeybagCase{"LastItemCut", V2Keybag.substr(0, V2Keybag.size() - 1)},
        DamagedKeybagCase{"HalfAnItemHeaderAtTheEnd", V2Keybag + "WPK"},
        DamagedKeybagCase{"NoSalt", testing::MakeKeybag({.LeftOut = {"SALT"}})},
        DamagedKeybagCase{"NoIterations", testing::MakeKeybag({.LeftOut = {"ITER"}})},
        DamagedKeybagCase{"ZeroIterations", testing::MakeKeybag({.Iterations = 0})},
        DamagedKeybagCase{"ZeroDoubleProtectionIterations", testing::MakeKeybag({.DoubleProtectionIterations = 0})},
        DamagedKeybagCase{"IterationsBeyondAnInt", testing::MakeKeybag({.Iterations = 0x80000000u})},
        DamagedKeybagCase{"IterationsNotFourBytes",
                          Replaced(V2Keybag, FromHex("495445520000000400"), FromHex("495445520000000300"))},
        DamagedKeybagCase{"OnlyDeviceBoundClasses", testing::MakeKeybag({.Classes = {{.Class = 3, .Wrap = 1}}})}),
    [](const auto& row) { return std::string(row.param.Name); });

struct UnlockCase {
    const char* Name;
    std::vector<testing::SampleKeybagClass> Classes;
    std::string Password;
    std::optional<FailureCause> Verdict; // nothing: unlocked
    std::size_t Unlocked = 0;
};

void PrintTo(const UnlockCase& row, std::ostream* os) {
    *os << row.Name;
}

class Unlocking : public ::testing::TestWithParam<UnlockCase> {};

TEST_P(Unlocking, GivesTheVerdictOfWhatUnwraps) {
    const SampleKeybag sample{.Classes = GetParam().Classes};
    const Result<Keybag> keybag = ParseKeybag(testing::MakeKeybag(sample));
    ASSERT_TRUE(keybag);
    const Result<ClassKeys> keys = UnlockClassKeys(*keybag, *Derive(*keybag, GetParam().Password));
    if (GetParam().Verdict) {
        ASSERT_FALSE(keys);
        EXPECT_EQ(keys.Error().Cause, *GetParam().Verdict);
        return;
    }
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->Count(), GetParam().Unlocked);
    for (const auto& entry : GetParam().Classes) {
        const SecretBytes* key = keys->Find(entry.Class);
        EXPECT_EQ(key ? std::string(key->View()) : "",
                  (entry.Wrap & 2) != 0 ? testing::SampleClassKey(entry.Class) : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Keybag, Unlocking,
                         ::testing::Values(UnlockCase{"DeviceBoundClassesAreSkipped",
                                                      {{.Class = 1, .Wrap = 1}, {.Class = 2, .Wrap = 3}, {.Class = 11}},
                                                      "correct horse",
                                                      {},
                                                      2},
                                           UnlockCase{"WrongPassword",
                                                      {{.Class = 1}, {.Class = 2}},
                                                      "Correct horse",
                                                      FailureCause::WrongPassword},
                                           UnlockCase{"SomeClassesWrappedWithAnotherKey",
                                                      {{.Class = 1}, {.Class = 2, .WrappedWith = "other"}},
                                                      "correct horse",
                                                      FailureCause::DamagedKeybag}),
                         [](const auto& row) { return std::string(row.param.Name); });

} // namespace
} // namespace marrowick
