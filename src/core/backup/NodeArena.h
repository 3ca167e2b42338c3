#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/LargeBlock.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace marrowick {

// Where a tree's nodes and texts live: blocks that grow up to a fixed size and are freed all at once, so that a
// million nodes cost neither a million allocations nor a destructor walk.
class NodeArena final {
public:
    // A default node, valid as long as the arena.
    [[nodiscard]] FileNode* NewNode() {
        if (nodesLeftInChunk_ == 0) {
            AddNodeChunk();
        }
        ++nodeCount_;
        NodeChunk& chunk = nodeChunks_.back();
        return new (&chunk.Nodes[chunk.Size - nodesLeftInChunk_--]) FileNode();
    }

    // A copy of text, without a terminating zero; null for an empty text.
    [[nodiscard]] const char* CopyText(std::string_view text) {
        if (text.empty()) {
            return nullptr;
        }
        if (text.size() > textLeft_) {
            return CopyTextToNewChunk(text);
        }
        char* copy = textNext_;
        std::memcpy(copy, text.data(), text.size());
        textNext_ += text.size();
        textLeft_ -= text.size();
        return copy;
    }

    [[nodiscard]] std::size_t NodeCount() const { return nodeCount_; }

    // Visits every node in the order they were made, which is the order they lie in memory.
    template <typename Visit>
    void ForEachNode(Visit&& visit) {
        for (const NodeChunk& chunk : nodeChunks_) {
            const std::size_t used = &chunk == &nodeChunks_.back() ? chunk.Size - nodesLeftInChunk_ : chunk.Size;
            for (std::size_t i = 0; i < used; ++i) {
                visit(chunk.Nodes[i]);
            }
        }
    }

private:
    struct NodeChunk {
        detail::LargeBlock Memory;
        FileNode* Nodes = nullptr;
        std::size_t Size = 0;
    };

    void AddNodeChunk();
    const char* CopyTextToNewChunk(std::string_view text);

    std::vector<NodeChunk> nodeChunks_;
    std::size_t nodesLeftInChunk_ = 0;
    std::size_t nodeCount_ = 0;
    std::vector<detail::LargeBlock> textChunks_;
    char* textNext_ = nullptr;
    std::size_t textLeft_ = 0;
};

} // namespace marrowick
