#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/LargeBlock.h"
#include "core/backup/SortedChildIndex.h"

#include <memory>
#include <unordered_map>

namespace marrowick {

class NodeArena;

// Links new nodes to their folders with every folder's children in name order: each node as it comes, or, during
// bulk insertion, all of them at once in SortAll.
class ChildLinker final {
public:
    [[nodiscard]] bool Bulk() const { return bulk_; }
    // Until SortAll, a node is only linked to its folder (parent and count) and the lists must not be read.
    void BeginBulk();

    void Link(FileNode& parent, FileNode& node) {
        node.parent_ = &parent;
        ++parent.childCount_;
        if (!bulk_) {
            LinkInOrder(parent, node);
        }
    }

    // Makes every folder's list from the parent links and ends bulk linking. spare is memory the sort may use.
    void SortAll(NodeArena& nodes, detail::LargeBlock spare);
    // Frees what only speeds up linking into large folders.
    void DropIndexes() { indexes_.clear(); }

private:
    void LinkInOrder(FileNode& parent, FileNode& node);
    SortedChildIndex& IndexOf(FileNode& folder);

    bool bulk_ = false;
    std::unordered_map<const FileNode*, std::unique_ptr<SortedChildIndex>> indexes_;
};

} // namespace marrowick
