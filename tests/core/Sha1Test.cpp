#include "core/backup/Sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowick {
namespace {

std::string HexOf(std::string_view bytes) {
    Sha1Digest digest{};
    Sha1String(bytes, digest);
    return Sha1DigestHex(digest);
}

struct Sha1Vector {
    std::string Input;
    std::string Hex;
};

// Without it the test names would hold the row's bytes, addresses included, and change from run to run.
void PrintTo(const Sha1Vector& vector, std::ostream* os) {
    *os << vector.Input.size() << " bytes \"" << vector.Input.substr(0, 16) << '"';
}

class Sha1Vectors : public ::testing::TestWithParam<Sha1Vector> {};

TEST_P(Sha1Vectors, DigestMatchesPublishedValue) {
    EXPECT_EQ(HexOf(GetParam().Input), GetParam().Hex);
}

INSTANTIATE_TEST_SUITE_P(
    Fips180, Sha1Vectors,
    ::testing::Values(
        Sha1Vector{"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        Sha1Vector{"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        Sha1Vector{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        Sha1Vector{"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
                   "mnopqrsmnopqrstnopqrstu",
                   "a49b2446a02c645bf419f995b67091253a04a259"},
        Sha1Vector{"The quick brown fox jumps over the lazy dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
        Sha1Vector{std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"}));

// Lengths around the padding boundary: 55 bytes fit one final block, 56 and more need a second one.
class Sha1PaddingBoundary : public ::testing::TestWithParam<std::pair<std::size_t, std::string>> {};

TEST_P(Sha1PaddingBoundary, DigestOfRepeatedAMatches) {
    EXPECT_EQ(HexOf(std::string(GetParam().first, 'a')), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, Sha1PaddingBoundary,
    ::testing::Values(std::pair<std::size_t, std::string>{55, "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
                      std::pair<std::size_t, std::string>{56, "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
                      std::pair<std::size_t, std::string>{63, "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
                      std::pair<std::size_t, std::string>{64, "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
                      std::pair<std::size_t, std::string>{65, "11655326c708d70319be2610e8a57d9a5b959d3b"}));

TEST(Sha1, BlockAppliesCompressionToState) {
    // "abc" padded into one block by hand: the state after one compression is the digest of "abc".
    unsigned char block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    Sha1Digest state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    Sha1Block(block, state);
    EXPECT_EQ(Sha1DigestHex(state), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, HexWritesEachWordAsEightDigitsMostSignificantFirst) {
    EXPECT_EQ(Sha1DigestHex(Sha1Digest{0, 1, 0xABCDEF, 0x80000000, 0xFFFFFFFF}), "00000000"
                                                                                 "00000001"
                                                                                 "00abcdef"
                                                                                 "80000000"
                                                                                 "ffffffff");
}

} // namespace
} // namespace marrowick
