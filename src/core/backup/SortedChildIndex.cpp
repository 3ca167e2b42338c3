#include "core/backup/SortedChildIndex.h"

#include <algorithm>
#include <utility>

namespace marrowick {

SortedChildIndex::SortedChildIndex(FileNode* firstChild) {
    runs_.emplace_back();
    for (FileNode* child = firstChild; child != nullptr; child = child->nextSibling_) {
        Append(child);
    }
}

void SortedChildIndex::Append(FileNode* child) {
    if (runs_.back().size() >= MaxRun) {
        runs_.emplace_back();
        runs_.back().reserve(MaxRun);
    }
    runs_.back().push_back(child);
}

SortedChildIndex::Position SortedChildIndex::LowerBound(std::string_view name) const {
    const auto run = std::partition_point(runs_.begin(), runs_.end() - 1,
                                          [name](const std::vector<FileNode*>& r) { return r.back()->Name() < name; });
    const auto at =
        std::partition_point(run->begin(), run->end(), [name](const FileNode* child) { return child->Name() < name; });
    return {static_cast<std::size_t>(run - runs_.begin()), static_cast<std::size_t>(at - run->begin())};
}

FileNode* SortedChildIndex::Before(Position p) const {
    if (p.Offset > 0) {
        return runs_[p.Run][p.Offset - 1];
    }
    return p.Run > 0 ? runs_[p.Run - 1].back() : nullptr;
}

void SortedChildIndex::Insert(Position p, FileNode* child) {
    auto& run = runs_[p.Run];
    run.insert(run.begin() + static_cast<std::ptrdiff_t>(p.Offset), child);
    if (run.size() > 2 * MaxRun) {
        std::vector<FileNode*> upper(run.begin() + MaxRun, run.end());
        run.resize(MaxRun);
        runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(p.Run) + 1, std::move(upper));
    }
}

} // namespace marrowick
