#include "core/search/EntrySearch.h"

#include "core/backup/TreeWalk.h"

#include <algorithm>
#include <array>

namespace marrowick {
namespace {

// A batch lives on the stack, so that a search allocates nothing.
constexpr std::size_t BatchCapacity = 4096;
// Checking stop costs an atomic load; a few hundred names take microseconds.
constexpr std::size_t NodesBetweenStopChecks = 256;

// Collects matches and hands them over when a batch is full or has waited long enough.
class BatchCollector final {
public:
    BatchCollector(const SearchBatching& batching, const SearchBatchFunction& deliver)
        : deliver_(deliver), limit_(std::clamp<std::size_t>(batching.FirstBatch, 1, BatchCapacity)),
          largest_(std::clamp<std::size_t>(batching.LargestBatch, 1, BatchCapacity)),
          patience_(std::max<std::size_t>(batching.NodesBeforeHandOver, 1)) {}

    void Add(const FileNode* node) {
        batch_[count_++] = node;
        if (count_ >= limit_) {
            HandOver();
            limit_ = std::min(limit_ * 2, largest_);
        }
    }
    // Called for every node tested.
    void Passed() {
        if (count_ != 0 && ++waited_ >= patience_) {
            HandOver();
        }
    }
    void HandOver() {
        if (count_ != 0) {
            deliver_(std::span<const FileNode* const>(batch_.data(), count_));
        }
        count_ = 0;
        waited_ = 0;
    }

private:
    const SearchBatchFunction& deliver_;
    std::array<const FileNode*, BatchCapacity> batch_{};
    std::size_t count_ = 0;
    std::size_t limit_;
    std::size_t largest_;
    std::size_t patience_;
    std::size_t waited_ = 0;
};

} // namespace

SearchOutcome SearchBelow(const FileNode& root, const SearchQuery& query, std::stop_token stop,
                          const SearchBatchFunction& deliver, const SearchBatching& batching) {
    SearchOutcome outcome;
    if (query.Empty() || batching.MaxMatches == 0) {
        return outcome;
    }
    BatchCollector collector(batching, deliver);
    std::size_t untilStopCheck = NodesBetweenStopChecks;
    ForEachBelowWhile(root, [&](const FileNode& node) {
        if (--untilStopCheck == 0) {
            untilStopCheck = NodesBetweenStopChecks;
            if (stop.stop_requested()) {
                outcome.Cancelled = true;
                return false;
            }
        }
        if (!query.Matches(node.Name())) {
            collector.Passed();
            return true;
        }
        if (outcome.Matches == batching.MaxMatches) {
            outcome.Capped = true;
            return false;
        }
        ++outcome.Matches;
        collector.Add(&node);
        return true;
    });
    collector.HandOver();
    return outcome;
}

} // namespace marrowick
