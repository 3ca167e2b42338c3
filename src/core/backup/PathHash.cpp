#include "core/backup/PathHash.h"

#include <cstring>

namespace marrowick {

namespace {

std::uint64_t LoadWord(const char* bytes) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word; // the first byte is the least significant
}

std::uint64_t LoadPartialWord(const char* bytes, std::size_t count) {
    std::uint64_t word = 0;
    for (std::size_t i = count; i-- > 0;) {
        word = (word << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return word;
}

// The bytes of word equal to '/', as their high bits.
std::uint64_t SlashBytes(std::uint64_t word) {
    constexpr std::uint64_t Low7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t x = word ^ 0x2F2F2F2F2F2F2F2FULL;
    return ~(((x & Low7) + Low7) | x | Low7);
}

} // namespace

std::uint64_t HashKey(std::string_view key) {
    std::uint64_t state = 0;
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        state = detail::MixWord(state, LoadWord(key.data() + i));
    }
    return detail::FinishHash(state, LoadPartialWord(key.data() + i, key.size() - i), key.size());
}

// One pass over the key, 8 bytes at a time, finds every "/" and keeps what hashing any of its prefixes needs,
// instead of searching for every "/" and then hashing keys from their start.
void ScannedPath::Scan(std::string_view path) {
    Slashes.clear();
    Words.clear();
    States.clear();
    Length = path.size();
    const std::size_t first = path.find('/');
    const std::size_t second = first == std::string_view::npos ? first : path.find('/', first + 1);
    if (second == std::string_view::npos) {
        if (first != std::string_view::npos) {
            Slashes.push_back(first);
        }
        return;
    }
    Slashes.push_back(first);
    Slashes.push_back(second);
    const std::string_view key = path.substr(second);
    std::uint64_t state = 0;
    std::size_t i = 0;
    const auto keep = [&](std::uint64_t word, std::uint64_t slashes) {
        for (; slashes != 0; slashes &= slashes - 1) {
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(slashes)) / 8;
            if (at != 0) {
                Slashes.push_back(second + at);
            }
        }
        Words.push_back(word);
        States.push_back(state);
    };
    for (; i + 8 <= key.size(); i += 8) {
        const std::uint64_t word = LoadWord(key.data() + i);
        keep(word, SlashBytes(word));
        state = detail::MixWord(state, word);
    }
    const std::size_t rest = key.size() - i;
    const std::uint64_t word = LoadPartialWord(key.data() + i, rest);
    keep(word, detail::LowBytes(SlashBytes(word), rest));
}

} // namespace marrowick
