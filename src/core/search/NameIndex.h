#pragma once

#include "core/backup/FileNode.h"
#include "core/platform/Result.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace marrowick {

// The names of the nodes below a folder in the tree's order, ASCII letters in lower case, one after another in
// one block, each followed by "/" (which no name holds). A search box searches the same tree again at every key;
// reading this block straight through takes a fraction of the time of following a million nodes' links, which
// lie all over memory. About 35 bytes per node for a million nodes. Read a part at a time, so that a search can
// test the names read so far while the rest are still to come.
class NameIndex final {
public:
    // Holds no name yet.
    explicit NameIndex(const FileNode& root);

    // Reads up to count more names, continuing the tree's order. Fails only when memory runs out; the index then
    // holds what it held before.
    [[nodiscard]] Result<void> ReadMore(std::size_t count);
    // True once every node below root (not root itself) has been read.
    [[nodiscard]] bool Complete() const { return next_ == nullptr; }

    [[nodiscard]] const FileNode* Root() const { return root_; }
    [[nodiscard]] std::size_t Size() const { return nodes_.size(); }
    [[nodiscard]] const FileNode* Node(std::size_t i) const { return nodes_[i]; }
    // Where name i starts in the block; Start(Size()) is the block's end.
    [[nodiscard]] std::size_t Start(std::size_t i) const { return i == 0 ? 0 : ends_[i - 1] + 1; }
    // The lower-cased name of node i, without its "/".
    [[nodiscard]] std::string_view Name(std::size_t i) const {
        return std::string_view(names_).substr(Start(i), ends_[i] - Start(i));
    }
    // Names first to last - 1, each with its "/".
    [[nodiscard]] std::string_view Names(std::size_t first, std::size_t last) const {
        return std::string_view(names_).substr(Start(first), Start(last) - Start(first));
    }

private:
    void Append(const FileNode& node);

    const FileNode* root_;
    const FileNode* next_; // the next node to read; null once all are read
    std::string names_;
    std::vector<std::size_t> ends_; // where each name's "/" is
    std::vector<const FileNode*> nodes_;
};

} // namespace marrowick
