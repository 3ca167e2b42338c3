#include "core/backup/PathTable.h"

#include "core/backup/BackupTree.h"
#include "core/backup/PathHash.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowick {
namespace {

// Names of every length up to two words, so that a "/" falls on every byte of a word and keys end on each.
TEST(ScannedPath, EveryFolderHashEqualsTheHashOfItsKey) {
    for (std::size_t first = 0; first <= 17; ++first) {
        for (std::size_t second = 0; second <= 17; ++second) {
            const std::string path = "/var/" + std::string(first, 'a') + "/" + std::string(second, 'b') + "/c";
            ScannedPath scanned;
            scanned.Scan(path);
            ASSERT_EQ(scanned.Slashes, (std::vector<std::size_t>{0, 4, 5 + first, 6 + first + second})) << path;
            for (std::size_t k = 1; k < scanned.Slashes.size(); ++k) {
                const std::size_t end = k + 1 < scanned.Slashes.size() ? scanned.Slashes[k + 1] : path.size();
                const std::string_view key = std::string_view(path).substr(4, end - 4);
                EXPECT_EQ(scanned.Hash(k), HashKey(key)) << path << " cut at " << end;
            }
        }
    }
}

// Hashes collide in a full table only by chance; one shared hash makes the table tell nodes apart by their key.
TEST(PathTable, NodesSharingAHashAreFoundByTheirOwnKeyOnly) {
    BackupTree tree("/nonexistent/", ManifestKindMbdb);
    for (const char* path : {"/var/a/b", "/var/x/a/b", "/var/c"}) {
        tree.InsertIntoTree(FileEntry{path, "", "1"});
    }
    // The table hands out mutable nodes; these belong to the tree and are only compared here.
    auto* ab = const_cast<FileNode*>(FindNode(tree.Root(), "/var/a/b"));
    auto* xab = const_cast<FileNode*>(FindNode(tree.Root(), "/var/x/a/b"));
    constexpr std::size_t Shared = 12345;
    PathTable table;
    EXPECT_EQ(table.Find("/a/b", Shared), nullptr);
    table.Add(Shared, xab);
    table.Add(Shared, ab);

    EXPECT_EQ(table.Find("/a/b", Shared), ab);
    EXPECT_EQ(table.Find("/x/a/b", Shared), xab);
    EXPECT_EQ(table.Find("/c", Shared), nullptr);
    EXPECT_EQ(table.Find("/a/b", Shared + 1), nullptr);
    EXPECT_EQ(table.FirstWithHash(Shared), xab);
    EXPECT_EQ(PathKey(xab->Path()), "/x/a/b");

    (void)table.Release();
    EXPECT_TRUE(table.Empty());
    EXPECT_EQ(table.Find("/a/b", Shared), nullptr);
}

} // namespace
} // namespace marrowick
