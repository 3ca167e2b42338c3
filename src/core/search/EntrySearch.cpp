#include "core/search/EntrySearch.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace marrowick {
namespace {

// Names are tested a stretch at a time, stop checked between stretches: a stretch takes tens of microseconds.
constexpr std::size_t NamesPerStretch = 1024;

} // namespace

NameSearch::NameSearch(const SearchQuery& query, const SearchBatchFunction& deliver, const SearchBatching& batching)
    : query_(query), deliver_(deliver),
      hopeless_(query.Empty() || (!query.IsPattern() && query.Text().find('/') != std::string::npos)),
      limit_(std::clamp<std::size_t>(batching.FirstBatch, 1, BatchCapacity)),
      largest_(std::clamp<std::size_t>(batching.LargestBatch, 1, BatchCapacity)),
      patience_(std::max<std::size_t>(batching.NamesBeforeHandOver, 1)), max_(batching.MaxMatches) {}

bool NameSearch::Search(const NameIndex& index, std::size_t first, std::size_t last, const std::stop_token& stop) {
    if (hopeless_) {
        return true;
    }
    last = std::min(last, index.Size());
    while (!stopped_ && first < last) {
        if (stop.stop_requested()) {
            outcome_.Cancelled = true;
            stopped_ = true;
            break;
        }
        const std::size_t end = std::min(first + NamesPerStretch, last);
        stopped_ = !SearchStretch(index, first, end);
        waited_ += end - first;
        if (count_ != 0 && waited_ >= patience_) {
            HandOver();
        }
        first = end;
    }
    return !stopped_;
}

SearchOutcome NameSearch::Finish() {
    HandOver();
    return outcome_;
}

bool NameSearch::SearchStretch(const NameIndex& index, std::size_t first, std::size_t last) {
    if (!query_.IsPattern()) {
        return FindInStretch(index, first, last);
    }
    for (std::size_t i = first; i < last; ++i) {
        if (query_.Matches(index.Name(i)) && !Add(index.Node(i))) {
            return false;
        }
    }
    return true;
}

// Looks for the text in the stretch's names at once: they are one block, and a match cannot run from one name into
// the next, since the text holds no "/".
bool NameSearch::FindInStretch(const NameIndex& index, std::size_t first, std::size_t last) {
    const std::string& text = query_.Text();
    const std::string_view names = index.Names(first, last);
    const std::size_t base = index.Start(first);
    std::size_t at = 0;
    std::size_t node = first;
    while (at < names.size()) {
        const void* found = memmem(names.data() + at, names.size() - at, text.data(), text.size());
        if (found == nullptr) {
            break;
        }
        const auto offset = static_cast<std::size_t>(static_cast<const char*>(found) - names.data());
        while (index.Start(node + 1) - base <= offset) {
            ++node;
        }
        if (!Add(index.Node(node))) {
            return false;
        }
        ++node;
        at = index.Start(node) - base;
    }
    return true;
}

// False, and nothing kept, when the most matches are kept already.
bool NameSearch::Add(const FileNode* node) {
    if (outcome_.Matches == max_) {
        outcome_.Capped = true;
        return false;
    }
    ++outcome_.Matches;
    batch_[count_++] = node;
    if (count_ >= limit_) {
        HandOver();
        limit_ = std::min(limit_ * 2, largest_);
    }
    return true;
}

void NameSearch::HandOver() {
    if (count_ != 0) {
        deliver_(std::span<const FileNode* const>(batch_.data(), count_));
    }
    count_ = 0;
    waited_ = 0;
}

SearchOutcome SearchNames(const NameIndex& index, const SearchQuery& query, const std::stop_token& stop,
                          const SearchBatchFunction& deliver, const SearchBatching& batching) {
    NameSearch search(query, deliver, batching);
    (void)search.Search(index, 0, index.Size(), stop);
    return search.Finish();
}

} // namespace marrowick
