#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace marrowick {

using Sha1Digest = std::array<std::uint32_t, 5>;

// Applies the SHA-1 compression function (FIPS 180) of one 64-byte block to state.
void Sha1Block(const unsigned char* block, Sha1Digest& state);

// The SHA-1 digest of the bytes, of any length.
void Sha1String(std::string_view bytes, Sha1Digest& digest);

// The digest as 40 lowercase hexadecimal digits, each word most significant first.
[[nodiscard]] std::string Sha1DigestHex(const Sha1Digest& digest);

// Writes the 40 digits into out, which must have room for them.
void Sha1DigestHex(const Sha1Digest& digest, char* out);

} // namespace marrowick
