#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace marrowick {

namespace detail {

inline constexpr std::uint64_t WordPrime = 0x9E3779B97F4A7C15ULL;

// The low count bytes of word.
inline std::uint64_t LowBytes(std::uint64_t word, std::size_t count) {
    return count == 0 ? 0 : word & (~std::uint64_t{0} >> (64 - 8 * count));
}

inline std::uint64_t MixWord(std::uint64_t state, std::uint64_t word) {
    return std::rotl((state ^ word) * WordPrime, 29);
}

inline std::uint64_t FinishHash(std::uint64_t state, std::uint64_t partial, std::size_t length) {
    std::uint64_t x = MixWord(state, partial) ^ length;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return x;
}

} // namespace detail

// The hash of a key, 8 bytes at a time: the value ScannedPath::Hash gives for the same key cut out of a path.
[[nodiscard]] std::uint64_t HashKey(std::string_view key);

// Where a path's "/" are, and what it takes to hash its key (the path from the second "/" on) cut anywhere.
struct ScannedPath {
    std::vector<std::size_t> Slashes;
    std::vector<std::uint64_t> Words;  // the key 8 bytes at a time, the last one zero-padded
    std::vector<std::uint64_t> States; // the hash state before each word
    std::size_t Length = 0;            // of the path

    void Scan(std::string_view path);

    // The key hash of the node whose name follows Slashes[k] (k >= 1).
    [[nodiscard]] std::uint64_t Hash(std::size_t k) const {
        const std::size_t end = (k + 1 < Slashes.size() ? Slashes[k + 1] : Length) - Slashes[1];
        const std::size_t word = end / 8;
        return detail::FinishHash(States[word], detail::LowBytes(Words[word], end % 8), end);
    }
};

} // namespace marrowick
