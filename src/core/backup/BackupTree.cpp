#include "core/backup/BackupTree.h"

#include "core/backup/StoredFileStatus.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace marrowick {

namespace {

// Below this many children a folder is searched along its list; from it on, through a SortedChildIndex.
constexpr std::uint32_t IndexThreshold = 8;
constexpr char RootPath[] = "/var";
constexpr char Digits[] = "0123456789";

constexpr std::uint64_t WordPrime = 0x9E3779B97F4A7C15ULL;

std::uint64_t LoadWord(const char* bytes) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word; // the first byte is the least significant
}

std::uint64_t LoadPartialWord(const char* bytes, std::size_t count) {
    std::uint64_t word = 0;
    for (std::size_t i = count; i-- > 0;) {
        word = (word << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return word;
}

// The low count bytes of word.
std::uint64_t LowBytes(std::uint64_t word, std::size_t count) {
    return count == 0 ? 0 : word & (~std::uint64_t{0} >> (64 - 8 * count));
}

std::uint64_t MixWord(std::uint64_t state, std::uint64_t word) {
    return std::rotl((state ^ word) * WordPrime, 29);
}

std::uint64_t FinishHash(std::uint64_t state, std::uint64_t partial, std::size_t length) {
    std::uint64_t x = MixWord(state, partial) ^ length;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return x;
}

// The hash of a key, 8 bytes at a time: the value ScannedPath::Hash gives for the same key cut out of a path.
std::uint64_t HashKey(std::string_view key) {
    std::uint64_t state = 0;
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        state = MixWord(state, LoadWord(key.data() + i));
    }
    return FinishHash(state, LoadPartialWord(key.data() + i, key.size() - i), key.size());
}

// The bytes of word equal to '/', as their high bits.
std::uint64_t SlashBytes(std::uint64_t word) {
    constexpr std::uint64_t Low7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t x = word ^ 0x2F2F2F2F2F2F2F2FULL;
    return ~(((x & Low7) + Low7) | x | Low7);
}

// A node is known by its path from the second "/" on: the first component always stands for the root.
std::string_view PathKey(std::string_view path) {
    return path.substr(path.find('/', path.find('/') + 1));
}

// PathKey(path) == key, looking at the few bytes before the key instead of searching the whole path.
bool HasPathKey(std::string_view path, std::string_view key) {
    if (!path.ends_with(key)) {
        return false;
    }
    const std::string_view head = path.substr(0, path.size() - key.size());
    const std::size_t slash = head.find('/');
    return slash != std::string_view::npos && head.find('/', slash + 1) == std::string_view::npos;
}

} // namespace

// One pass over the key, 8 bytes at a time, finds every "/" and keeps what hashing any of its prefixes needs,
// instead of searching for every "/" and then hashing keys from their start.
void BackupTree::ScannedPath::Scan(std::string_view path) {
    Slashes.clear();
    Words.clear();
    States.clear();
    Length = path.size();
    const std::size_t first = path.find('/');
    const std::size_t second = first == std::string_view::npos ? first : path.find('/', first + 1);
    if (second == std::string_view::npos) {
        if (first != std::string_view::npos) {
            Slashes.push_back(first);
        }
        return;
    }
    Slashes.push_back(first);
    Slashes.push_back(second);
    const std::string_view key = path.substr(second);
    std::uint64_t state = 0;
    std::size_t i = 0;
    const auto keep = [&](std::uint64_t word, std::uint64_t slashes) {
        for (; slashes != 0; slashes &= slashes - 1) {
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(slashes)) / 8;
            if (at != 0) {
                Slashes.push_back(second + at);
            }
        }
        Words.push_back(word);
        States.push_back(state);
    };
    for (; i + 8 <= key.size(); i += 8) {
        const std::uint64_t word = LoadWord(key.data() + i);
        keep(word, SlashBytes(word));
        state = MixWord(state, word);
    }
    const std::size_t rest = key.size() - i;
    const std::uint64_t word = LoadPartialWord(key.data() + i, rest);
    keep(word, LowBytes(SlashBytes(word), rest));
}

std::uint64_t BackupTree::ScannedPath::Hash(std::size_t k) const {
    const std::size_t end = (k + 1 < Slashes.size() ? Slashes[k + 1] : Length) - Slashes[1];
    const std::size_t word = end / 8;
    return FinishHash(States[word], LowBytes(Words[word], end % 8), end);
}

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

std::string_view BackupTree::InternFlags(std::string_view flags) {
    if (flags.size() == 1 && flags[0] >= '0' && flags[0] <= '9') {
        return {Digits + (flags[0] - '0'), 1};
    }
    // Only "1", "2" and "4" mean anything; a longer text is kept as far as the node can hold it.
    const std::string_view kept = flags.substr(0, std::numeric_limits<std::uint8_t>::max());
    return {nodes_.CopyText(kept), kept.size()};
}

namespace {

// The type a Manifest.db flags text stands for, for an entry whose record gives none.
std::uint32_t ModeOfFlags(std::string_view flags) {
    if (flags == "2") {
        return EntryRecord::FolderType;
    }
    return flags == "4" ? EntryRecord::LinkType : EntryRecord::RegularType;
}

} // namespace

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

FileNode* BackupTree::FindPath(std::string_view key, std::size_t hash) const {
    if (pathSlots_ == 0) {
        return nullptr;
    }
    const std::size_t mask = pathSlots_ - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const PathSlot& entry = paths_[slot];
        if (entry.Node == nullptr) {
            return nullptr;
        }
        if (entry.Hash == hash && HasPathKey(entry.Node->Path(), key)) {
            return entry.Node;
        }
    }
}

void BackupTree::AddPath(std::size_t hash, FileNode* node) {
    if (2 * (pathsUsed_ + 1) > pathSlots_) {
        const std::size_t oldSlots = pathSlots_;
        const detail::LargeBlock oldMemory = std::move(pathMemory_);
        const auto* old = static_cast<const PathSlot*>(oldMemory.Data());
        pathSlots_ = std::max<std::size_t>(64, 2 * oldSlots);
        pathMemory_ = detail::LargeBlock(pathSlots_ * sizeof(PathSlot));
        paths_ = static_cast<PathSlot*>(pathMemory_.Data()); // zero bytes: every slot empty
        const std::size_t mask = pathSlots_ - 1;
        for (std::size_t i = 0; i < oldSlots; ++i) {
            const PathSlot& entry = old[i];
            if (entry.Node != nullptr) {
                std::size_t slot = entry.Hash & mask;
                while (paths_[slot].Node != nullptr) {
                    slot = (slot + 1) & mask;
                }
                paths_[slot] = entry;
            }
        }
    }
    const std::size_t mask = pathSlots_ - 1;
    std::size_t slot = hash & mask;
    while (paths_[slot].Node != nullptr) {
        slot = (slot + 1) & mask;
    }
    paths_[slot] = {hash, node};
    ++pathsUsed_;
}

void BackupTree::IndexAllPaths() {
    nodes_.ForEachNode([this](FileNode& node) {
        if (&node != root_) {
            AddPath(HashKey(PathKey(node.Path())), &node);
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

void BackupTree::SortAllChildren() {
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
    // The path table, no longer needed, is at least as large (at most half full, 16 bytes a slot): reusing it
    // spares the kernel making and clearing that many fresh pages once more.
    detail::LargeBlock memory = std::move(pathMemory_);
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

const FileNode* BackupTree::FirstWithHash(std::size_t hash) const {
    if (pathSlots_ == 0) {
        return nullptr;
    }
    const std::size_t mask = pathSlots_ - 1;
    for (std::size_t slot = hash & mask; paths_[slot].Node != nullptr; slot = (slot + 1) & mask) {
        if (paths_[slot].Hash == hash) {
            return paths_[slot].Node;
        }
    }
    return nullptr;
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
    if (pathSlots_ != 0 && depth >= 2) {
        const std::size_t mask = pathSlots_ - 1;
        __builtin_prefetch(&paths_[fresh.Scanned.Hash(depth - 1) & mask]);
        if (depth > 2) {
            __builtin_prefetch(&paths_[fresh.Scanned.Hash(depth - 2) & mask]);
        }
    }
    if (queued_ >= 2) {
        QueuedEntry& older = at(1);
        if (const std::size_t count = older.Scanned.Slashes.size(); count > 2) {
            older.Parent = FirstWithHash(older.Scanned.Hash(count - 2));
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
    if (pathSlots_ == 0 && nodes_.NodeCount() > 1) {
        IndexAllPaths();
    }
    const std::string_view key = path.substr(slashes[1]);
    const std::string_view parentKey = key.substr(0, slashes[count - 1] - slashes[1]);
    const std::uint64_t keyHash = scanned.Hash(count - 1);
    const std::uint64_t parentHash = count > 2 ? scanned.Hash(count - 2) : 0;
    if (pathSlots_ != 0) {
        // Both slots are far apart in a large table: fetching them together waits for memory once, not twice.
        const std::size_t mask = pathSlots_ - 1;
        __builtin_prefetch(&paths_[keyHash & mask]);
        __builtin_prefetch(&paths_[parentHash & mask]);
    }
    if (FindPath(key, keyHash) != nullptr) {
        return; // the first node linked for a path wins
    }
    // Most entries go into a folder that exists already; otherwise the missing folders are made on the way down.
    FileNode* folder = root_;
    std::size_t k = 1;
    if (count > 2) {
        if (FileNode* parent = FindPath(parentKey, parentHash); parent != nullptr) {
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
            if (FileNode* existing = FindPath(nodeKey, nodeHash); existing != nullptr) {
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
        AddPath(nodeHash, &fresh);
        folder = &fresh;
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
    paths_ = nullptr;
    pathSlots_ = 0;
    if (bulk_) {
        // Sizes and times are not read by the sort: the last stored files are looked up meanwhile.
        SortAllChildren();
        bulk_ = false;
    }
    if (statusReader_) {
        statusReader_->Finish();
        statusReader_.reset();
    }
    pathMemory_ = {};
    pathsUsed_ = 0;
    indexes_.clear();
    scanned_ = {};
    lookup_.reset();
}

} // namespace marrowick
