#include "core/backup/NodeArena.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace marrowick {

namespace {

constexpr std::size_t FirstNodeChunk = 64;
constexpr std::size_t MaxNodeChunk = 4096;
constexpr std::size_t FirstTextChunk = 4096;
constexpr std::size_t MaxTextChunk = std::size_t{256} * 1024;

static_assert(std::is_trivially_destructible_v<FileNode>, "node chunks are released without destroying nodes");

} // namespace

void NodeArena::AddNodeChunk() {
    const std::size_t size = std::min(MaxNodeChunk, FirstNodeChunk << std::min<std::size_t>(nodeChunks_.size(), 16));
    detail::LargeBlock memory(size * sizeof(FileNode));
    auto* nodes = static_cast<FileNode*>(memory.Data());
    nodeChunks_.push_back({std::move(memory), nodes, size});
    nodesLeftInChunk_ = size;
}

const char* NodeArena::CopyTextToNewChunk(std::string_view text) {
    const std::size_t size = std::min(MaxTextChunk, FirstTextChunk << std::min<std::size_t>(textChunks_.size(), 16));
    if (text.size() > size / 4) {
        // A long text gets a block of its own, so that the current block's room is not wasted.
        textChunks_.emplace_back(text.size());
        auto* copy = static_cast<char*>(textChunks_.back().Data());
        std::memcpy(copy, text.data(), text.size());
        return copy;
    }
    textChunks_.emplace_back(size);
    textNext_ = static_cast<char*>(textChunks_.back().Data());
    textLeft_ = size;
    return CopyText(text);
}

} // namespace marrowick
