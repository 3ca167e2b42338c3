#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/LargeBlock.h"

#include <cstddef>
#include <string_view>

namespace marrowick {

// A node is known by its path from the second "/" on: the first component always stands for the root.
[[nodiscard]] inline std::string_view PathKey(std::string_view path) {
    return path.substr(path.find('/', path.find('/') + 1));
}

// PathKey(path) == key, looking at the few bytes before the key instead of searching the whole path.
[[nodiscard]] inline bool HasPathKey(std::string_view path, std::string_view key) {
    if (!path.ends_with(key)) {
        return false;
    }
    const std::string_view head = path.substr(0, path.size() - key.size());
    const std::size_t slash = head.find('/');
    return slash != std::string_view::npos && head.find('/', slash + 1) == std::string_view::npos;
}

// Nodes by the HashKey of their PathKey, so that inserting finds a path's node in constant time. Open addressing,
// at most half full; it holds no memory until the first Add and after Release.
class PathTable final {
public:
    [[nodiscard]] bool Empty() const { return slotCount_ == 0; }

    // The node whose PathKey is key, or null; hash is HashKey(key).
    [[nodiscard]] FileNode* Find(std::string_view key, std::size_t hash) const {
        if (slotCount_ == 0) {
            return nullptr;
        }
        const std::size_t mask = slotCount_ - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const Slot& entry = slots_[slot];
            if (entry.Node == nullptr) {
                return nullptr;
            }
            if (entry.Hash == hash && HasPathKey(entry.Node->Path(), key)) {
                return entry.Node;
            }
        }
    }

    // The first node added with hash, its path unchecked: a likely answer for fetching its memory early.
    [[nodiscard]] const FileNode* FirstWithHash(std::size_t hash) const {
        if (slotCount_ == 0) {
            return nullptr;
        }
        const std::size_t mask = slotCount_ - 1;
        for (std::size_t slot = hash & mask; slots_[slot].Node != nullptr; slot = (slot + 1) & mask) {
            if (slots_[slot].Hash == hash) {
                return slots_[slot].Node;
            }
        }
        return nullptr;
    }

    // Starts fetching the slot where a search for hash begins. Only when not Empty.
    void Prefetch(std::size_t hash) const { __builtin_prefetch(&slots_[hash & (slotCount_ - 1)]); }

    // node must not be in the table yet.
    void Add(std::size_t hash, FileNode* node) {
        if (2 * (used_ + 1) > slotCount_) {
            Grow();
        }
        const std::size_t mask = slotCount_ - 1;
        std::size_t slot = hash & mask;
        while (slots_[slot].Node != nullptr) {
            slot = (slot + 1) & mask;
        }
        slots_[slot] = {hash, node};
        ++used_;
    }

    // Empties the table and hands over its memory, which may serve as scratch space.
    [[nodiscard]] detail::LargeBlock Release();

private:
    struct Slot {
        std::size_t Hash = 0;
        FileNode* Node = nullptr;
    };

    void Grow();

    detail::LargeBlock memory_;
    Slot* slots_ = nullptr;
    std::size_t slotCount_ = 0;
    std::size_t used_ = 0;
};

} // namespace marrowick
