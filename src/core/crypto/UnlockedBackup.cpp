#include "core/crypto/UnlockedBackup.h"

#include "core/crypto/KeyDerivation.h"

#include <system_error>
#include <thread>

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

void UnlockedBackup::KeepManifestDbReadAhead(SecretBytes bytes) {
    const std::scoped_lock lock(readAhead_->Lock);
    readAhead_->Bytes = std::move(bytes);
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
    std::optional<SecretBytes> readAhead;
    {
        const std::scoped_lock lock(readAhead_->Lock);
        readAhead.swap(readAhead_->Bytes);
    }
    if (!readAhead) {
        return DecryptManifestDb(path, *key);
    }
    if (const Result<void> decrypted = DecryptManifestDbInPlace(*readAhead, path, *key); !decrypted) {
        return decrypted.Error();
    }
    return std::move(*readAhead);
}

Result<InMemoryDatabase> UnlockedBackup::OpenManifestDb() const {
    Result<SecretBytes> bytes = ReadManifestDb(folder_ + "Manifest.db");
    if (!bytes) {
        return bytes.Error();
    }
    return OpenInMemoryDatabase(std::move(*bytes));
}

namespace {

// Reads an encrypted Manifest.db on a thread of its own from construction; the reading stops when it goes unused.
class ManifestDbReadAhead final {
public:
    explicit ManifestDbReadAhead(const std::string& path) {
        try {
            reader_ =
                std::jthread([this, path](const std::stop_token& stop) { bytes_ = ReadManifestDbFile(path, stop); });
        } catch (const std::system_error&) {
            // No thread to spare: the database is read when it is opened.
        }
    }

    ManifestDbReadAhead(const ManifestDbReadAhead&) = delete;
    ManifestDbReadAhead& operator=(const ManifestDbReadAhead&) = delete;

    // The bytes read, once the reading has ended; nothing when it failed, which opening the database tells again.
    [[nodiscard]] std::optional<SecretBytes> Take() {
        if (!reader_.joinable()) {
            return std::nullopt;
        }
        reader_.join();
        return bytes_ ? std::optional<SecretBytes>(std::move(*bytes_)) : std::nullopt;
    }

private:
    Result<SecretBytes> bytes_ = Failure{};
    std::jthread reader_; // last: it stops and ends before bytes_ goes
};

} // namespace

Result<UnlockedBackup> UnlockBackup(const std::string& backupFolder, const SecretBytes& password) {
    Result<LockedBackup> locked = ReadLockedBackup(backupFolder);
    if (!locked) {
        return locked.Error();
    }
    // Deriving the key keeps one core busy for seconds: the database is read meanwhile, and decrypted once opened.
    std::optional<ManifestDbReadAhead> readAhead;
    if (locked->ManifestKey) {
        readAhead.emplace(locked->Folder + "Manifest.db");
    }
    const Result<SecretBytes> passwordKey = DerivePasswordKey(locked->Keys, password);
    if (!passwordKey) {
        return passwordKey.Error();
    }
    Result<UnlockedBackup> unlocked = UnlockedBackup::Unlock(std::move(*locked), *passwordKey);
    if (unlocked && readAhead) {
        if (std::optional<SecretBytes> bytes = readAhead->Take()) {
            unlocked->KeepManifestDbReadAhead(std::move(*bytes));
        }
    }
    return unlocked;
}

} // namespace marrowick
