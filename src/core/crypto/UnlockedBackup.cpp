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

Result<ManifestDbFile> UnlockedBackup::OpenManifestDbFile() const {
    const std::string path = folder_ + "Manifest.db";
    const auto damagedKey = Failure::Because(FailureStep::Read, "ManifestKey", FailureCause::DamagedManifestKey);
    if (!manifestKey_) {
        // Valid when the database is plain; without a key anything else cannot be read.
        Result<ManifestDbFile> plain = ManifestDbFile::Open(path, nullptr);
        if (!plain && plain.Error().Cause == FailureCause::DamagedManifestDb) {
            return damagedKey;
        }
        return plain;
    }
    const std::optional<SecretBytes> key = keys_.UnwrapRecordKey(*manifestKey_);
    if (!key) {
        return damagedKey;
    }
    return ManifestDbFile::Open(path, &*key);
}

Result<std::unique_ptr<ManifestDbConnection>> UnlockedBackup::OpenManifestDb() const {
    Result<ManifestDbFile> file = OpenManifestDbFile();
    if (!file) {
        return file.Error();
    }
    return ManifestDbConnection::Open(std::move(*file));
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
