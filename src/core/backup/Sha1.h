#pragma once

#include <array>
#include <string>
#include <string_view>

namespace marrowick {

using Sha1Digest = std::array<unsigned char, 20>;

// The SHA-1 digest of the bytes, of any length, from libcrypto. Safe to call from several threads at once.
void Sha1String(std::string_view bytes, Sha1Digest& digest);

// The digest as 40 lowercase hexadecimal digits.
[[nodiscard]] std::string Sha1DigestHex(const Sha1Digest& digest);

// Writes the 40 digits into out, which must have room for them.
void Sha1DigestHex(const Sha1Digest& digest, char* out);

} // namespace marrowick
