#include "core/backup/ManifestDbReader.h"

#include "core/platform/ErrorText.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using Row = testing::ManifestDbRow;
using testing::SampleBackup;
using testing::SampleFile;
using testing::ScopedTmpDir;
using testing::TempDir;
using testing::WriteFile;

const std::string SmsId = testing::Sha1Hex("HomeDomain-Library/SMS/sms.db");

std::string Id(char digit) {
    return std::string(40, digit);
}

struct ReadTree {
    std::unique_ptr<BackupTree> Tree;
    bool Ok = false;
    std::string Failure;
};

ReadTree Read(const fs::path& folder) {
    ReadTree read;
    read.Tree = std::make_unique<BackupTree>(folder.string(), ManifestKindDb);
    const Result<void> result = ReadManifestDb(*read.Tree);
    read.Ok = result.Ok();
    read.Failure = read.Ok ? std::string() : FailureText(result.Error());
    return read;
}

const FileNode* Find(const ReadTree& read, std::string_view path) {
    return FindNode(read.Tree->Root(), path);
}

TEST(ManifestDb, RowGivesLeafWithStoredFileStatusAndFoldersOnItsWay) {
    const TempDir dir;
    SampleBackup backup;
    backup.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "0123456789", .MTime = 1500000123}};
    testing::WriteSampleBackup(dir.Path(), backup);

    const ReadTree read = Read(dir.Path());
    ASSERT_TRUE(read.Ok) << read.Failure;
    const FileNode* leaf = Find(read, "/var/mobile/Library/SMS/sms.db");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), SmsId);
    EXPECT_EQ(leaf->Flags(), "1");
    EXPECT_EQ(leaf->Size(), 10U);
    EXPECT_EQ(leaf->MTime(), 1500000123);
    for (const char* folder : {"/var/mobile", "/var/mobile/Library", "/var/mobile/Library/SMS"}) {
        const FileNode* node = Find(read, folder);
        ASSERT_NE(node, nullptr) << folder;
        EXPECT_TRUE(node->FileID().empty()) << folder;
        EXPECT_EQ(node->Flags(), "2") << folder;
    }
    EXPECT_EQ(read.Tree->NodeCount(), 5U);
}

TEST(ManifestDb, RowsWithoutDomainAddNothing) {
    const TempDir dir;
    testing::WriteManifestDb(dir.Path() / "Manifest.db", {Row{Id('1'), std::nullopt, "a/b"}, Row{Id('2'), "", "c/d"},
                                                          Row{Id('3'), "RootDomain", "kept"}});
    const ReadTree read = Read(dir.Path());
    ASSERT_TRUE(read.Ok) << read.Failure;
    EXPECT_EQ(read.Tree->NodeCount(), 3U);
    EXPECT_NE(Find(read, "/var/root/kept"), nullptr);
}

TEST(ManifestDb, NullColumnsCountAsEmpty) {
    const TempDir dir;
    testing::WriteManifestDb(dir.Path() / "Manifest.db", {Row{std::nullopt, "HomeDomain", std::nullopt, std::nullopt},
                                                          Row{std::nullopt, "HomeDomain", "Library/x", std::nullopt}});
    const ReadTree read = Read(dir.Path());
    ASSERT_TRUE(read.Ok) << read.Failure;
    const FileNode* mobile = Find(read, "/var/mobile");
    ASSERT_NE(mobile, nullptr);
    EXPECT_EQ(mobile->Flags(), "");
    EXPECT_TRUE(mobile->FileID().empty());
    const FileNode* leaf = Find(read, "/var/mobile/Library/x");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->Size(), 0U);
}

TEST(ManifestDb, DomainFolderRowGivesFolderItsFileIDOnlyWhenFirst) {
    const TempDir first;
    testing::WriteManifestDb(first.Path() / "Manifest.db",
                             {Row{Id('f'), "HomeDomain", "", "2"}, Row{Id('1'), "HomeDomain", "Media/x"}});
    const ReadTree folderFirst = Read(first.Path());
    ASSERT_NE(Find(folderFirst, "/var/mobile"), nullptr);
    EXPECT_EQ(Find(folderFirst, "/var/mobile")->FileID(), Id('f'));

    const TempDir later;
    testing::WriteManifestDb(later.Path() / "Manifest.db",
                             {Row{Id('1'), "HomeDomain", "Media/x"}, Row{Id('f'), "HomeDomain", "", "2"}});
    const ReadTree folderLater = Read(later.Path());
    ASSERT_NE(Find(folderLater, "/var/mobile"), nullptr);
    EXPECT_TRUE(Find(folderLater, "/var/mobile")->FileID().empty());
}

TEST(ManifestDb, AnyFlagsButTwoIsAFileWhoseStoredFileIsRead) {
    const TempDir dir;
    const std::string present = testing::Sha1Hex("present");
    WriteFile(dir.Path() / present.substr(0, 2) / present, "abc");
    const std::string folderId = testing::Sha1Hex("folder");
    WriteFile(dir.Path() / folderId.substr(0, 2) / folderId, "a folder's stored file");
    testing::WriteManifestDb(dir.Path() / "Manifest.db",
                             {Row{present, "HomeDomain", "link", "4"}, Row{Id('9'), "HomeDomain", "gone", "4"},
                              Row{folderId, "HomeDomain", "dir", "2"}});
    const ReadTree read = Read(dir.Path());
    ASSERT_TRUE(read.Ok) << read.Failure;
    ASSERT_NE(Find(read, "/var/mobile/link"), nullptr);
    EXPECT_EQ(Find(read, "/var/mobile/link")->Flags(), "4");
    EXPECT_EQ(Find(read, "/var/mobile/link")->Size(), 3U);
    EXPECT_NE(Find(read, "/var/mobile/link")->MTime(), 0);
    EXPECT_EQ(Find(read, "/var/mobile/gone")->Size(), 0U);
    EXPECT_EQ(Find(read, "/var/mobile/gone")->MTime(), 0);
    // A folder's status is never read, even when a stored file of its id exists.
    EXPECT_EQ(Find(read, "/var/mobile/dir")->Size(), 0U);
    EXPECT_EQ(Find(read, "/var/mobile/dir")->MTime(), 0);
}

TEST(ManifestDb, TheRecordGivesSizeTimesAndModeWhateverTheStoredFileSays) {
    const TempDir dir;
    SampleBackup backup;
    const std::uint64_t fiveGiB = std::uint64_t{5} << 30;
    backup.Files = {
        SampleFile{.RelativePath = "Media/movie.mov",
                   .Content = "short",
                   .MTime = 1550000000,
                   .RecordedSize = fiveGiB,
                   .Birth = 1540000000,
                   .StoredFileMTime = 1700000000},
        SampleFile{.RelativePath = "Media/gone", .StoredFileMissing = true, .RecordedSize = 12},
        SampleFile{.RelativePath = "Media/link", .LinkTarget = "/private/var/mobile/Media/movie.mov"},
        SampleFile{.RelativePath = "Media/old", .Content = "xyz", .StoredFileMissing = true, .WithoutRecord = true},
    };
    testing::WriteSampleBackup(dir.Path(), backup);
    const ReadTree read = Read(dir.Path());
    ASSERT_TRUE(read.Ok) << read.Failure;
    const FileNode* movie = Find(read, "/var/mobile/Media/movie.mov");
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(movie->Size(), fiveGiB);
    EXPECT_EQ(movie->MTime(), 1550000000);
    EXPECT_EQ(movie->BirthTime(), 1540000000);
    EXPECT_EQ(movie->Mode(), 0100644U);
    EXPECT_EQ(Find(read, "/var/mobile/Media/gone")->Size(), 12U);
    const FileNode* link = Find(read, "/var/mobile/Media/link");
    EXPECT_TRUE(link->IsLink());
    EXPECT_EQ(link->LinkTarget(), "/private/var/mobile/Media/movie.mov");
    // Without a record only the stored file could tell, and there is none.
    EXPECT_EQ(Find(read, "/var/mobile/Media/old")->Size(), 0U);
    EXPECT_EQ(Find(read, "/var/mobile/Media/old")->MTime(), 0);
}

// Enough files that their status is read in several batches away from the reading thread, the last one partial;
// every other row has a record, which the status must not overwrite.
TEST(ManifestDb, EveryFileWithoutRecordGetsItsOwnStoredFileStatus) {
    const TempDir dir;
    SampleBackup backup;
    constexpr int Count = 1300;
    const auto relativePath = [](int i) { return "Media/DCIM/" + std::to_string(i % 3) + "/f" + std::to_string(i); };
    for (int i = 0; i < Count; ++i) {
        backup.Files.push_back(SampleFile{.RelativePath = relativePath(i),
                                          .Content = std::string(static_cast<std::size_t>(i % 251), 'x'),
                                          .StoredFileMissing = i % 7 == 0,
                                          .MTime = 1500000000 + i,
                                          .StoredFileMTime = 1400000000 + i,
                                          .WithoutRecord = i % 2 == 0});
    }
    testing::WriteSampleBackup(dir.Path(), backup);
    const ReadTree read = Read(dir.Path());
    ASSERT_TRUE(read.Ok) << read.Failure;
    for (int i = 0; i < Count; ++i) {
        const std::string path = "/var/mobile/" + relativePath(i);
        const FileNode* leaf = Find(read, path);
        ASSERT_NE(leaf, nullptr) << path;
        const bool statusRead = i % 2 == 0;
        const bool present = i % 7 != 0;
        EXPECT_EQ(leaf->Size(), statusRead && !present ? 0U : static_cast<std::uint64_t>(i % 251)) << path;
        EXPECT_EQ(leaf->MTime(), !statusRead ? 1500000000 + i : present ? 1400000000 + i : 0) << path;
    }
}

TEST(ManifestDb, BackupFolderWithUriCharactersInItsNameIsRead) {
    const TempDir dir;
    const fs::path folder = dir.Path() / "my back?up #1 %20 100%";
    SampleBackup backup;
    backup.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "x"}};
    testing::WriteSampleBackup(folder, backup);
    const ReadTree read = Read(folder);
    ASSERT_TRUE(read.Ok) << read.Failure;
    ASSERT_NE(Find(read, "/var/mobile/Library/SMS/sms.db"), nullptr);
    EXPECT_EQ(Find(read, "/var/mobile/Library/SMS/sms.db")->Size(), 1U);
}

struct BrokenDatabase {
    const char* Label;
    std::function<void(const fs::path& file)> Write;
};

void PrintTo(const BrokenDatabase& broken, std::ostream* os) {
    *os << broken.Label;
}

class BrokenManifestDb : public ::testing::TestWithParam<BrokenDatabase> {};

TEST_P(BrokenManifestDb, LeavesRootAloneAndSaysWhy) {
    const TempDir dir;
    GetParam().Write(dir.Path() / "Manifest.db");
    const auto before = testing::SnapshotFolder(dir.Path());
    const ReadTree read = Read(dir.Path());
    EXPECT_FALSE(read.Ok);
    EXPECT_TRUE(read.Failure.starts_with("Manifest.db: ")) << read.Failure;
    EXPECT_GT(read.Failure.size(), 13U);
    EXPECT_EQ(read.Tree->Root()->FirstChild(), nullptr);
    EXPECT_EQ(testing::SnapshotFolder(dir.Path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BrokenManifestDb,
    ::testing::Values(
        BrokenDatabase{"Missing", [](const fs::path&) {}},
        BrokenDatabase{"NotSqlite", [](const fs::path& f) { WriteFile(f, std::string(4096, '\x5A')); }},
        BrokenDatabase{"Empty", [](const fs::path& f) { WriteFile(f, ""); }},
        BrokenDatabase{"NoFilesTable",
                       [](const fs::path& f) { EXPECT_EQ(testing::RunSql(f, "CREATE TABLE Other (x TEXT)"), ""); }},
        BrokenDatabase{"FilesTableWithoutColumns",
                       [](const fs::path& f) { EXPECT_EQ(testing::RunSql(f, "CREATE TABLE Files (x TEXT)"), ""); }},
        BrokenDatabase{"CutInTheMiddle",
                       [](const fs::path& f) {
                           std::vector<Row> rows;
                           for (int i = 0; i < 2000; ++i) {
                               rows.push_back({testing::Sha1Hex(std::to_string(i)), "HomeDomain",
                                               "Library/file" + std::to_string(i)});
                           }
                           testing::WriteManifestDb(f, rows);
                           fs::resize_file(f, fs::file_size(f) / 2);
                       }},
        BrokenDatabase{"Folder", [](const fs::path& f) { fs::create_directory(f); }}));

// Holds a write transaction on the database with a pending insert, as a device sync in progress would.
class PendingWriter {
public:
    PendingWriter(const fs::path& file, bool wal) {
        sqlite3_open(file.c_str(), &db_);
        if (wal) {
            Exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                 "INSERT INTO Files VALUES ('" +
                 Id('c') + "', 'RootDomain', 'committed', 1, NULL)");
        }
        Exec("BEGIN EXCLUSIVE; INSERT INTO Files VALUES ('" + Id('p') + "', 'RootDomain', 'pending', 1, NULL)");
    }
    ~PendingWriter() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    PendingWriter(const PendingWriter&) = delete;
    PendingWriter& operator=(const PendingWriter&) = delete;

private:
    void Exec(const std::string& sql) {
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
    }
    sqlite3* db_ = nullptr;
};

struct JournalMode {
    const char* Label;
    bool Wal;
    bool LiveWriter;
};

void PrintTo(const JournalMode& mode, std::ostream* os) {
    *os << mode.Label;
}

class ReadOnlyAccess : public ::testing::TestWithParam<JournalMode> {};

TEST_P(ReadOnlyAccess, BackupFolderIsUnchangedAndCommittedRowsAreRead) {
    const TempDir dir;
    SampleBackup backup;
    backup.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "sms"},
                    SampleFile{.Domain = "MediaDomain", .RelativePath = "Media/DCIM/IMG_0001.JPG", .Content = "jpg"}};
    testing::WriteSampleBackup(dir.Path(), backup);
    if (GetParam().Wal) {
        EXPECT_EQ(testing::RunSql(dir.Path() / "Manifest.db", "PRAGMA journal_mode=WAL"), "");
    }
    std::unique_ptr<PendingWriter> writer;
    if (GetParam().LiveWriter) {
        writer = std::make_unique<PendingWriter>(dir.Path() / "Manifest.db", GetParam().Wal);
    }
    const ScopedTmpDir tmp;
    const auto before = testing::SnapshotFolder(dir.Path());

    const ReadTree read = Read(dir.Path());

    EXPECT_EQ(testing::SnapshotFolder(dir.Path()), before);
    EXPECT_TRUE(tmp.IsEmpty()) << "a private copy was left behind";
    ASSERT_TRUE(read.Ok) << read.Failure;
    EXPECT_NE(Find(read, "/var/mobile/Library/SMS/sms.db"), nullptr);
    EXPECT_NE(Find(read, "/var/mobile/Media/DCIM/IMG_0001.JPG"), nullptr);
    EXPECT_EQ(Find(read, "/var/root/pending"), nullptr);
    if (GetParam().Wal && GetParam().LiveWriter) {
        EXPECT_NE(Find(read, "/var/root/committed"), nullptr) << "rows committed only to the -wal file were lost";
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ReadOnlyAccess,
                         ::testing::Values(JournalMode{"Rollback", false, false}, JournalMode{"Wal", true, false},
                                           JournalMode{"RollbackLockedByWriter", false, true},
                                           JournalMode{"WalWithLiveWalFile", true, true}));

TEST(ManifestDbRowColumns, RowWithDomainIsInsertedAndNullsAreEmpty) {
    BackupTree tree("/nonexistent/", ManifestKindDb);
    const std::string id = Id('a');
    marrowick::ManifestDbRow(tree, {id.c_str(), "AppDomain-demoapp", "Documents/a.txt", "1", nullptr});
    marrowick::ManifestDbRow(tree, {nullptr, nullptr, "x/y", "1", nullptr});
    marrowick::ManifestDbRow(tree, {nullptr, "KeychainDomain", nullptr, nullptr, nullptr});
    const FileNode* leaf = FindNode(tree.Root(), "/var/mobile/Applications/demoapp/Documents/a.txt");
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->FileID(), id);
    const FileNode* keychains = FindNode(tree.Root(), "/var/Keychains");
    ASSERT_NE(keychains, nullptr);
    EXPECT_TRUE(keychains->FileID().empty());
    EXPECT_EQ(keychains->Flags(), "");
    EXPECT_EQ(tree.NodeCount(), 7U);
}

} // namespace
} // namespace marrowick
