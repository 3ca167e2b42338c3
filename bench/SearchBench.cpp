// Searches the tree of the largest synthetic backup by name, as the file manager's search box does, and compares
// it with a plain loop doing a case-insensitive find of the same text in each of the same names. The loop starts
// from a vector of the names, made once; the search either from the tree's NameIndex, made once (what every
// search after the first of a tree does), or reading the index as it searches (the first search of a tree).

#include "BackupGenerator.h"

#include "core/backup/BackupTreeCache.h"
#include "core/backup/TreeWalk.h"
#include "core/search/EntrySearch.h"
#include "core/search/NameIndex.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace marrowick;
using Clock = std::chrono::steady_clock;

// As many as the file manager's search reads between two checks for a stop.
constexpr std::size_t NamesPerRead = 16384;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Timing {
    double FirstBatchMs = 0;
    double TotalMs = 0;
    std::size_t Matches = 0;
};

// Uncapped, so that the search does the same work as the loop.
SearchBatching Uncapped() {
    SearchBatching batching;
    batching.MaxMatches = std::numeric_limits<std::size_t>::max();
    return batching;
}

// index null: the first search of the tree, reading the index as it goes.
Timing TimeSearch(const FileNode& root, const NameIndex* index, const std::string& text) {
    Timing timing;
    const SearchQuery query(text);
    std::optional<double> first;
    const auto start = Clock::now();
    const SearchBatchFunction deliver = [&](std::span<const FileNode* const>) {
        if (!first) {
            first = MillisecondsSince(start);
        }
    };
    NameSearch search(query, deliver, Uncapped());
    if (index != nullptr) {
        (void)search.Search(*index, 0, index->Size(), std::stop_token());
    } else {
        NameIndex growing(root);
        while (!growing.Complete()) {
            const std::size_t before = growing.Size();
            if (!growing.ReadMore(NamesPerRead)) {
                std::fprintf(stderr, "memory ran out\n");
                std::exit(1);
            }
            (void)search.Search(growing, before, growing.Size(), std::stop_token());
        }
    }
    timing.Matches = search.Finish().Matches;
    timing.TotalMs = MillisecondsSince(start);
    timing.FirstBatchMs = first.value_or(timing.TotalMs);
    return timing;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The baseline: the names already in a vector, each searched with std::search and the same ASCII folding.
Timing TimeLoop(const std::vector<std::string_view>& names, const std::string& text) {
    std::string needle = text;
    std::transform(needle.begin(), needle.end(), needle.begin(), AsciiLower);
    Timing timing;
    const auto start = Clock::now();
    for (const std::string_view name : names) {
        const auto found = std::search(name.begin(), name.end(), needle.begin(), needle.end(),
                                       [](char a, char b) { return AsciiLower(a) == b; });
        timing.Matches += found != name.end() ? 1 : 0;
    }
    timing.TotalMs = MillisecondsSince(start);
    return timing;
}

int Usage() {
    std::fprintf(stderr, "usage: marrowick_search_bench [--folder DIR] [--rounds N] [--text TEXT] [ENTRIES]\n"
                         "The synthetic backup DIR/db-ENTRIES (default /tmp/marrowick-bench/db-1000000) is written\n"
                         "when missing and reused afterwards.\n");
    return 2;
}

struct Options {
    std::string Root = "/tmp/marrowick-bench";
    std::string Text = "img";
    int Rounds = 7;
    std::size_t Entries = 1000000;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--folder" || arg == "--rounds" || arg == "--text") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--folder") {
                options.Root = value;
            } else if (arg == "--text") {
                options.Text = value;
            } else {
                options.Rounds = std::max(1, std::atoi(value.c_str()));
            }
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            options.Entries = std::stoull(arg);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return Usage();
    }
    const std::string folder = options.Root + "/db-" + std::to_string(options.Entries);
    if (::access((folder + bench::CompleteMarker).c_str(), F_OK) != 0) {
        std::fprintf(stderr, "generating %s ...\n", folder.c_str());
        if (!bench::EnsureManifestDbBackup(folder, bench::MakeSyntheticEntries(options.Entries))) {
            std::fprintf(stderr, "cannot write %s\n", folder.c_str());
            return 1;
        }
    }
    const CachedBackupTree read = ReadBackupTree(folder, ManifestKindDb);
    if (read.Status != TreeStatus::Ok) {
        std::fprintf(stderr, "%s: %s\n", folder.c_str(), TreeProblemText(read.Status, read.Problem).c_str());
        return 1;
    }
    const FileNode& tree = *read.Tree->Root();
    std::vector<std::string_view> names;
    names.reserve(read.Tree->NodeCount());
    ForEachBelow(tree, [&](const FileNode& node) { names.push_back(node.Name()); });
    NameIndex index(tree);
    const auto indexStart = Clock::now();
    if (!index.ReadMore(SIZE_MAX) || index.Size() != names.size()) {
        std::fprintf(stderr, "the index was not read whole\n");
        return 1;
    }
    std::printf("backup %s: %zu names below the root, text \"%s\", %d rounds; index read in %.1f ms\n", folder.c_str(),
                names.size(), options.Text.c_str(), options.Rounds, MillisecondsSince(indexStart));

    // Phase 0 the search through the index, 1 the first search of the tree, 2 the loop; the first of a round
    // changes from round to round, after one unmeasured round that warms the caches alike.
    const char* const phaseNames[] = {"search", "first search", "loop"};
    std::vector<std::vector<double>> firsts(3);
    std::vector<std::vector<double>> totals(3);
    std::vector<double> ratios;
    for (int round = -1; round < options.Rounds; ++round) {
        Timing timings[3];
        for (int turn = 0; turn < 3; ++turn) {
            const int phase = (turn + std::max(round, 0)) % 3;
            timings[phase] = phase == 2 ? TimeLoop(names, options.Text)
                                        : TimeSearch(tree, phase == 0 ? &index : nullptr, options.Text);
        }
        if (timings[0].Matches != timings[2].Matches || timings[1].Matches != timings[2].Matches) {
            std::fprintf(stderr, "matches differ: %zu, %zu, loop %zu\n", timings[0].Matches, timings[1].Matches,
                         timings[2].Matches);
            return 1;
        }
        if (round < 0) {
            continue;
        }
        for (int phase = 0; phase < 3; ++phase) {
            firsts[phase].push_back(timings[phase].FirstBatchMs);
            totals[phase].push_back(timings[phase].TotalMs);
        }
        ratios.push_back(timings[0].TotalMs / timings[2].TotalMs);
        std::printf("round %d (%s first): search first batch %.3f ms, total %.1f ms; first search first batch "
                    "%.1f ms, total %.1f ms; loop %.1f ms; %zu matches; search/loop %.2fx\n",
                    round + 1, phaseNames[round % 3], timings[0].FirstBatchMs, timings[0].TotalMs,
                    timings[1].FirstBatchMs, timings[1].TotalMs, timings[2].TotalMs, timings[2].Matches, ratios.back());
    }
    const double first = Median(firsts[0]);
    const double ratio = Median(ratios);
    std::printf("median: search first batch %.3f ms, total %.1f ms; first search first batch %.1f ms, total %.1f ms; "
                "loop %.1f ms; search/loop %.2fx\n",
                first, Median(totals[0]), Median(firsts[1]), Median(totals[1]), Median(totals[2]), ratio);
    std::printf("goal first batch within 100 ms: %s; goal total within 1.5x the loop: %s\n",
                first <= 100 ? "met" : "NOT met", ratio <= 1.5 ? "met" : "NOT met");
    return 0;
}
