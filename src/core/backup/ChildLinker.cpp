#include "core/backup/ChildLinker.h"

#include "core/backup/NodeArena.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace marrowick {

namespace {

// Below this many children a folder is searched along its list; from it on, through a SortedChildIndex.
constexpr std::uint32_t IndexThreshold = 8;

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

void ChildLinker::BeginBulk() {
    bulk_ = true;
    indexes_.clear();
}

void ChildLinker::LinkInOrder(FileNode& parent, FileNode& node) {
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

SortedChildIndex& ChildLinker::IndexOf(FileNode& folder) {
    auto& index = indexes_[&folder];
    if (!index) {
        index = std::make_unique<SortedChildIndex>(folder.firstChild_);
    }
    return *index;
}

void ChildLinker::SortAll(NodeArena& nodes, detail::LargeBlock spare) {
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
    if (memory.Size() < nodes.NodeCount() * sizeof(Keyed)) {
        memory = detail::LargeBlock(nodes.NodeCount() * sizeof(Keyed));
    }
    auto* children = static_cast<Keyed*>(memory.Data());
    std::uint32_t next = 0;
    nodes.ForEachNode([&next](FileNode& node) {
        const std::uint32_t count = node.childCount_;
        node.childCount_ = next; // where the node's children go, advanced past each one placed
        next += count;
    });
    nodes.ForEachNode([&children](FileNode& node) {
        if (node.parent_ != nullptr) {
            const std::string_view name = node.Name();
            children[node.parent_->childCount_++] = {NameWord(name, 0), NameWord(name, 8), &node};
        }
    });
    std::uint32_t begin = 0;
    nodes.ForEachNode([&](FileNode& folder) {
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
    bulk_ = false;
}

} // namespace marrowick
