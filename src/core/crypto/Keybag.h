#pragma once

#include "core/platform/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowick {

// A backup keybag (Manifest.plist's BackupKeyBag): what the password key is derived with, and the class keys it
// unwraps. Nothing in it is secret without the password.
struct Keybag {
    // WRAP bit of a class entry whose key is wrapped with the password key; other entries are bound to the device.
    static constexpr std::uint32_t WrappedWithPassword = 2;
    // The length of a wrapped 32-byte key.
    static constexpr std::size_t WrappedKeySize = 40;

    struct ClassEntry {
        std::uint32_t Class = 0;
        std::uint32_t Wrap = 0;
        std::string WrappedKey; // WPKY; empty when absent
    };

    std::string Salt; // PBKDF2-HMAC-SHA1 salt
    std::uint32_t Iterations = 0;
    // The PBKDF2-HMAC-SHA256 stage before it, on keybags that have both DPSL and DPIC.
    std::optional<std::string> DoubleProtectionSalt;
    std::optional<std::uint32_t> DoubleProtectionIterations;
    // Entries that have a CLAS, in keybag order.
    std::vector<ClassEntry> Classes;

    [[nodiscard]] bool TwoStage() const { return DoubleProtectionSalt && DoubleProtectionIterations; }
    // An entry unlocking tries: wrapped with the password key, with a key of the right length.
    [[nodiscard]] static bool Unlockable(const ClassEntry& entry) {
        return (entry.Wrap & WrappedWithPassword) != 0 && entry.WrappedKey.size() == WrappedKeySize;
    }
};

// Parses the keybag's tag-length-value items to the last byte. Fails with DamagedKeybag when an item runs past the
// end, a number is not 4 bytes, SALT or ITER is missing, ITER or DPIC is 0 or beyond what PBKDF2 takes, or no
// entry can be unlocked with a password.
[[nodiscard]] Result<Keybag> ParseKeybag(std::string_view data);

} // namespace marrowick
