#include "support/SampleBackup.h"

#include <array>
#include <bit>
#include <cstdio>

namespace marrowick::testing {

namespace {

void CompressBlock(std::array<std::uint32_t, 5>& state, const unsigned char* block) {
    std::array<std::uint32_t, 80> w{};
    for (int t = 0; t < 16; ++t) {
        w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 | static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | static_cast<std::uint32_t>(block[4 * t + 3]);
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    auto [a, b, c, d, e] = state;
    for (int t = 0; t < 80; ++t) {
        std::uint32_t f = 0;
        std::uint32_t k = 0;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t temp = std::rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

} // namespace

std::string Sha1Hex(const std::string& bytes) {
    std::string message = bytes;
    const std::uint64_t bitLength = static_cast<std::uint64_t>(bytes.size()) * 8;
    message.push_back('\x80');
    while (message.size() % 64 != 56) {
        message.push_back('\0');
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        message.push_back(static_cast<char>((bitLength >> shift) & 0xFF));
    }

    std::array<std::uint32_t, 5> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (std::size_t offset = 0; offset < message.size(); offset += 64) {
        CompressBlock(state, reinterpret_cast<const unsigned char*>(message.data() + offset));
    }

    std::string hex;
    for (std::uint32_t word : state) {
        char text[9];
        std::snprintf(text, sizeof text, "%08x", word);
        hex += text;
    }
    return hex;
}

} // namespace marrowick::testing
