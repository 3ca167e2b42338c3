#pragma once

#include "core/crypto/Keybag.h"
#include "core/crypto/SecretBytes.h"
#include "core/platform/Result.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace marrowick {

// The class keys a password unlocked, by protection class.
class ClassKeys final {
public:
    // The size of a wrapped key as records and Manifest.plist hold it: a little-endian class, then 40 bytes.
    static constexpr std::size_t WrappedRecordKeySize = 44;

    // The key of a class, or nullptr when it was not unlocked.
    [[nodiscard]] const SecretBytes* Find(std::uint32_t protectionClass) const;
    [[nodiscard]] std::size_t Count() const { return keys_.size(); }

    // The key inside a 44-byte wrapped key; nothing when it is of another length, of a class that was not
    // unlocked, or fails to unwrap.
    [[nodiscard]] std::optional<SecretBytes> UnwrapRecordKey(std::string_view wrapped) const;

private:
    friend Result<ClassKeys> UnlockClassKeys(const Keybag& keybag, const SecretBytes& passwordKey);
    std::vector<std::pair<std::uint32_t, SecretBytes>> keys_;
};

// Unwraps every class key wrapped with the password key (DerivePasswordKey's). Fails with WrongPassword when none
// unwraps, DamagedKeybag when some do and others do not.
[[nodiscard]] Result<ClassKeys> UnlockClassKeys(const Keybag& keybag, const SecretBytes& passwordKey);

} // namespace marrowick
