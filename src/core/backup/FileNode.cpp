#include "core/backup/FileNode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace marrowick {

const FileNode* CurrentRoot = nullptr;
std::string CurrentBackupPath;
int CurrentManifestKind = ManifestKindDb;

namespace {

// Below this many children a folder is searched along its list; from it on, through a SortedChildIndex.
constexpr std::uint32_t IndexThreshold = 8;
constexpr std::size_t FirstNodeChunk = 64;
constexpr std::size_t MaxNodeChunk = 4096;
constexpr std::size_t FirstTextChunk = 4096;
constexpr std::size_t MaxTextChunk = 256 * 1024;

constexpr char RootPath[] = "/var";
constexpr char Digits[] = "0123456789";

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

BackupTree::BackupTree(std::string backupFolder, int manifestKind)
    : backupFolder_(std::move(backupFolder)), manifestKind_(manifestKind) {
    if (backupFolder_.empty() || backupFolder_.back() != '/') {
        backupFolder_.push_back('/');
    }
    root_ = NewNode();
    root_->path_ = RootPath;
    root_->pathLength_ = 4;
    root_->nameOffset_ = 1;
    root_->flags_ = Digits + 2;
    root_->flagsLength_ = 1;
}

BackupTree::~BackupTree() = default;

FileNode* BackupTree::NewNode() {
    if (nodesLeftInChunk_ == 0) {
        const std::size_t size =
            std::min(MaxNodeChunk, FirstNodeChunk << std::min<std::size_t>(nodeChunks_.size(), 16));
        nodeChunks_.push_back({std::make_unique<FileNode[]>(size), size});
        nodesLeftInChunk_ = size;
    }
    ++nodeCount_;
    NodeChunk& chunk = nodeChunks_.back();
    return &chunk.Nodes[chunk.Size - nodesLeftInChunk_--];
}

const char* BackupTree::CopyText(std::string_view text) {
    if (text.empty()) {
        return nullptr;
    }
    if (text.size() > textLeft_) {
        const std::size_t size =
            std::min(MaxTextChunk, FirstTextChunk << std::min<std::size_t>(textChunks_.size(), 16));
        if (text.size() > size / 4) {
            // A long text gets a block of its own, so that the current block's room is not wasted.
            textChunks_.push_back(std::make_unique<char[]>(text.size()));
            std::memcpy(textChunks_.back().get(), text.data(), text.size());
            return textChunks_.back().get();
        }
        textChunks_.push_back(std::make_unique<char[]>(size));
        textNext_ = textChunks_.back().get();
        textLeft_ = size;
    }
    char* copy = textNext_;
    std::memcpy(copy, text.data(), text.size());
    textNext_ += text.size();
    textLeft_ -= text.size();
    return copy;
}

std::string_view BackupTree::InternFlags(std::string_view flags) {
    if (flags.size() == 1 && flags[0] >= '0' && flags[0] <= '9') {
        return {Digits + (flags[0] - '0'), 1};
    }
    return {CopyText(flags), flags.size()};
}

void BackupTree::ReadStoredFileStatus(FileNode& node) {
    const std::string_view fileId = node.FileID();
    if (fileId.empty()) {
        return;
    }
    statPath_.assign(backupFolder_);
    statPath_.append(fileId.substr(0, 2));
    statPath_.push_back('/');
    statPath_.append(fileId);
    struct stat status {};
    if (::stat(statPath_.c_str(), &status) == 0) {
        node.size_ = static_cast<std::uint32_t>(status.st_size);
        node.mtime_ = status.st_mtim.tv_sec;
    }
}

FileNode* BackupTree::FindPath(std::string_view key, std::size_t hash) const {
    if (paths_.empty()) {
        return nullptr;
    }
    const std::size_t mask = paths_.size() - 1;
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
    if (2 * (pathsUsed_ + 1) > paths_.size()) {
        std::vector<PathSlot> old(std::max<std::size_t>(64, 2 * paths_.size()));
        old.swap(paths_);
        const std::size_t mask = paths_.size() - 1;
        for (const PathSlot& entry : old) {
            if (entry.Node != nullptr) {
                std::size_t slot = entry.Hash & mask;
                while (paths_[slot].Node != nullptr) {
                    slot = (slot + 1) & mask;
                }
                paths_[slot] = entry;
            }
        }
    }
    const std::size_t mask = paths_.size() - 1;
    std::size_t slot = hash & mask;
    while (paths_[slot].Node != nullptr) {
        slot = (slot + 1) & mask;
    }
    paths_[slot] = {hash, node};
    ++pathsUsed_;
}

void BackupTree::IndexAllPaths() {
    for (const NodeChunk& chunk : nodeChunks_) {
        const std::size_t used = &chunk == &nodeChunks_.back() ? chunk.Size - nodesLeftInChunk_ : chunk.Size;
        for (std::size_t i = 0; i < used; ++i) {
            FileNode* node = &chunk.Nodes[i];
            if (node != root_) {
                AddPath(std::hash<std::string_view>{}(PathKey(node->Path())), node);
            }
        }
    }
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
    FileNode* last = parent.lastChild_;
    if (last == nullptr) {
        parent.firstChild_ = &node;
        parent.lastChild_ = &node;
        return;
    }
    // Manifests are often sorted: a name after the last child is appended without a search.
    if (bulk_ || last->Name() < node.Name()) {
        last->nextSibling_ = &node;
        parent.lastChild_ = &node;
        if (!bulk_ && parent.childCount_ > IndexThreshold) {
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

// The first 8 bytes of a name, most significant first and zero-padded: keys that differ order their names.
std::uint64_t NameKey(std::string_view name) {
    std::uint64_t key = 0;
    const std::size_t n = std::min<std::size_t>(name.size(), 8);
    for (std::size_t i = 0; i < 8; ++i) {
        key = (key << 8) | (i < n ? static_cast<unsigned char>(name[i]) : 0U);
    }
    return key;
}

} // namespace

void BackupTree::SortAllChildren() {
    struct Keyed {
        std::uint64_t Key;
        FileNode* Node;
    };
    const auto before = [](const Keyed& a, const Keyed& b) {
        return a.Key != b.Key ? a.Key < b.Key : a.Node->Name() < b.Node->Name();
    };
    std::vector<Keyed> children;
    for (const NodeChunk& chunk : nodeChunks_) {
        const std::size_t used = &chunk == &nodeChunks_.back() ? chunk.Size - nodesLeftInChunk_ : chunk.Size;
        for (std::size_t i = 0; i < used; ++i) {
            FileNode& folder = chunk.Nodes[i];
            if (folder.firstChild_ == folder.lastChild_) {
                continue;
            }
            children.clear();
            for (FileNode* child = folder.firstChild_; child != nullptr; child = child->nextSibling_) {
                children.push_back({NameKey(child->Name()), child});
            }
            if (!std::is_sorted(children.begin(), children.end(), before)) {
                std::sort(children.begin(), children.end(), before);
            }
            folder.firstChild_ = children.front().Node;
            for (std::size_t c = 0; c + 1 < children.size(); ++c) {
                children[c].Node->nextSibling_ = children[c + 1].Node;
            }
            children.back().Node->nextSibling_ = nullptr;
            folder.lastChild_ = children.back().Node;
        }
    }
}

void BackupTree::InsertIntoTree(const FileEntry& entry) {
    const std::string_view path = entry.Path;
    if (path.size() > std::numeric_limits<std::uint32_t>::max()) {
        return;
    }
    slashes_.clear();
    for (const char* at = path.data(); at != nullptr;) {
        const auto* slash = static_cast<const char*>(std::memchr(at, '/', path.size() - (at - path.data())));
        if (slash != nullptr) {
            slashes_.push_back(static_cast<std::size_t>(slash - path.data()));
            at = slash + 1;
        } else {
            at = nullptr;
        }
    }
    const std::size_t count = slashes_.size();
    if (count < 2) {
        return;
    }
    if (paths_.empty() && nodeCount_ > 1) {
        IndexAllPaths();
    }
    const std::hash<std::string_view> hasher;
    const std::string_view key = path.substr(slashes_[1]);
    const std::size_t keyHash = hasher(key);
    if (FindPath(key, keyHash) != nullptr) {
        return; // the first node linked for a path wins
    }
    // Most entries go into a folder that exists already; otherwise the missing folders are made on the way down.
    FileNode* folder = root_;
    std::size_t k = 1;
    if (count > 2) {
        const std::string_view parentKey = key.substr(0, slashes_[count - 1] - slashes_[1]);
        if (FileNode* parent = FindPath(parentKey, hasher(parentKey)); parent != nullptr) {
            folder = parent;
            k = count - 1;
        }
    }
    const char* stored = nullptr; // the path's copy in the tree, made when the first new node needs it
    for (; k < count; ++k) {
        const std::size_t end = k + 1 < count ? slashes_[k + 1] : path.size();
        const bool leaf = k + 1 == count;
        const std::string_view nodeKey = key.substr(0, end - slashes_[1]);
        const std::size_t nodeHash = leaf ? keyHash : hasher(nodeKey);
        if (!leaf) {
            if (FileNode* existing = FindPath(nodeKey, nodeHash); existing != nullptr) {
                folder = existing;
                continue;
            }
        }
        if (stored == nullptr) {
            stored = CopyText(path);
        }
        FileNode& fresh = *NewNode();
        fresh.path_ = stored;
        fresh.pathLength_ = static_cast<std::uint32_t>(end);
        fresh.nameOffset_ = static_cast<std::uint32_t>(slashes_[k] + 1);
        if (leaf) {
            fresh.fileId_ = CopyText(entry.FileID);
            fresh.fileIdLength_ = static_cast<std::uint32_t>(entry.FileID.size());
            const std::string_view flags = InternFlags(entry.Flags);
            fresh.flags_ = flags.data();
            fresh.flagsLength_ = static_cast<std::uint32_t>(flags.size());
            fresh.size_ = entry.Size;
            fresh.mtime_ = entry.MTime;
            if (manifestKind_ == ManifestKindDb && !fresh.IsFolder()) {
                ReadStoredFileStatus(fresh);
            }
        } else {
            fresh.flags_ = Digits + 2;
            fresh.flagsLength_ = 1;
        }
        LinkChild(*folder, fresh);
        AddPath(nodeHash, &fresh);
        folder = &fresh;
    }
}

void BackupTree::BeginBulkInsertion() {
    bulk_ = true;
    indexes_.clear();
}

void BackupTree::FinishInsertion() {
    paths_ = {};
    if (bulk_) {
        SortAllChildren();
        bulk_ = false;
    }
    pathsUsed_ = 0;
    indexes_.clear();
    slashes_ = {};
    statPath_ = {};
}

bool IsUnder(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

const FileNode* FindNode(const FileNode* root, std::string_view path) {
    const FileNode* node = root;
    while (node != nullptr) {
        if (node->Path() == path) {
            return node;
        }
        node = IsUnder(path, node->Path()) ? node->FirstChild() : node->NextSibling();
    }
    return nullptr;
}

const FileNode* FindNode(std::string_view path) {
    return FindNode(CurrentRoot, path);
}

} // namespace marrowick
