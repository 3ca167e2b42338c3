#include "core/backup/BackupTree.h"

#include "core/backup/StoredFileStatus.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace marrowick {

namespace {

// Below this many children a folder is searched along its list; from it on, through a SortedChildIndex.
constexpr std::uint32_t IndexThreshold = 8;
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

// The children of one large folder in name order, kept in short sorted runs so that an insertion moves at most
// one run.
class SortedChildIndex final {
public:
    struct Position {
        std::size_t Run;
        std::size_t Offset;
    };

    explicit SortedChildIndex(FileNode* firstChild) {
        runs_.emplace_back();
        for (FileNode* child = firstChild; child != nullptr; child = child->nextSibling_) {
            Append(child);
        }
    }

    void Append(FileNode* child) {
        if (runs_.back().size() >= MaxRun) {
            runs_.emplace_back();
            runs_.back().reserve(MaxRun);
        }
        runs_.back().push_back(child);
    }

    // The place of the first child whose name is not below name.
    [[nodiscard]] Position LowerBound(std::string_view name) const {
        const auto run = std::partition_point(runs_.begin(), runs_.end() - 1, [name](const std::vector<FileNode*>& r) {
            return r.back()->Name() < name;
        });
        const auto at = std::partition_point(run->begin(), run->end(),
                                             [name](const FileNode* child) { return child->Name() < name; });
        return {static_cast<std::size_t>(run - runs_.begin()), static_cast<std::size_t>(at - run->begin())};
    }

    [[nodiscard]] FileNode* Before(Position p) const {
        if (p.Offset > 0) {
            return runs_[p.Run][p.Offset - 1];
        }
        return p.Run > 0 ? runs_[p.Run - 1].back() : nullptr;
    }

    void Insert(Position p, FileNode* child) {
        auto& run = runs_[p.Run];
        run.insert(run.begin() + static_cast<std::ptrdiff_t>(p.Offset), child);
        if (run.size() > 2 * MaxRun) {
            std::vector<FileNode*> upper(run.begin() + MaxRun, run.end());
            run.resize(MaxRun);
            runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(p.Run) + 1, std::move(upper));
        }
    }

private:
    static constexpr std::size_t MaxRun = 256;
    std::vector<std::vector<FileNode*>> runs_;
};

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
        LinkChild(*folder, fresh);
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

SortedChildIndex& BackupTree::IndexOf(FileNode& folder) {
    auto& index = indexes_[&folder];
    if (!index) {
        index = std::make_unique<SortedChildIndex>(folder.firstChild_);
    }
    return *index;
}

void BackupTree::LinkChild(FileNode& parent, FileNode& node) {
    node.parent_ = &parent;
    ++parent.childCount_;
    if (bulk_) {
        return; // SortAllChildren makes every folder's list from the parent links
    }
    FileNode* last = parent.lastChild_;
    if (last == nullptr) {
        parent.firstChild_ = &node;
        parent.lastChild_ = &node;
        return;
    }
    // Manifests are often sorted: a name after the last child is appended without a search.
    if (last->Name() < node.Name()) {
        last->nextSibling_ = &node;
        parent.lastChild_ = &node;
        if (parent.childCount_ > IndexThreshold) {
            if (const auto found = indexes_.find(&parent); found != indexes_.end()) {
                found->second->Append(&node);
            }
        }
        return;
    }
    FileNode* before = nullptr;
    if (parent.childCount_ <= IndexThreshold) {
        for (FileNode* at = parent.firstChild_; at->Name() < node.Name(); at = at->nextSibling_) {
            before = at;
        }
    } else {
        SortedChildIndex& index = IndexOf(parent);
        const SortedChildIndex::Position position = index.LowerBound(node.Name());
        before = index.Before(position);
        index.Insert(position, &node);
    }
    FileNode*& next = before != nullptr ? before->nextSibling_ : parent.firstChild_;
    node.nextSibling_ = next;
    next = &node;
}

namespace {

// 8 bytes of a name from offset on, most significant first and zero-padded.
std::uint64_t NameWord(std::string_view name, std::size_t offset) {
    unsigned char bytes[8] = {};
    if (offset < name.size()) {
        std::memcpy(bytes, name.data() + offset, std::min<std::size_t>(name.size() - offset, 8));
    }
    std::uint64_t word = 0;
    for (const unsigned char byte : bytes) {
        word = (word << 8) | byte;
    }
    return word;
}

} // namespace

void BackupTree::SortAllChildren(detail::LargeBlock spare) {
    // The first 16 bytes of the name: keys that differ order their names, so names are compared only on a tie.
    struct Keyed {
        std::uint64_t High;
        std::uint64_t Low;
        FileNode* Node;
    };
    const auto before = [](const Keyed& a, const Keyed& b) {
        if (a.High != b.High) {
            return a.High < b.High;
        }
        if (a.Low != b.Low) {
            return a.Low < b.Low;
        }
        return a.Node->Name() < b.Node->Name();
    };
    // Reading nodes in the order they were made and placing each in its folder's range of one array, instead of
    // following every folder's list, reads memory in order rather than jumping from child to child.
    // The caller's spare memory (the finished path table: at most half full, 16 bytes a slot) is at least as large:
    // reusing it spares the kernel making and clearing that many fresh pages once more.
    detail::LargeBlock memory = std::move(spare);
    if (memory.Size() < nodes_.NodeCount() * sizeof(Keyed)) {
        memory = detail::LargeBlock(nodes_.NodeCount() * sizeof(Keyed));
    }
    auto* children = static_cast<Keyed*>(memory.Data());
    std::uint32_t next = 0;
    nodes_.ForEachNode([&next](FileNode& node) {
        const std::uint32_t count = node.childCount_;
        node.childCount_ = next; // where the node's children go, advanced past each one placed
        next += count;
    });
    nodes_.ForEachNode([&children](FileNode& node) {
        if (node.parent_ != nullptr) {
            const std::string_view name = node.Name();
            children[node.parent_->childCount_++] = {NameWord(name, 0), NameWord(name, 8), &node};
        }
    });
    std::uint32_t begin = 0;
    nodes_.ForEachNode([&](FileNode& folder) {
        // The folder's range ends where its placement stopped, which is where the next node's range begins.
        const std::uint32_t end = folder.childCount_;
        folder.childCount_ = end - begin;
        if (begin == end) {
            folder.firstChild_ = nullptr;
            folder.lastChild_ = nullptr;
            return;
        }
        Keyed* first = children + begin;
        Keyed* last = children + end;
        if (!std::is_sorted(first, last, before)) {
            std::sort(first, last, before);
        }
        folder.firstChild_ = first->Node;
        for (Keyed* child = first; child + 1 != last; ++child) {
            child->Node->nextSibling_ = (child + 1)->Node;
        }
        (last - 1)->Node->nextSibling_ = nullptr;
        folder.lastChild_ = (last - 1)->Node;
        begin = end;
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
    bulk_ = true;
    indexes_.clear();
    if (manifestKind_ == ManifestKindDb) {
        statusReader_ = std::make_unique<StoredFileStatusReader>(backupFolder_);
    }
}

void BackupTree::FinishInsertion() {
    InsertQueued();
    queue_ = {};
    detail::LargeBlock spare = paths_.Release();
    if (bulk_) {
        // Sizes and times are not read by the sort: the last stored files are looked up meanwhile.
        SortAllChildren(std::move(spare));
        bulk_ = false;
    }
    if (statusReader_) {
        statusReader_->Finish();
        statusReader_.reset();
    }
    indexes_.clear();
    scanned_ = {};
    lookup_.reset();
}

} // namespace marrowick
