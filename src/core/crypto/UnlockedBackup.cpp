#include "core/crypto/UnlockedBackup.h"

#include "core/crypto/KeyDerivation.h"

namespace marrowick {

Result<UnlockedBackup> UnlockedBackup::Unlock(LockedBackup locked, const SecretBytes& passwordKey) {
    Result<ClassKeys> keys = UnlockClassKeys(locked.Keys, passwordKey);
    if (!keys) {
        return keys.Error();
    }
    return UnlockedBackup(std::move(locked.Folder), std::move(locked.ManifestKey), std::move(*keys));
}

Result<SecretBytes> UnlockedBackup::FileKey(std::string_view wrappedKey) const {
    if (wrappedKey.empty()) {
        return Failure::Because(FailureStep::Read, {}, FailureCause::MissingFileKey);
    }
    std::optional<SecretBytes> key = keys_.UnwrapRecordKey(wrappedKey);
    if (!key) {
        return Failure::Because(FailureStep::Read, {}, FailureCause::DamagedFileKey);
    }
    return std::move(*key);
}

Result<FileDecryptor> UnlockedBackup::MakeFileDecryptor(std::string_view wrappedKey) const {
    const Result<SecretBytes> key = FileKey(wrappedKey);
    if (!key) {
        return key.Error();
    }
    return FileDecryptor::Make(*key);
}

Result<SecretBytes> UnlockedBackup::ReadManifestDb(const std::string& path) const {
    const auto damagedKey = Failure::Because(FailureStep::Read, "ManifestKey", FailureCause::DamagedManifestKey);
    if (!manifestKey_) {
        // Valid when the database is plain; without a key anything else cannot be read.
        Result<SecretBytes> plain = ReadPlainManifestDb(path);
        if (!plain && plain.Error().Cause == FailureCause::DamagedManifestDb) {
            return damagedKey;
        }
        return plain;
    }
    const std::optional<SecretBytes> key = keys_.UnwrapRecordKey(*manifestKey_);
    if (!key) {
        return damagedKey;
    }
    return DecryptManifestDb(path, *key);
}

Result<InMemoryDatabase> UnlockedBackup::OpenManifestDb() const {
    Result<SecretBytes> bytes = ReadManifestDb(folder_ + "Manifest.db");
    if (!bytes) {
        return bytes.Error();
    }
    return OpenInMemoryDatabase(std::move(*bytes));
}

Result<UnlockedBackup> UnlockBackup(const std::string& backupFolder, const SecretBytes& password) {
    Result<LockedBackup> locked = ReadLockedBackup(backupFolder);
    if (!locked) {
        return locked.Error();
    }
    const Result<SecretBytes> passwordKey = DerivePasswordKey(locked->Keys, password);
    if (!passwordKey) {
        return passwordKey.Error();
    }
    return UnlockedBackup::Unlock(std::move(*locked), *passwordKey);
}

} // namespace marrowick
