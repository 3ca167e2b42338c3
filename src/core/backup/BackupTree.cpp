#include "core/backup/BackupTree.h"

#include "core/backup/StoredFileStatus.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace marrowick {

namespace {

constexpr char RootPath[] = "/var";
constexpr char Digits[] = "0123456789";

// The type a Manifest.db flags text stands for, for an entry whose record gives none.
std::uint32_t ModeOfFlags(std::string_view flags) {
    if (flags == "2") {
        return EntryRecord::FolderType;
    }
    return flags == "4" ? EntryRecord::LinkType : EntryRecord::RegularType;
}

} // namespace

BackupTree::BackupTree(std::string backupFolder, marrowick::ManifestKind manifestKind)
    : backupFolder_(std::move(backupFolder)), manifestKind_(manifestKind) {
    if (backupFolder_.empty() || backupFolder_.back() != '/') {
        backupFolder_.push_back('/');
    }
    root_ = nodes_.NewNode();
    root_->path_ = RootPath;
    root_->pathLength_ = 4;
    root_->nameOffset_ = 1;
    root_->flags_ = Digits + 2;
    root_->flagsLength_ = 1;
    root_->mode_ = EntryRecord::FolderType;
}

BackupTree::~BackupTree() = default;

void BackupTree::InsertIntoTree(const FileEntry& entry) {
    InsertQueued();
    scanned_.Scan(entry.Path);
    Insert(entry, scanned_);
}

void BackupTree::Insert(const FileEntry& entry, const ScannedPath& scanned) {
    const std::string_view path = entry.Path;
    if (path.size() > std::numeric_limits<std::uint32_t>::max()) {
        return;
    }
    const std::vector<std::size_t>& slashes = scanned.Slashes;
    const std::size_t count = slashes.size();
    if (count < 2) {
        return;
    }
    if (paths_.Empty() && nodes_.NodeCount() > 1) {
        IndexAllPaths();
    }
    const std::string_view key = path.substr(slashes[1]);
    const std::string_view parentKey = key.substr(0, slashes[count - 1] - slashes[1]);
    const std::uint64_t keyHash = scanned.Hash(count - 1);
    const std::uint64_t parentHash = count > 2 ? scanned.Hash(count - 2) : 0;
    if (!paths_.Empty()) {
        // Both slots are far apart in a large table: fetching them together waits for memory once, not twice.
        paths_.Prefetch(keyHash);
        paths_.Prefetch(parentHash);
    }
    if (paths_.Find(key, keyHash) != nullptr) {
        return; // the first node linked for a path wins
    }
    // Most entries go into a folder that exists already; otherwise the missing folders are made on the way down.
    FileNode* folder = root_;
    std::size_t k = 1;
    if (count > 2) {
        if (FileNode* parent = paths_.Find(parentKey, parentHash); parent != nullptr) {
            folder = parent;
            k = count - 1;
        }
    }
    const char* stored = nullptr; // the path's copy in the tree, made when the first new node needs it
    for (; k < count; ++k) {
        const std::size_t end = k + 1 < count ? slashes[k + 1] : path.size();
        const bool leaf = k + 1 == count;
        const std::string_view nodeKey = key.substr(0, end - slashes[1]);
        const std::uint64_t nodeHash = leaf ? keyHash : scanned.Hash(k);
        if (!leaf) {
            if (FileNode* existing = paths_.Find(nodeKey, nodeHash); existing != nullptr) {
                folder = existing;
                continue;
            }
        }
        if (stored == nullptr) {
            stored = nodes_.CopyText(path);
        }
        FileNode& fresh = *nodes_.NewNode();
        fresh.path_ = stored;
        fresh.pathLength_ = static_cast<std::uint32_t>(end);
        fresh.nameOffset_ = static_cast<std::uint32_t>(slashes[k] + 1);
        if (leaf) {
            SetEntryValues(fresh, entry);
        } else {
            fresh.flags_ = Digits + 2;
            fresh.flagsLength_ = 1;
            fresh.mode_ = EntryRecord::FolderType;
        }
        children_.Link(*folder, fresh);
        paths_.Add(nodeHash, &fresh);
        folder = &fresh;
    }
}

void BackupTree::SetEntryValues(FileNode& node, const FileEntry& entry) {
    // A longer id names no stored file either way; cut, it still names none (only 40 digits do).
    const std::string_view fileId = entry.FileID.substr(0, std::numeric_limits<std::uint8_t>::max());
    node.fileId_ = nodes_.CopyText(fileId);
    node.fileIdLength_ = static_cast<std::uint8_t>(fileId.size());
    const std::string_view flags = InternFlags(entry.Flags);
    node.flags_ = flags.data();
    node.flagsLength_ = static_cast<std::uint8_t>(flags.size());
    const EntryRecord* record = entry.Record;
    const std::uint32_t recordMode = record != nullptr ? record->Mode & 0177777 : 0;
    node.mode_ =
        static_cast<std::uint16_t>((recordMode & EntryRecord::TypeMask) != 0 ? recordMode : ModeOfFlags(entry.Flags));
    if (record == nullptr) {
        if (manifestKind_ == ManifestKindDb && !node.IsFolder()) {
            ReadStoredFileStatus(node);
        }
        return;
    }
    node.hasRecord_ = 1;
    node.size_ = record->Size;
    node.mtime_ = record->LastModified;
    node.birth_ = record->Birth;
    node.protectionClass_ = static_cast<std::uint8_t>(std::min<std::uint32_t>(record->ProtectionClass, 255));
    if (node.IsLink()) {
        const std::string_view target = std::string_view(record->Target).substr(0, MaxLinkTarget);
        node.target_ = nodes_.CopyText(target);
        node.targetLength_ = static_cast<std::uint32_t>(target.size());
    }
    if (record->EncryptionKey.size() <= std::numeric_limits<std::uint8_t>::max()) {
        node.key_ = nodes_.CopyText(record->EncryptionKey);
        node.keyLength_ = static_cast<std::uint8_t>(record->EncryptionKey.size());
    }
}

std::string_view BackupTree::InternFlags(std::string_view flags) {
    if (flags.size() == 1 && flags[0] >= '0' && flags[0] <= '9') {
        return {Digits + (flags[0] - '0'), 1};
    }
    // Only "1", "2" and "4" mean anything; a longer text is kept as far as the node can hold it.
    const std::string_view kept = flags.substr(0, std::numeric_limits<std::uint8_t>::max());
    return {nodes_.CopyText(kept), kept.size()};
}

void BackupTree::ReadStoredFileStatus(FileNode& node) {
    if (statusReader_) {
        statusReader_->Add(node);
        return;
    }
    if (!lookup_) {
        lookup_ = std::make_unique<StoredFileLookup>(backupFolder_);
    }
    lookup_->Read(node);
}

void BackupTree::IndexAllPaths() {
    nodes_.ForEachNode([this](FileNode& node) {
        if (&node != root_) {
            paths_.Add(HashKey(PathKey(node.Path())), &node);
        }
    });
}

void BackupTree::QueueInsertion(const FileEntry& entry) {
    if (queued_ == QueueDepth) {
        InsertOldestQueued();
    }
    const auto at = [this](std::size_t age) -> QueuedEntry& {
        return queue_[(queueFirst_ + queued_ - 1 - age) % QueueDepth];
    };
    ++queued_;
    QueuedEntry& fresh = at(0);
    fresh.Path.assign(entry.Path);
    fresh.FileID.assign(entry.FileID);
    fresh.Flags.assign(entry.Flags);
    fresh.HasRecord = entry.Record != nullptr;
    if (fresh.HasRecord) {
        fresh.Record = *entry.Record;
    }
    fresh.Scanned.Scan(fresh.Path);
    fresh.Parent = nullptr;
    const std::size_t depth = fresh.Scanned.Slashes.size();
    // Each call moves the queued entries on a stage: the newest fetches its path table slots, the one before looks
    // up its folder's node in them, the one before that fetches the folder's path, which the lookup compares.
    if (!paths_.Empty() && depth >= 2) {
        paths_.Prefetch(fresh.Scanned.Hash(depth - 1));
        if (depth > 2) {
            paths_.Prefetch(fresh.Scanned.Hash(depth - 2));
        }
    }
    if (queued_ >= 2) {
        QueuedEntry& older = at(1);
        if (const std::size_t count = older.Scanned.Slashes.size(); count > 2) {
            older.Parent = paths_.FirstWithHash(older.Scanned.Hash(count - 2));
            if (older.Parent != nullptr) {
                __builtin_prefetch(older.Parent);
                __builtin_prefetch(reinterpret_cast<const char*>(older.Parent) + sizeof(FileNode) - 1);
            }
        }
    }
    if (queued_ >= 3) {
        const QueuedEntry& oldest = at(2);
        if (oldest.Parent != nullptr) {
            const char* end = oldest.Parent->path_ + oldest.Parent->pathLength_;
            const std::vector<std::size_t>& slashes = oldest.Scanned.Slashes;
            __builtin_prefetch(end - (slashes.back() - slashes[1]));
            __builtin_prefetch(end - 1);
        }
    }
}

void BackupTree::InsertOldestQueued() {
    const QueuedEntry& oldest = queue_[queueFirst_];
    queueFirst_ = (queueFirst_ + 1) % QueueDepth;
    --queued_;
    Insert(FileEntry{oldest.Path, oldest.FileID, oldest.Flags, oldest.HasRecord ? &oldest.Record : nullptr},
           oldest.Scanned);
}

void BackupTree::InsertQueued() {
    while (queued_ > 0) {
        InsertOldestQueued();
    }
}

void BackupTree::BeginBulkInsertion() {
    children_.BeginBulk();
    if (manifestKind_ == ManifestKindDb) {
        statusReader_ = std::make_unique<StoredFileStatusReader>(backupFolder_);
    }
}

void BackupTree::FinishInsertion() {
    InsertQueued();
    queue_ = {};
    detail::LargeBlock spare = paths_.Release();
    if (children_.Bulk()) {
        // Sizes and times are not read by the sort: the last stored files are looked up meanwhile.
        children_.SortAll(nodes_, std::move(spare));
    }
    if (statusReader_) {
        statusReader_->Finish();
        statusReader_.reset();
    }
    children_.DropIndexes();
    scanned_ = {};
    lookup_.reset();
}

} // namespace marrowick
