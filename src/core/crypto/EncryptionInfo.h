#pragma once

#include "core/crypto/Keybag.h"
#include "core/platform/Result.h"

#include <optional>
#include <string>

namespace marrowick {

// What Manifest.plist says of a backup's encryption, read without a password.
struct EncryptionInfo {
    bool Encrypted = false;
    bool HasKeybag = false;
};

// A backup without Manifest.plist is not encrypted. Fails with DamagedManifestPlist when the file is no property
// list holding a dictionary, and as reading it fails.
[[nodiscard]] Result<EncryptionInfo> ReadEncryptionInfo(const std::string& backupFolder);

// What unlocking an encrypted backup starts from: its keybag and, on a Manifest.db backup, the wrapped key of
// Manifest.db.
struct LockedBackup {
    std::string Folder; // ends with "/"
    Keybag Keys;
    std::optional<std::string> ManifestKey;
};

// Reads them from Manifest.plist. Fails with NotEncrypted when the backup says it is not encrypted (or has no
// Manifest.plist), DamagedManifestPlist, DamagedKeybag when the keybag is missing or damaged, or as reading fails.
[[nodiscard]] Result<LockedBackup> ReadLockedBackup(const std::string& backupFolder);

} // namespace marrowick
