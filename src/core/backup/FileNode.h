#pragma once

#include "core/backup/EntryRecord.h"
#include "core/backup/ManifestKind.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace marrowick {

// One file or folder of a backup. Nodes live in the BackupTree that made them; every link is non-owning.
class FileNode final {
public:
    FileNode() = default;

    // Device path: "/"-separated, beginning with "/var", no trailing "/".
    [[nodiscard]] std::string_view Path() const { return {path_, pathLength_}; }
    // The text after the last "/" of Path.
    [[nodiscard]] std::string_view Name() const { return Path().substr(nameOffset_); }
    // 40 lowercase hexadecimal digits naming the stored file; empty for the root and for implied folders.
    [[nodiscard]] std::string_view FileID() const { return {fileId_, fileIdLength_}; }
    // The manifest's flags text: "1" file, "2" folder, "4" link in Manifest.db.
    [[nodiscard]] std::string_view Flags() const { return {flags_, flagsLength_}; }
    // Type and permission bits as in st_mode: the record's, or made from Flags when the entry has no record.
    [[nodiscard]] std::uint32_t Mode() const { return mode_; }
    [[nodiscard]] bool IsFolder() const { return (mode_ & EntryRecord::TypeMask) == EntryRecord::FolderType; }
    [[nodiscard]] bool IsLink() const { return (mode_ & EntryRecord::TypeMask) == EntryRecord::LinkType; }
    // False when the manifest holds no readable record of the entry: size and time then come from the stored file.
    [[nodiscard]] bool HasRecord() const { return hasRecord_ != 0; }
    [[nodiscard]] std::uint64_t Size() const { return size_; }
    // Seconds since 1970-01-01 UTC.
    [[nodiscard]] std::int64_t MTime() const { return mtime_; }
    [[nodiscard]] std::int64_t BirthTime() const { return birth_; }
    // Where a link points on the device; empty for anything else.
    [[nodiscard]] std::string_view LinkTarget() const { return {target_, targetLength_}; }
    [[nodiscard]] std::uint32_t ProtectionClass() const { return protectionClass_; }
    // The wrapped key of the stored content as the record holds it, or empty; only the core reads it.
    [[nodiscard]] std::string_view EncryptionKey() const { return {key_, keyLength_}; }

    // Children are linked in ascending unsigned byte order of Name, no two with the same name.
    [[nodiscard]] const FileNode* FirstChild() const { return firstChild_; }
    [[nodiscard]] const FileNode* NextSibling() const { return nextSibling_; }
    [[nodiscard]] const FileNode* Parent() const { return parent_; }

private:
    friend class BackupTree;
    friend class SortedChildIndex;
    friend class StoredFileLookup;

    const char* path_ = nullptr;
    const char* fileId_ = nullptr;
    const char* flags_ = nullptr;
    const char* target_ = nullptr;
    const char* key_ = nullptr;
    std::uint64_t size_ = 0;
    std::int64_t mtime_ = 0;
    std::int64_t birth_ = 0;
    std::uint32_t pathLength_ = 0;
    std::uint32_t nameOffset_ = 0;
    std::uint32_t targetLength_ = 0;
    std::uint32_t childCount_ = 0;
    std::uint16_t mode_ = 0;
    std::uint8_t fileIdLength_ = 0;
    std::uint8_t flagsLength_ = 0;
    std::uint8_t keyLength_ = 0;
    std::uint8_t protectionClass_ = 0;
    std::uint8_t hasRecord_ = 0;
    FileNode* firstChild_ = nullptr;
    FileNode* nextSibling_ = nullptr;
    FileNode* parent_ = nullptr;
    FileNode* lastChild_ = nullptr;
};

// One manifest entry as a reader hands it to InsertIntoTree; the tree copies what it keeps.
struct FileEntry {
    std::string_view Path;
    std::string_view FileID;
    std::string_view Flags;
    // The manifest's record of the entry, or null when it holds none that can be read.
    const EntryRecord* Record = nullptr;
};

class SortedChildIndex;
class StoredFileLookup;
class StoredFileStatusReader;

namespace detail {

// Zero-filled memory for the tree's arrays, made without constructing or clearing elements one by one.
class LargeBlock final {
public:
    LargeBlock() = default;
    explicit LargeBlock(std::size_t bytes);
    ~LargeBlock();
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    [[nodiscard]] void* Data() const { return data_; }
    [[nodiscard]] std::size_t Size() const { return size_; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace detail

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
    [[nodiscard]] std::size_t NodeCount() const { return nodeCount_; }

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
    struct NodeChunk {
        detail::LargeBlock Memory;
        FileNode* Nodes = nullptr;
        std::size_t Size = 0;
    };
    struct PathSlot {
        std::size_t Hash = 0;
        FileNode* Node = nullptr;
    };
    // Where a path's "/" are, and what it takes to hash its key (the path from the second "/" on) cut anywhere.
    struct ScannedPath {
        std::vector<std::size_t> Slashes;
        std::vector<std::uint64_t> Words;  // the key 8 bytes at a time, the last one zero-padded
        std::vector<std::uint64_t> States; // the hash state before each word
        std::size_t Length = 0;            // of the path

        void Scan(std::string_view path);
        // The key hash of the node whose name follows Slashes[k] (k >= 1).
        [[nodiscard]] std::uint64_t Hash(std::size_t k) const;
    };
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

    FileNode* NewNode();
    const char* CopyText(std::string_view text);
    std::string_view InternFlags(std::string_view flags);
    void SetEntryValues(FileNode& node, const FileEntry& entry);
    void ReadStoredFileStatus(FileNode& node);
    void LinkChild(FileNode& parent, FileNode& node);
    SortedChildIndex& IndexOf(FileNode& folder);
    void SortAllChildren();
    FileNode* FindPath(std::string_view key, std::size_t hash) const;
    void AddPath(std::size_t hash, FileNode* node);
    [[nodiscard]] const FileNode* FirstWithHash(std::size_t hash) const;
    void Insert(const FileEntry& entry, const ScannedPath& scanned);
    void InsertOldestQueued();
    void IndexAllPaths();

    std::string backupFolder_;
    marrowick::ManifestKind manifestKind_;
    FileNode* root_ = nullptr;
    std::size_t nodeCount_ = 0;
    bool bulk_ = false;

    std::vector<NodeChunk> nodeChunks_;
    std::size_t nodesLeftInChunk_ = 0;
    std::vector<detail::LargeBlock> textChunks_;
    char* textNext_ = nullptr;
    std::size_t textLeft_ = 0;

    // Every node but the root by its path from the path's second "/" on (the first component is the root's);
    // open addressing, empty while no insertion is under way.
    detail::LargeBlock pathMemory_;
    PathSlot* paths_ = nullptr;
    std::size_t pathSlots_ = 0;
    std::size_t pathsUsed_ = 0;
    std::unordered_map<const FileNode*, std::unique_ptr<SortedChildIndex>> indexes_;
    ScannedPath scanned_;
    std::array<QueuedEntry, QueueDepth> queue_;
    std::size_t queueFirst_ = 0;
    std::size_t queued_ = 0;
    // Stored files are read while inserting one entry at a time, and on a thread of their own during bulk
    // insertion; the reader is declared last so that its thread ends before the nodes it writes are freed.
    std::unique_ptr<StoredFileLookup> lookup_;
    std::unique_ptr<StoredFileStatusReader> statusReader_;
};

// True when path begins with folder followed by "/".
[[nodiscard]] bool IsUnder(std::string_view path, std::string_view folder);

// The node below root (root included) whose Path equals path byte for byte, or null.
[[nodiscard]] const FileNode* FindNode(const FileNode* root, std::string_view path);
// The same in the tree of CurrentRoot.
[[nodiscard]] const FileNode* FindNode(std::string_view path);

// The tree of the backup that is being read or shown; null until one is opened. Owned by BackupTreeCache.
extern const FileNode* CurrentRoot;
// The folder of the backup being opened, ending with "/".
extern std::string CurrentBackupPath;
// ManifestKindDb or ManifestKindMbdb for the backup being opened.
extern ManifestKind CurrentManifestKind;

} // namespace marrowick
