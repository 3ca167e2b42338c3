#pragma once

#include "core/backup/FileNode.h"
#include "core/search/NameIndex.h"
#include "core/search/SearchQuery.h"

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <stop_token>

namespace marrowick {

// A search hands its matches over in batches: the first as soon as there is one, so that a person sees results at
// once, then ever larger ones, so that a million matches cost few hand-overs. Matches waiting while many names
// pass without filling a batch are handed over anyway, so that rare matches show while the search goes on.
struct SearchBatching {
    std::size_t FirstBatch = 1;
    std::size_t LargestBatch = 4096; // at most 4096
    std::size_t NamesBeforeHandOver = 65536;
    // Matches beyond this many are not looked for; the outcome says so.
    std::size_t MaxMatches = 100000;
};

struct SearchOutcome {
    std::size_t Matches = 0; // handed to the callback
    bool Capped = false;     // stopped at MaxMatches: more entries may match
    bool Cancelled = false;  // stopped because stop was requested
};

// Receives matches in the tree's order; the span is valid only during the call.
using SearchBatchFunction = std::function<void(std::span<const FileNode* const> matches)>;

// One search through the names of an index, folders and files alike, a range at a time, so that it can follow an
// index still being read. Matching nodes go to deliver in batches, in the order of the ranges given. query and
// deliver must outlive the search. Allocates nothing; whatever deliver throws passes through.
class NameSearch final {
public:
    NameSearch(const SearchQuery& query, const SearchBatchFunction& deliver, const SearchBatching& batching = {});

    // Tests names first to last - 1. Polls stop every thousand names or so, which takes microseconds. False once
    // the search has stopped, for stop or for the cap; later calls then test nothing.
    bool Search(const NameIndex& index, std::size_t first, std::size_t last, const std::stop_token& stop);
    // Hands over the matches still waiting and tells how the search went.
    SearchOutcome Finish();

private:
    static constexpr std::size_t BatchCapacity = 4096;

    bool SearchStretch(const NameIndex& index, std::size_t first, std::size_t last);
    bool FindInStretch(const NameIndex& index, std::size_t first, std::size_t last);
    bool Add(const FileNode* node);
    void HandOver();

    const SearchQuery& query_;
    const SearchBatchFunction& deliver_;
    // Nothing can match: the query is empty, or its text holds a "/", which no name holds.
    bool hopeless_;
    bool stopped_ = false;
    std::array<const FileNode*, BatchCapacity> batch_{};
    std::size_t count_ = 0;
    std::size_t limit_;
    std::size_t largest_;
    std::size_t patience_;
    std::size_t max_;
    std::size_t waited_ = 0;
    SearchOutcome outcome_;
};

// The whole index at once.
SearchOutcome SearchNames(const NameIndex& index, const SearchQuery& query, const std::stop_token& stop,
                          const SearchBatchFunction& deliver, const SearchBatching& batching = {});

} // namespace marrowick
