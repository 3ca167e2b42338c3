#pragma once

#include "core/backup/ChildLinker.h"
#include "core/backup/EntryRecord.h"
#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/backup/NodeArena.h"
#include "core/backup/PathHash.h"
#include "core/backup/PathTable.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace marrowick {

class StoredFileLookup;
class StoredFileStatusReader;

// The tree of one backup's files, rooted at the folder node "/var". Owns every node and every text.
class BackupTree final {
public:
    // backupFolder is where a Manifest.db backup keeps its stored files ("/" is appended when missing).
    BackupTree(std::string backupFolder, marrowick::ManifestKind manifestKind);
    ~BackupTree();
    BackupTree(const BackupTree&) = delete;
    BackupTree& operator=(const BackupTree&) = delete;

    [[nodiscard]] const FileNode* Root() const { return root_; }
    [[nodiscard]] const std::string& BackupFolder() const { return backupFolder_; }
    [[nodiscard]] marrowick::ManifestKind ManifestKind() const { return manifestKind_; }
    // Nodes in the tree, the root included.
    [[nodiscard]] std::size_t NodeCount() const { return nodes_.NodeCount(); }

    // Adds the entry and the folders on its way. The first node linked for a path keeps its values; a path with
    // fewer than two "/" adds nothing. A new file of a Manifest.db backup without a record takes size and time
    // from its stored file <backup>/<first two characters of FileID>/<FileID> when that can be read.
    void InsertIntoTree(const FileEntry& entry);

    // The same as InsertIntoTree, except that the entry may be inserted a few calls later: InsertIntoTree,
    // InsertQueued and FinishInsertion insert the queued entries first, so entries keep their order. Meanwhile the
    // memory the entry's insertion reads is fetched, so that waiting for it overlaps other entries' work.
    void QueueInsertion(const FileEntry& entry);
    void InsertQueued();

    // For readers of whole manifests: until FinishInsertion, children are linked in arrival order and the tree
    // must not be read; FinishInsertion then puts every folder's children in name order at once.
    void BeginBulkInsertion();
    // Puts the children in order after bulk insertion and frees what only speeds up insertion. Later insertions
    // still work.
    void FinishInsertion();

private:
    struct QueuedEntry {
        std::string Path;
        std::string FileID;
        std::string Flags;
        EntryRecord Record;
        bool HasRecord = false;
        ScannedPath Scanned;
        const FileNode* Parent = nullptr; // a likely folder node, only for fetching it early
    };
    static constexpr std::size_t QueueDepth = 4;
    // Device paths are far shorter; a longer target is cut rather than kept whole in every tree.
    static constexpr std::size_t MaxLinkTarget = 4096;

    std::string_view InternFlags(std::string_view flags);
    void SetEntryValues(FileNode& node, const FileEntry& entry);
    void ReadStoredFileStatus(FileNode& node);
    void Insert(const FileEntry& entry, const ScannedPath& scanned);
    void InsertOldestQueued();
    void IndexAllPaths();

    std::string backupFolder_;
    marrowick::ManifestKind manifestKind_;
    FileNode* root_ = nullptr;
    NodeArena nodes_;
    // Every node but the root by its PathKey; empty while no insertion is under way.
    PathTable paths_;
    ChildLinker children_;
    ScannedPath scanned_;
    std::array<QueuedEntry, QueueDepth> queue_;
    std::size_t queueFirst_ = 0;
    std::size_t queued_ = 0;
    // Stored files are read while inserting one entry at a time, and on a thread of their own during bulk
    // insertion; the reader is declared last so that its thread ends before the nodes it writes are freed.
    std::unique_ptr<StoredFileLookup> lookup_;
    std::unique_ptr<StoredFileStatusReader> statusReader_;
};

} // namespace marrowick
