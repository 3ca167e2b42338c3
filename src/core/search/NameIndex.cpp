#include "core/search/NameIndex.h"

#include "core/backup/TextConversion.h"
#include "core/backup/TreeWalk.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace marrowick {
namespace {} // namespace

NameIndex::NameIndex(const FileNode& root) : root_(&root), next_(root.FirstChild()) {}

Result<void> NameIndex::ReadMore(std::size_t count) {
    const std::size_t namesBefore = names_.size();
    const std::size_t nodesBefore = nodes_.size();
    const FileNode* const nextBefore = next_;
    try {
        for (; count != 0 && next_ != nullptr; --count) {
            Append(*next_);
            next_ = NextBelow(*root_, *next_);
        }
        return {};
    } catch (const std::bad_alloc&) {
        names_.resize(namesBefore);
        ends_.resize(nodesBefore);
        nodes_.resize(nodesBefore);
        next_ = nextBefore;
        return Failure::Because(FailureStep::Read, {}, FailureCause::OutOfMemory);
    }
}

void NameIndex::Append(const FileNode& node) {
    const std::size_t start = names_.size();
    names_.append(node.Name());
    std::transform(names_.begin() + static_cast<std::ptrdiff_t>(start), names_.end(),
                   names_.begin() + static_cast<std::ptrdiff_t>(start), AsciiLower);
    names_.push_back('/');
    ends_.push_back(names_.size() - 1);
    nodes_.push_back(&node);
}

} // namespace marrowick
