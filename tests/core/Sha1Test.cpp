#include "core/backup/Sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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

// The rows run one after another on one thread: each digest starts afresh on the reused context.
TEST_P(Sha1Vectors, DigestMatchesPublishedValue) {
    EXPECT_EQ(HexOf(GetParam().Input), GetParam().Hex);
}

INSTANTIATE_TEST_SUITE_P(Fips180, Sha1Vectors,
                         ::testing::Values(Sha1Vector{"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
                                           Sha1Vector{"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
                                           Sha1Vector{std::string(1000000, 'a'),
                                                      "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
                                           Sha1Vector{"The quick brown fox jumps over the lazy dog",
                                                      "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"}));

TEST(Sha1, ThreadsDigestingAtOnceGetTheSameDigests) {
    std::vector<std::string> found(2);
    std::vector<std::thread> threads;
    for (std::string& hexes : found) {
        threads.emplace_back([&hexes] {
            for (int i = 0; i < 2000; ++i) {
                hexes += HexOf("HomeDomain-Library/" + std::to_string(i)).substr(0, 4);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(found[0], found[1]);
    EXPECT_EQ(found[0].substr(0, 4), HexOf("HomeDomain-Library/0").substr(0, 4));
}

} // namespace
} // namespace marrowick
