#include "core/backup/Sha1.h"

#include <bit>
#include <cstring>

namespace marrowick {

namespace {

std::uint32_t LoadBigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

} // namespace

void Sha1Block(const unsigned char* block, Sha1Digest& state) {
    std::uint32_t w[80];
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = LoadBigEndian32(block + 4 * i);
    }
    for (int i = 16; i < 80; ++i) {
        w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
        std::uint32_t f = 0;
        std::uint32_t k = 0;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

void Sha1String(std::string_view bytes, Sha1Digest& digest) {
    digest = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left >= 64) {
        Sha1Block(data, digest);
        data += 64;
        left -= 64;
    }
    unsigned char tail[128] = {};
    std::memcpy(tail, data, left);
    tail[left] = 0x80;
    const std::size_t tailSize = left < 56 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    for (int i = 0; i < 8; ++i) {
        tail[tailSize - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    Sha1Block(tail, digest);
    if (tailSize == 128) {
        Sha1Block(tail + 64, digest);
    }
}

void Sha1DigestHex(const Sha1Digest& digest, char* out) {
    static constexpr char Digits[] = "0123456789abcdef";
    for (std::uint32_t word : digest) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            *out++ = Digits[(word >> shift) & 0xF];
        }
    }
}

std::string Sha1DigestHex(const Sha1Digest& digest) {
    std::string text(40, '\0');
    Sha1DigestHex(digest, text.data());
    return text;
}

} // namespace marrowick
