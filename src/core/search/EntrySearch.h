#pragma once

#include "core/backup/FileNode.h"
#include "core/search/SearchQuery.h"

#include <cstddef>
#include <functional>
#include <span>
#include <stop_token>

namespace marrowick {

// A search hands its matches over in batches: the first as soon as there is one, so that a person sees results at
// once, then ever larger ones, so that a million matches cost few hand-overs. Matches waiting while many nodes
// pass without filling a batch are handed over anyway, so that rare matches show while the search goes on.
struct SearchBatching {
    std::size_t FirstBatch = 1;
    std::size_t LargestBatch = 4096;
    std::size_t NodesBeforeHandOver = 65536;
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

// Tests the name of every node below root (not root itself), folders and files, in the tree's order (each folder
// before its children), and hands the matching nodes to deliver in batches. Polls stop every few hundred nodes, so
// a request takes effect within a millisecond or so; matches found before it are still handed over. Allocates
// nothing; whatever deliver throws passes through. The nodes must not change meanwhile (they never do once read).
SearchOutcome SearchBelow(const FileNode& root, const SearchQuery& query, std::stop_token stop,
                          const SearchBatchFunction& deliver, const SearchBatching& batching = {});

} // namespace marrowick
