#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marrowick {

// What Manifest.plist's top dictionary says about the backup's encryption.
struct ManifestPlistKeys {
    bool IsEncrypted = false;
    std::optional<std::string> BackupKeyBag;
    // The wrapped key of Manifest.db (44 bytes on a sound backup); absent on Manifest.mbdb backups.
    std::optional<std::string> ManifestKey;
};

// Reads those keys from an XML or binary Manifest.plist; nothing when the bytes are no property list whose top
// object is a dictionary. A key that is absent or of another type reads as absent (IsEncrypted as false).
[[nodiscard]] std::optional<ManifestPlistKeys> ReadManifestPlistKeys(std::string_view plist);

} // namespace marrowick
