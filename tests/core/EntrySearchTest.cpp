#include "core/search/EntrySearch.h"

#include "core/backup/BackupTree.h"
#include "core/search/NamePattern.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace marrowick {
namespace {

struct NameCase {
    const char* Text;
    const char* Name;
    bool Matches;
};

class QueryMatching : public ::testing::TestWithParam<NameCase> {};

TEST_P(QueryMatching, MatchesNameAsExpected) {
    const NameCase& c = GetParam();
    EXPECT_EQ(SearchQuery(c.Text).Matches(c.Name), c.Matches) << '"' << c.Text << "\" against \"" << c.Name << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Substring, QueryMatching,
    ::testing::Values(NameCase{"img", "IMG_0001.JPG", true}, NameCase{"JpG", "a.jpg", true},
                      NameCase{"0001", "IMG_0001.JPG", true}, NameCase{"  photo ", "my photo.png", true},
                      NameCase{"my photo", "my photo.png", true}, NameCase{"my  photo", "my photo.png", false},
                      NameCase{"gif", "IMG_0001.JPG", false}, NameCase{"IMG_0001.JPG!", "IMG_0001.JPG", false},
                      NameCase{"ÉTÉ", "été.txt", false}, NameCase{"été", "été.txt", true}));

INSTANTIATE_TEST_SUITE_P(
    Pattern, QueryMatching,
    ::testing::Values(NameCase{"*.jpg", "IMG_0001.JPG", true}, NameCase{"*.jpg", "a.jpg.mov", false},
                      NameCase{"*.jpg", ".jpg", true}, NameCase{"IMG_00?1.*", "img_0021.heic", true},
                      NameCase{"IMG_00?1.*", "IMG_001.JPG", false}, NameCase{"[ab]*", "Beta", true},
                      NameCase{"[ab]*", "cab", false}, NameCase{"[!ab]*", "cab", true},
                      NameCase{"[^ab]*", "alpha", false}, NameCase{"[a-c]x", "Bx", true}, NameCase{"[]]", "]", true},
                      NameCase{"[x", "[x", true}, NameCase{"a\\*", "a*", true}, NameCase{"a\\*", "ab", false},
                      NameCase{"?.txt", "é.txt", true}, NameCase{"[é]", "é", true}, NameCase{"*a*b*c", "xaxbxc", true},
                      NameCase{"*a*b*c", "xaxbxcx", false}, NameCase{"*", "", true}, NameCase{"?", "", false}));

INSTANTIATE_TEST_SUITE_P(Empty, QueryMatching,
                         ::testing::Values(NameCase{"", "a", false}, NameCase{"   ", "a b", false},
                                           NameCase{"\t", "\t", false}));

TEST(NamePattern, ManyStarsAgainstALongNameEndQuickly) {
    // fnmatch(3) would try every way of splitting the name among the stars here.
    const std::string pattern = std::string(30, '*').replace(1, 28, "a*a*a*a*a*a*a*a*a*a*a*a*a*a*b");
    EXPECT_FALSE(MatchesNamePattern(pattern, std::string(4000, 'a')));
}

// A Manifest.mbdb-kind tree, so that no stored file is looked at.
class SearchTree : public ::testing::Test {
protected:
    void Add(const std::string& path) { tree.InsertIntoTree(FileEntry{path, "", "1"}); }

    // Built at first use, after the test has added its entries.
    const NameIndex& Index() {
        if (!index) {
            index = std::make_unique<NameIndex>(*tree.Root());
            EXPECT_TRUE(index->ReadMore(SIZE_MAX).Ok());
            EXPECT_TRUE(index->Complete());
        }
        return *index;
    }

    std::vector<std::string> Search(const std::string& text, const SearchBatching& batching = {},
                                    SearchOutcome* outcome = nullptr) {
        std::vector<std::string> paths;
        const SearchOutcome result = SearchNames(
            Index(), SearchQuery(text), std::stop_token(),
            [&](auto batch) {
                for (const FileNode* node : batch) {
                    paths.emplace_back(node->Path());
                }
            },
            batching);
        if (outcome != nullptr) {
            *outcome = result;
        }
        return paths;
    }

    BackupTree tree{"/nonexistent/", ManifestKindMbdb};
    std::unique_ptr<NameIndex> index;
};

TEST_F(SearchTree, FindsFoldersAndFilesInTreeOrderButNotTheRoot) {
    Add("/var/mobile/Media/DCIM/100APPLE/IMG_0002.JPG");
    Add("/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG");
    Add("/var/mobile/Media/Photos/img.plist");
    Add("/var/mobile/Library/Notes/notes.sqlite");
    SearchOutcome outcome;
    EXPECT_EQ(Search("i", {}, &outcome),
              (std::vector<std::string>{
                  "/var/mobile", "/var/mobile/Library", "/var/mobile/Library/Notes/notes.sqlite", "/var/mobile/Media",
                  "/var/mobile/Media/DCIM", "/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG",
                  "/var/mobile/Media/DCIM/100APPLE/IMG_0002.JPG", "/var/mobile/Media/Photos/img.plist"}));
    EXPECT_EQ(outcome.Matches, 8U);
    EXPECT_FALSE(outcome.Capped);
    EXPECT_TRUE(Search("var").empty());
    EXPECT_EQ(Search("*.jpg").size(), 2U);
    EXPECT_TRUE(Search(" ").empty());
}

TEST_F(SearchTree, FindsNothingAcrossTwoNames) {
    Add("/var/a/xa");
    Add("/var/a/bx");
    EXPECT_TRUE(Search("ab").empty());
    EXPECT_TRUE(Search("a/b").empty());
    EXPECT_TRUE(Search("/").empty());
    EXPECT_EQ(Search("XA"), std::vector<std::string>{"/var/a/xa"});
}

TEST_F(SearchTree, SearchFollowingAnIndexReadInPartsFindsWhatTheWholeIndexGives) {
    for (int i = 0; i < 5000; ++i) {
        Add("/var/f" + std::to_string(i % 7) + "/a" + std::to_string(i));
    }
    const std::vector<std::string> whole = Search("*1*");
    NameIndex growing(*tree.Root());
    std::vector<std::string> paths;
    const SearchQuery query("*1*");
    const SearchBatchFunction deliver = [&](auto batch) {
        for (const FileNode* node : batch) {
            paths.emplace_back(node->Path());
        }
    };
    NameSearch search(query, deliver);
    while (!growing.Complete()) {
        const std::size_t before = growing.Size();
        ASSERT_TRUE(growing.ReadMore(333).Ok());
        ASSERT_LE(growing.Size() - before, 333U);
        ASSERT_TRUE(search.Search(growing, before, growing.Size(), std::stop_token()));
    }
    EXPECT_EQ(search.Finish().Matches, whole.size());
    EXPECT_EQ(growing.Size(), 5007U);
    EXPECT_EQ(paths, whole);
}

using BatchCase = std::tuple<const char*, std::size_t, std::size_t>;
class SearchBatches : public SearchTree, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(SearchBatches, DeliverEveryMatchOnceFirstBatchEarly) {
    const auto [text, firstBatch, patience] = GetParam();
    for (int i = 0; i < 3000; ++i) {
        Add("/var/f/" + std::to_string(i) + (i % 3 == 0 ? ".jpg" : ".txt"));
    }
    std::vector<std::size_t> sizes;
    std::set<const FileNode*> seen;
    std::size_t delivered = 0;
    const SearchBatching batching{.FirstBatch = firstBatch, .LargestBatch = 64, .NamesBeforeHandOver = patience};
    const SearchOutcome outcome = SearchNames(
        Index(), SearchQuery(text), std::stop_token(),
        [&](auto batch) {
            sizes.push_back(batch.size());
            delivered += batch.size();
            seen.insert(batch.begin(), batch.end());
        },
        batching);
    EXPECT_EQ(outcome.Matches, 1000U);
    EXPECT_EQ(delivered, 1000U);
    EXPECT_EQ(seen.size(), 1000U);
    ASSERT_FALSE(sizes.empty());
    EXPECT_LE(sizes.front(), firstBatch);
    for (const std::size_t size : sizes) {
        EXPECT_LE(size, 64U);
    }
}

// A patience of 5 names hands over matches that wait long before the batch fills.
INSTANTIATE_TEST_SUITE_P(Sizes, SearchBatches,
                         ::testing::Values(BatchCase{"*.JPG", 1, 65536}, BatchCase{".JPG", 1, 65536},
                                           BatchCase{"*.jpg", 7, 65536}, BatchCase{".jpg", 7, 65536},
                                           BatchCase{"*.jpg", 1, 5}, BatchCase{".jpg", 1, 5}));

TEST_F(SearchTree, StopsAtTheCapAndSaysSo) {
    for (int i = 0; i < 50; ++i) {
        Add("/var/f/a" + std::to_string(i));
    }
    SearchOutcome outcome;
    EXPECT_EQ(Search("a", {.MaxMatches = 20}, &outcome).size(), 20U);
    EXPECT_TRUE(outcome.Capped);
    EXPECT_EQ(Search("a", {.MaxMatches = 50}, &outcome).size(), 50U);
    EXPECT_FALSE(outcome.Capped);
}

// The search runs on a thread of its own, as in the file manager, and is stopped from this one while its first
// batch is being handed over.
TEST_F(SearchTree, StopRequestedFromAnotherThreadEndsTheSearchWithinAStretchOfNames) {
    for (int i = 0; i < 20000; ++i) {
        Add("/var/f/a" + std::to_string(i));
    }
    const NameIndex& names = Index();
    std::latch firstBatch(1);
    std::latch stopRequested(1);
    std::size_t delivered = 0;
    SearchOutcome outcome;
    std::jthread worker([&](const std::stop_token& stop) {
        outcome = SearchNames(names, SearchQuery("a"), stop,
                              [&](auto batch) {
                                  delivered += batch.size();
                                  if (delivered == batch.size()) {
                                      firstBatch.count_down();
                                      stopRequested.wait();
                                  }
                              },
                              {.LargestBatch = 1});
    });
    firstBatch.wait();
    worker.request_stop();
    stopRequested.count_down();
    worker.join();
    EXPECT_TRUE(outcome.Cancelled);
    EXPECT_FALSE(outcome.Capped);
    EXPECT_EQ(delivered, outcome.Matches);
    EXPECT_LE(outcome.Matches, 1024U);
}

} // namespace
} // namespace marrowick
