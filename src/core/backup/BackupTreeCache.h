#pragma once

#include "core/backup/BackupTree.h"
#include "core/platform/Result.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace marrowick {

// Why a backup's tree holds what it holds.
enum class TreeStatus {
    Ok,
    // Manifest.plist marks the backup as encrypted and no password has unlocked it yet, or Manifest.db is not an
    // SQLite file. The tree holds what the manifest gave (older encrypted backups keep a plain Manifest.mbdb), but
    // the stored files are encrypted.
    Encrypted,
    // The manifest cannot be opened or read, or its query fails; the tree holds what was read before that.
    Unreadable,
};

struct BackupTreeResult {
    const FileNode* Root = nullptr; // never null: at least the root "/var"
    TreeStatus Status = TreeStatus::Ok;
    std::optional<Failure> Problem; // what made Status other than Ok
};

struct CachedBackupTree {
    std::unique_ptr<BackupTree> Tree;
    TreeStatus Status = TreeStatus::Ok;
    std::optional<Failure> Problem;
};

// For a person: why a tree holds what it holds; "" when Status is Ok.
[[nodiscard]] std::string TreeProblemText(TreeStatus status, const std::optional<Failure>& problem);

// Trees read so far in this run, keyed by backup folder (ending with "/"). Released when the program ends. Used on
// one thread only; the windows and the command line go through the functions below.
extern std::map<std::string, CachedBackupTree> BackupTreeCache;

// The tree of the backup in backupFolder: read from its manifest on first use (ManifestKindDb reads Manifest.db,
// any other kind Manifest.mbdb) and taken from BackupTreeCache afterwards. Sets CurrentBackupPath,
// CurrentManifestKind and CurrentRoot. The tree stays valid until ClearBackupTreeCache.
[[nodiscard]] BackupTreeResult OpenBackupTree(const std::string& backupFolder, ManifestKind manifestKind);

// OpenBackupTree when the tree of backupFolder has been read before; nothing, and no global changed, when not.
[[nodiscard]] std::optional<BackupTreeResult> FindCachedTree(const std::string& backupFolder,
                                                             ManifestKind manifestKind);

// Keeps tree (read by ReadBackupTree, on any thread) as the tree of backupFolder, unless one is kept already, and
// opens it as OpenBackupTree does. A tree without Tree is kept as an empty one.
BackupTreeResult CacheTree(const std::string& backupFolder, ManifestKind manifestKind, CachedBackupTree tree);

// Reads a backup's tree without the cache and without touching the globals; safe on any thread.
[[nodiscard]] CachedBackupTree ReadBackupTree(const std::string& backupFolder, ManifestKind manifestKind);

// Releases the cached tree of backupFolder, if any, so that the next opening reads it again (once the backup is
// unlocked, say); CurrentRoot is set to null when it was that tree's. Nodes of that tree must no longer be in use.
void ForgetCachedTree(const std::string& backupFolder);

// Releases every cached tree and sets CurrentRoot to null.
void ClearBackupTreeCache();

// True when Manifest.plist in backupFolder (XML or binary) holds IsEncrypted with the value true.
[[nodiscard]] bool ManifestPlistSaysEncrypted(const std::string& backupFolder);

} // namespace marrowick
