#include "core/backup/BackupTreeCache.h"

#include "core/backup/ManifestDbReader.h"
#include "core/backup/ManifestMbdbReader.h"
#include "core/backup/ManifestPlist.h"
#include "core/backup/SummaryReader.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/platform/ErrorText.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/Files.h"
#include "core/platform/SqliteHandles.h"

#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace marrowick {

std::map<std::string, CachedBackupTree> BackupTreeCache;

namespace {

// True when the file holds at least 16 bytes and they are not SQLite's header: an encrypted Manifest.db.
bool IsNotSqliteFile(const std::string& path) {
    const Result<FileDescriptor> file = OpenRegularFileAt(AT_FDCWD, path);
    if (!file) {
        return false;
    }
    char header[16];
    std::size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = ::read(file->Get(), header + got, sizeof header - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got == sizeof header && std::string_view(header, sizeof header) != SqliteHeader;
}

Result<void> ReadUnlockedManifestDb(const UnlockedBackup& unlocked, BackupTree& tree) {
    const Result<std::unique_ptr<ManifestDbConnection>> manifest = unlocked.OpenManifestDb();
    if (!manifest) {
        return manifest.Error();
    }
    return ReadOpenManifestDb((*manifest)->Db(), (*manifest)->Size(), tree);
}

} // namespace

bool ManifestPlistSaysEncrypted(const std::string& backupFolder) {
    const Result<std::string> plist =
        ReadRegularFileAt(AT_FDCWD, WithTrailingSlash(backupFolder) + "Manifest.plist", MaxSummaryFileBytes);
    const std::optional<ManifestPlistKeys> keys = plist ? ReadManifestPlistKeys(*plist) : std::nullopt;
    return keys && keys->IsEncrypted;
}

CachedBackupTree ReadBackupTree(const std::string& backupFolder, ManifestKind manifestKind) {
    CachedBackupTree cached;
    cached.Tree = std::make_unique<BackupTree>(WithTrailingSlash(backupFolder), manifestKind);
    const std::string folder = cached.Tree->BackupFolder();
    const bool encrypted = ManifestPlistSaysEncrypted(folder);
    const std::shared_ptr<const UnlockedBackup> unlocked = encrypted ? FindUnlockedBackup(folder) : nullptr;
    Result<void> read;
    try {
        if (manifestKind != ManifestKindDb) {
            read = ReadManifestMbdb(*cached.Tree);
        } else {
            read = unlocked ? ReadUnlockedManifestDb(*unlocked, *cached.Tree) : ReadManifestDb(*cached.Tree);
        }
    } catch (const std::bad_alloc&) {
        // A tree cut off half-way is not shown: it would pass for the backup's whole content.
        cached.Tree.reset();
        cached.Tree = std::make_unique<BackupTree>(folder, manifestKind);
        cached.Status = TreeStatus::Unreadable;
        cached.Problem = Failure::Because(FailureStep::Read, {}, FailureCause::OutOfMemory);
        return cached;
    }
    if (encrypted && !unlocked) {
        cached.Status = TreeStatus::Encrypted;
        cached.Problem = Failure::Because(FailureStep::Check, "Manifest.plist", FailureCause::Encrypted);
    } else if (!unlocked && manifestKind == ManifestKindDb && IsNotSqliteFile(folder + "Manifest.db")) {
        cached.Status = TreeStatus::Encrypted;
        cached.Problem = Failure::Because(FailureStep::Check, "Manifest.db", FailureCause::Encrypted);
    } else if (!read) {
        cached.Status = TreeStatus::Unreadable;
        cached.Problem = read.Error();
    }
    return cached;
}

std::string TreeProblemText(TreeStatus status, const std::optional<Failure>& problem) {
    if (status == TreeStatus::Ok || !problem) {
        return {};
    }
    if (problem->Cause == FailureCause::Encrypted) {
        return problem->Path == "Manifest.plist" ? "The backup is encrypted (Manifest.plist: IsEncrypted)."
                                                 : "The backup is encrypted (Manifest.db is not an SQLite database).";
    }
    if (problem->Cause == FailureCause::OutOfMemory) {
        return "There is not enough memory to read the backup's file list.";
    }
    return FailureText(*problem);
}

namespace {

BackupTreeResult MakeCurrent(const std::string& folder, ManifestKind manifestKind, const CachedBackupTree& cached) {
    CurrentBackupPath = folder;
    CurrentManifestKind = manifestKind;
    CurrentRoot = cached.Tree->Root();
    return {CurrentRoot, cached.Status, cached.Problem};
}

} // namespace

BackupTreeResult OpenBackupTree(const std::string& backupFolder, ManifestKind manifestKind) {
    if (std::optional<BackupTreeResult> cached = FindCachedTree(backupFolder, manifestKind)) {
        return *cached;
    }
    return CacheTree(backupFolder, manifestKind, ReadBackupTree(backupFolder, manifestKind));
}

std::optional<BackupTreeResult> FindCachedTree(const std::string& backupFolder, ManifestKind manifestKind) {
    const std::string folder = WithTrailingSlash(backupFolder);
    const auto found = BackupTreeCache.find(folder);
    if (found == BackupTreeCache.end()) {
        return std::nullopt;
    }
    return MakeCurrent(folder, manifestKind, found->second);
}

BackupTreeResult CacheTree(const std::string& backupFolder, ManifestKind manifestKind, CachedBackupTree tree) {
    const std::string folder = WithTrailingSlash(backupFolder);
    if (!tree.Tree) {
        tree.Tree = std::make_unique<BackupTree>(folder, manifestKind);
    }
    const auto kept = BackupTreeCache.emplace(folder, std::move(tree)).first;
    return MakeCurrent(folder, manifestKind, kept->second);
}

void ForgetCachedTree(const std::string& backupFolder) {
    const auto found = BackupTreeCache.find(WithTrailingSlash(backupFolder));
    if (found == BackupTreeCache.end()) {
        return;
    }
    if (CurrentRoot == found->second.Tree->Root()) {
        CurrentRoot = nullptr;
    }
    BackupTreeCache.erase(found);
}

void ClearBackupTreeCache() {
    CurrentRoot = nullptr;
    BackupTreeCache.clear();
}

} // namespace marrowick
