#pragma once

#include "core/crypto/ClassKeys.h"
#include "core/crypto/EncryptionInfo.h"
#include "core/crypto/FileDecryptor.h"
#include "core/crypto/ManifestDbConnection.h"
#include "core/crypto/SecretBytes.h"
#include "core/platform/Result.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace marrowick {

// An encrypted backup whose class keys a password unlocked: it unwraps the keys of its records and decrypts its
// Manifest.db and stored files. Holds the class keys until it goes.
class UnlockedBackup final {
public:
    // Unwraps the class keys with the password key (DerivePasswordKey of locked.Keys). Fails with WrongPassword or
    // DamagedKeybag.
    [[nodiscard]] static Result<UnlockedBackup> Unlock(LockedBackup locked, const SecretBytes& passwordKey);

    [[nodiscard]] const std::string& Folder() const { return folder_; }
    [[nodiscard]] const ClassKeys& Keys() const { return keys_; }

    // The key of a stored file from its record's wrapped key (44 bytes): MissingFileKey when the record holds none,
    // DamagedFileKey when it is malformed, of a class not unlocked, or does not unwrap.
    [[nodiscard]] Result<SecretBytes> FileKey(std::string_view wrappedKey) const;
    // A decryptor of the stored file whose record holds wrappedKey; fails as FileKey does.
    [[nodiscard]] Result<FileDecryptor> MakeFileDecryptor(std::string_view wrappedKey) const;

    // Manifest.db open read-only, its pages decrypted as they are read. A backup without ManifestKey whose
    // Manifest.db is plain SQLite is read as it is. Fails with DamagedManifestKey, DamagedManifestDb, or as opening
    // the file fails.
    [[nodiscard]] Result<std::unique_ptr<ManifestDbConnection>> OpenManifestDb() const;

private:
    UnlockedBackup(std::string folder, std::optional<std::string> manifestKey, ClassKeys keys)
        : folder_(std::move(folder)), manifestKey_(std::move(manifestKey)), keys_(std::move(keys)) {}

    [[nodiscard]] Result<ManifestDbFile> OpenManifestDbFile() const;

    std::string folder_;
    std::optional<std::string> manifestKey_;
    ClassKeys keys_;
};

// Opens an encrypted backup with its password (UTF-8) in one call: reads Manifest.plist, derives the password key
// and unlocks. Takes seconds on a real backup (see DerivePasswordKey): call it on a worker thread, or call
// ReadLockedBackup, DerivePasswordKey and UnlockedBackup::Unlock one by one.
[[nodiscard]] Result<UnlockedBackup> UnlockBackup(const std::string& backupFolder, const SecretBytes& password);

} // namespace marrowick
