#pragma once

#include "core/backup/FileNode.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace marrowick {

// The children of one large folder in name order, kept in short sorted runs so that an insertion moves at most
// one run.
class SortedChildIndex final {
public:
    struct Position {
        std::size_t Run;
        std::size_t Offset;
    };

    // Indexes the folder's list as it stands, which must be in name order.
    explicit SortedChildIndex(FileNode* firstChild);

    // child's name follows every name indexed.
    void Append(FileNode* child);
    // The place of the first child whose name is not below name.
    [[nodiscard]] Position LowerBound(std::string_view name) const;
    // The child before p, or null when p is the first place.
    [[nodiscard]] FileNode* Before(Position p) const;
    void Insert(Position p, FileNode* child);

private:
    static constexpr std::size_t MaxRun = 256;
    std::vector<std::vector<FileNode*>> runs_;
};

} // namespace marrowick
