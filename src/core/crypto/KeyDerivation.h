#pragma once

#include "core/crypto/Keybag.h"
#include "core/crypto/SecretBytes.h"
#include "core/platform/Result.h"

namespace marrowick {

// The password key of a keybag: PBKDF2-HMAC-SHA1 over SALT and ITER, after PBKDF2-HMAC-SHA256 over DPSL and DPIC
// when the keybag has both. password is its UTF-8 bytes. On a real backup this takes seconds and cannot be
// interrupted part-way: a window runs it on a worker thread and drops the result when the person cancelled.
[[nodiscard]] Result<SecretBytes> DerivePasswordKey(const Keybag& keybag, const SecretBytes& password);

} // namespace marrowick
