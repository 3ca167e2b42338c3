#include "core/backup/FileNode.h"

#include "core/backup/BackupTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace marrowick {
namespace {

std::vector<std::string> ChildNames(const FileNode* folder) {
    std::vector<std::string> names;
    for (const FileNode* child = folder->FirstChild(); child != nullptr; child = child->NextSibling()) {
        names.emplace_back(child->Name());
    }
    return names;
}

// A Manifest.mbdb-kind tree: no stored file status is read, so the entries' own values stand.
class FileTree : public ::testing::Test {
protected:
    void Insert(std::string_view path, std::string_view fileId = "", std::string_view flags = "1",
                std::uint64_t size = 0, std::int64_t mtime = 0) {
        const EntryRecord record{.Size = size, .LastModified = mtime};
        tree.InsertIntoTree(FileEntry{path, fileId, flags, &record});
    }

    BackupTree tree{"/nonexistent/backup/", ManifestKindMbdb};
};

TEST_F(FileTree, NewTreeHoldsRootVarAlone) {
    const FileNode* root = tree.Root();
    EXPECT_EQ(root->Path(), "/var");
    EXPECT_EQ(root->Name(), "var");
    EXPECT_EQ(root->Flags(), "2");
    EXPECT_TRUE(root->FileID().empty());
    EXPECT_EQ(root->Parent(), nullptr);
    EXPECT_EQ(root->FirstChild(), nullptr);
    EXPECT_EQ(tree.NodeCount(), 1U);
}

TEST_F(FileTree, DeepEntryCreatesEachFolderOnItsWay) {
    const std::string id(40, 'a');
    Insert("/var/mobile/Library/SMS/sms.db", id, "1", 4096, 1600000000);

    const FileNode* mobile = tree.Root()->FirstChild();
    ASSERT_NE(mobile, nullptr);
    const FileNode* library = mobile->FirstChild();
    ASSERT_NE(library, nullptr);
    const FileNode* sms = library->FirstChild();
    ASSERT_NE(sms, nullptr);
    const FileNode* leaf = sms->FirstChild();
    ASSERT_NE(leaf, nullptr);

    EXPECT_EQ(mobile->Path(), "/var/mobile");
    EXPECT_EQ(library->Path(), "/var/mobile/Library");
    EXPECT_EQ(sms->Path(), "/var/mobile/Library/SMS");
    for (const FileNode* folder : {mobile, library, sms}) {
        EXPECT_EQ(folder->Flags(), "2") << folder->Path();
        EXPECT_TRUE(folder->FileID().empty()) << folder->Path();
        EXPECT_EQ(folder->Size(), 0U);
        EXPECT_EQ(folder->MTime(), 0);
        EXPECT_EQ(folder->NextSibling(), nullptr);
    }
    EXPECT_EQ(leaf->Path(), "/var/mobile/Library/SMS/sms.db");
    EXPECT_EQ(leaf->Name(), "sms.db");
    EXPECT_EQ(leaf->FileID(), id);
    EXPECT_EQ(leaf->Flags(), "1");
    EXPECT_EQ(leaf->Size(), 4096U);
    EXPECT_EQ(leaf->MTime(), 1600000000);
    EXPECT_EQ(leaf->FirstChild(), nullptr);
    EXPECT_EQ(leaf->Parent(), sms);
    EXPECT_EQ(sms->Parent(), library);
    EXPECT_EQ(library->Parent(), mobile);
    EXPECT_EQ(mobile->Parent(), tree.Root());
    EXPECT_EQ(tree.NodeCount(), 5U);
}

TEST_F(FileTree, SamePathTwiceKeepsFirstEntry) {
    Insert("/var/mobile/a.txt", std::string(40, '1'), "1", 10, 100);
    Insert("/var/mobile/a.txt", std::string(40, '2'), "4", 20, 200);

    const FileNode* leaf = FindNode(tree.Root(), "/var/mobile/a.txt");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), std::string(40, '1'));
    EXPECT_EQ(leaf->Flags(), "1");
    EXPECT_EQ(leaf->Size(), 10U);
    EXPECT_EQ(leaf->MTime(), 100);
    EXPECT_EQ(ChildNames(leaf->Parent()), std::vector<std::string>{"a.txt"});
}

TEST_F(FileTree, FolderEntryAfterDeeperEntryKeepsEmptyFileID) {
    Insert("/var/mobile/Media/x", std::string(40, 'b'));
    Insert("/var/mobile", std::string(40, 'f'), "2", 5, 6);

    const FileNode* mobile = FindNode(tree.Root(), "/var/mobile");
    ASSERT_NE(mobile, nullptr);
    EXPECT_TRUE(mobile->FileID().empty());
    EXPECT_EQ(mobile->Size(), 0U);
    EXPECT_EQ(mobile->MTime(), 0);
}

TEST_F(FileTree, FolderEntryBeforeDeeperEntryGivesFolderItsFileID) {
    Insert("/var/mobile", std::string(40, 'f'), "2", 5, 6);
    Insert("/var/mobile/Media/x", std::string(40, 'b'));

    const FileNode* mobile = FindNode(tree.Root(), "/var/mobile");
    ASSERT_NE(mobile, nullptr);
    EXPECT_EQ(mobile->FileID(), std::string(40, 'f'));
    EXPECT_EQ(mobile->MTime(), 6);
    EXPECT_EQ(ChildNames(mobile), std::vector<std::string>{"Media"});
}

TEST_F(FileTree, ChildrenAreInUnsignedByteOrder) {
    for (const char* name : {"b", "a", "B", "A", "\xC3\xA9", "_", "a b", ""}) {
        Insert(std::string("/var/d/") + name);
    }
    EXPECT_EQ(ChildNames(FindNode(tree.Root(), "/var/d")),
              (std::vector<std::string>{"", "A", "B", "_", "a", "a b", "b", "\xC3\xA9"}));
}

TEST_F(FileTree, FindNodeMatchesWholePathExactly) {
    Insert("/var/mobile/Library/x");
    EXPECT_EQ(FindNode(tree.Root(), "/var"), tree.Root());
    EXPECT_EQ(FindNode(tree.Root(), "/var/"), nullptr);
    EXPECT_EQ(FindNode(tree.Root(), "/var/Mobile"), nullptr);
    EXPECT_EQ(FindNode(tree.Root(), "/var/mobile/Library/"), nullptr);
    EXPECT_EQ(FindNode(tree.Root(), "/var/mobile/Lib"), nullptr);
    ASSERT_NE(FindNode(tree.Root(), "/var/mobile/Library/x"), nullptr);
    EXPECT_EQ(FindNode(tree.Root(), "/var/mobile/Library/x")->Name(), "x");
    EXPECT_EQ(FindNode(nullptr, "/var"), nullptr);
}

TEST_F(FileTree, FindNodeWithoutRootUsesCurrentRoot) {
    Insert("/var/root/a");
    const FileNode* saved = CurrentRoot;
    CurrentRoot = tree.Root();
    EXPECT_EQ(FindNode("/var/root/a"), FindNode(tree.Root(), "/var/root/a"));
    EXPECT_NE(FindNode("/var/root/a"), nullptr);
    CurrentRoot = saved;
}

TEST_F(FileTree, PathsWithFewerThanTwoSlashesAddNothing) {
    for (const char* path : {"/var", "var", "", "/", "mobile/"}) {
        Insert(path, std::string(40, 'c'));
    }
    EXPECT_EQ(tree.Root()->FirstChild(), nullptr);
    EXPECT_EQ(tree.NodeCount(), 1U);
}

TEST_F(FileTree, TextBeforeSecondSlashIsTakenAsTheRoot) {
    Insert("/private/x");
    Insert("ab/c/d");
    EXPECT_EQ(ChildNames(tree.Root()), (std::vector<std::string>{"d", "x"}));
    EXPECT_EQ(tree.Root()->FirstChild()->Path(), "ab/c/d");
    EXPECT_EQ(tree.Root()->FirstChild()->NextSibling()->Path(), "/private/x");
    // FindNode descends by path text, so an entry outside "/var" is not found through the root.
    EXPECT_EQ(FindNode(tree.Root(), "/private/x"), nullptr);
}

TEST_F(FileTree, EmptyComponentsBecomeEmptyNames) {
    Insert("/var/mobile/Applications//Documents");
    const FileNode* unnamed = FindNode(tree.Root(), "/var/mobile/Applications/");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->Name(), "");
    EXPECT_EQ(unnamed->Flags(), "2");
    EXPECT_EQ(ChildNames(unnamed), std::vector<std::string>{"Documents"});
}

TEST_F(FileTree, PathDepthHasNoCap) {
    std::string path = "/var";
    for (int depth = 0; depth < 600; ++depth) {
        path += "/d" + std::to_string(depth);
    }
    Insert(path, std::string(40, 'e'));
    const FileNode* leaf = FindNode(tree.Root(), path);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), std::string(40, 'e'));
    EXPECT_EQ(tree.NodeCount(), 601U);
}

TEST_F(FileTree, FlagsTextIsKeptAsGiven) {
    Insert("/var/a", "", "4");
    Insert("/var/b", "", "12");
    Insert("/var/c", "", "");
    EXPECT_EQ(FindNode(tree.Root(), "/var/a")->Flags(), "4");
    EXPECT_EQ(FindNode(tree.Root(), "/var/b")->Flags(), "12");
    EXPECT_EQ(FindNode(tree.Root(), "/var/c")->Flags(), "");
    EXPECT_FALSE(FindNode(tree.Root(), "/var/c")->IsFolder());
}

TEST_F(FileTree, EntryTextsAreCopied) {
    std::string path = "/var/mobile/copied";
    std::string id(40, '9');
    Insert(path, id);
    path.assign(path.size(), 'x');
    id.assign(id.size(), 'x');
    const FileNode* leaf = FindNode(tree.Root(), "/var/mobile/copied");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), std::string(40, '9'));
}

TEST_F(FileTree, LongTextsAreKeptWhole) {
    const std::string longName(100000, 'n');
    Insert("/var/a/" + longName, std::string(40, '1'));
    Insert("/var/a/short", std::string(40, '2'));
    EXPECT_EQ(ChildNames(FindNode(tree.Root(), "/var/a")), (std::vector<std::string>{longName, "short"}));
    EXPECT_EQ(FindNode(tree.Root(), "/var/a/short")->FileID(), std::string(40, '2'));
}

struct UnderCase {
    const char* Path;
    const char* Folder;
    bool Expected;
};

void PrintTo(const UnderCase& c, std::ostream* os) {
    *os << c.Path << " in " << c.Folder;
}

class IsUnderCases : public ::testing::TestWithParam<UnderCase> {};

TEST_P(IsUnderCases, Holds) {
    EXPECT_EQ(IsUnder(GetParam().Path, GetParam().Folder), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, IsUnderCases,
    ::testing::Values(UnderCase{"/var/mobile2", "/var/mobile", false}, UnderCase{"/var/mobile/x", "/var/mobile", true},
                      UnderCase{"/var/mobile", "/var/mobile", false}, UnderCase{"/var/mobile/", "/var/mobile", true},
                      UnderCase{"/var/Mobile/x", "/var/mobile", false}, UnderCase{"/var", "/var/mobile", false},
                      UnderCase{"/var/mobile/a/b", "/var/mobile/a", true}));

// The tree as the rules say it must be: folders made on the way, first values win, children in byte order.
struct ModelNode {
    std::string FileID;
    std::string Flags = "2";
    std::uint64_t Size = 0;
    std::map<std::string, ModelNode> Children; // std::string compares as unsigned bytes
};

void ModelInsert(ModelNode& root, const std::string& path, const std::string& fileId, std::uint64_t size) {
    std::vector<std::string> parts;
    std::size_t from = path.find('/') + 1;
    for (std::size_t slash = path.find('/', from); slash != std::string::npos; slash = path.find('/', from)) {
        parts.push_back(path.substr(from, slash - from));
        from = slash + 1;
    }
    parts.push_back(path.substr(from));
    ModelNode* folder = &root;
    for (std::size_t k = 1; k < parts.size(); ++k) {
        const auto [it, added] = folder->Children.try_emplace(parts[k]);
        if (added && k + 1 == parts.size()) {
            it->second.FileID = fileId;
            it->second.Flags = "1";
            it->second.Size = size;
        }
        folder = &it->second;
    }
}

void ExpectSameTree(const ModelNode& model, const FileNode* node, const std::string& path) {
    ASSERT_EQ(node->Path(), path);
    EXPECT_EQ(node->FileID(), model.FileID) << path;
    EXPECT_EQ(node->Flags(), model.Flags) << path;
    EXPECT_EQ(node->Size(), model.Size) << path;
    const FileNode* child = node->FirstChild();
    for (const auto& [name, sub] : model.Children) {
        ASSERT_NE(child, nullptr) << "missing " << path << "/" << name;
        EXPECT_EQ(child->Parent(), node);
        ExpectSameTree(sub, child, path + "/" + name);
        child = child->NextSibling();
    }
    EXPECT_EQ(child, nullptr) << "extra child of " << path;
}

struct BulkOrder {
    const char* Label;
    int Folders; // distinct folders entries are spread over
    int Entries;
    bool Shuffled; // otherwise in reverse name order
    bool Bulk;
};

void PrintTo(const BulkOrder& order, std::ostream* os) {
    *os << order.Label;
}

class ManyEntries : public ::testing::TestWithParam<BulkOrder> {};

// Large folders take another search path than small ones; both must give the model's tree.
TEST_P(ManyEntries, MatchesModelTree) {
    const BulkOrder order = GetParam();
    std::mt19937 random(1234);
    std::vector<std::string> paths;
    for (int i = 0; i < order.Entries; ++i) {
        const int folder = static_cast<int>(random() % static_cast<unsigned>(order.Folders));
        const int name = static_cast<int>(random() % static_cast<unsigned>(order.Entries));
        paths.push_back("/var/mobile/f" + std::to_string(folder) + "/n" + std::to_string(name));
        if (i % 97 == 0) {
            paths.push_back("/var/mobile/f" + std::to_string(folder)); // a folder's own entry, early or late
        }
    }
    if (order.Shuffled) {
        std::shuffle(paths.begin(), paths.end(), random);
    } else {
        std::sort(paths.rbegin(), paths.rend());
    }
    BackupTree tree("/nonexistent/", ManifestKindMbdb);
    ModelNode model;
    if (order.Bulk) {
        tree.BeginBulkInsertion();
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string id = std::to_string(i);
        const EntryRecord record{.Size = i};
        tree.InsertIntoTree(FileEntry{paths[i], id, "1", &record});
        ModelInsert(model, paths[i], id, record.Size);
        if (i == paths.size() / 2) {
            // Insertion must go on correctly after the speed-up structures were dropped.
            tree.FinishInsertion();
            ExpectSameTree(model, tree.Root(), "/var");
            if (order.Bulk) {
                tree.BeginBulkInsertion();
            }
        }
    }
    tree.FinishInsertion();
    ExpectSameTree(model, tree.Root(), "/var");
}

INSTANTIATE_TEST_SUITE_P(Orders, ManyEntries,
                         ::testing::Values(BulkOrder{"ShuffledIntoOneLargeFolder", 1, 20000, true, false},
                                           BulkOrder{"ReverseIntoOneLargeFolder", 1, 5000, false, false},
                                           BulkOrder{"ShuffledOverManySmallFolders", 400, 8000, true, false},
                                           BulkOrder{"ShuffledOverMixedFolders", 12, 8000, true, false},
                                           BulkOrder{"BulkShuffledIntoOneLargeFolder", 1, 20000, true, true},
                                           BulkOrder{"BulkReverseIntoOneLargeFolder", 1, 5000, false, true},
                                           BulkOrder{"BulkShuffledOverMixedFolders", 12, 8000, true, true}));

TEST(FileTreeSize, HundredThousandSiblingsAreReleasedWithoutRecursion) {
    auto tree = std::make_unique<BackupTree>("/nonexistent/", ManifestKindMbdb);
    for (int i = 0; i < 100000; ++i) {
        tree->InsertIntoTree(FileEntry{"/var/mobile/Media/DCIM/IMG_" + std::to_string(i), "", "1"});
    }
    EXPECT_EQ(tree->NodeCount(), 100004U);
    tree.reset();
}

} // namespace
} // namespace marrowick
