#include "core/crypto/EncryptionInfo.h"

#include "core/backup/ManifestPlist.h"
#include "core/backup/SummaryReader.h"
#include "core/platform/Files.h"

#include <cerrno>
#include <fcntl.h>

namespace marrowick {

namespace {

constexpr const char* ManifestPlistName = "Manifest.plist";

// The keys of the folder's Manifest.plist; nothing at all when there is no such file.
Result<std::optional<ManifestPlistKeys>> ReadKeys(const std::string& folder) {
    const std::string path = folder + ManifestPlistName;
    const Result<std::string> plist = ReadRegularFileAt(AT_FDCWD, path, MaxSummaryFileBytes);
    if (!plist) {
        const Failure& failure = plist.Error();
        if (failure.Cause == FailureCause::System && failure.Error == ENOENT) {
            return std::optional<ManifestPlistKeys>();
        }
        return failure;
    }
    std::optional<ManifestPlistKeys> keys = ReadManifestPlistKeys(*plist);
    if (!keys) {
        return Failure::Because(FailureStep::Read, path, FailureCause::DamagedManifestPlist);
    }
    return keys;
}

} // namespace

Result<EncryptionInfo> ReadEncryptionInfo(const std::string& backupFolder) {
    const Result<std::optional<ManifestPlistKeys>> keys = ReadKeys(WithTrailingSlash(backupFolder));
    if (!keys) {
        return keys.Error();
    }
    if (!*keys) {
        return EncryptionInfo{};
    }
    return EncryptionInfo{(*keys)->IsEncrypted, (*keys)->BackupKeyBag.has_value()};
}

Result<LockedBackup> ReadLockedBackup(const std::string& backupFolder) {
    LockedBackup locked{WithTrailingSlash(backupFolder), {}, {}};
    Result<std::optional<ManifestPlistKeys>> keys = ReadKeys(locked.Folder);
    if (!keys) {
        return keys.Error();
    }
    if (!*keys || !(*keys)->IsEncrypted) {
        return Failure::Because(FailureStep::Check, locked.Folder + ManifestPlistName, FailureCause::NotEncrypted);
    }
    ManifestPlistKeys& found = **keys;
    if (!found.BackupKeyBag) {
        return Failure::Because(FailureStep::Check, "BackupKeyBag", FailureCause::DamagedKeybag);
    }
    Result<Keybag> keybag = ParseKeybag(*found.BackupKeyBag);
    if (!keybag) {
        return keybag.Error();
    }
    locked.Keys = std::move(*keybag);
    locked.ManifestKey = std::move(found.ManifestKey);
    return locked;
}

} // namespace marrowick
