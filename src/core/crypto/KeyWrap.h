#pragma once

#include "core/crypto/SecretBytes.h"

#include <optional>
#include <string_view>

namespace marrowick {

// AES key unwrap (RFC 3394, default IV) of a 40-byte wrapped key with a 32-byte key: the 32-byte key, or nothing
// when wrapped is not 40 bytes or fails the unwrap's integrity check (the wrong key, or damaged bytes).
[[nodiscard]] std::optional<SecretBytes> UnwrapKey(const SecretBytes& key, std::string_view wrapped);

} // namespace marrowick
