#include "core/backup/BackupTreeCache.h"
#include "core/backup/StoredFile.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/preview/EntryContent.h"
#include "core/preview/SqlitePreview.h"
#include "support/SampleBackup.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::SampleBackup;
using testing::SampleFile;
using testing::TempDir;

const SampleFile Notes{.RelativePath = "Library/Notes/notes.txt", .Content = "shopping: milk\n"};
const SampleFile Photo{.RelativePath = "Media/DCIM/IMG_0001.JPG", .Content = std::string(70000, 'p')};

// A sample backup with Notes and Photo, read into a tree.
class PreviewBackup {
public:
    explicit PreviewBackup(std::optional<testing::SampleEncryption> encryption = std::nullopt) {
        SampleBackup sample;
        sample.Encryption = std::move(encryption);
        sample.Files = {Notes, Photo};
        folder_ = testing::WriteSampleBackup(dir_.Path() / "backup", sample).string() + "/";
    }
    [[nodiscard]] const std::string& Folder() const { return folder_; }
    [[nodiscard]] fs::path StoredFile(const SampleFile& file) const {
        std::string name;
        AppendStoredFileName(name, testing::SampleFileID(file), ManifestKindDb);
        return fs::path(folder_) / name;
    }
    // The entry of file in the backup's tree, read afresh.
    [[nodiscard]] EntryToRead Entry(const std::string& path) const {
        const CachedBackupTree read = ReadBackupTree(folder_, ManifestKindDb);
        const FileNode* node = FindNode(read.Tree->Root(), path);
        return node == nullptr ? EntryToRead{} : EntryToRead::Of(*node);
    }
    [[nodiscard]] Result<std::string> Read(const std::string& path, std::size_t maxBytes = MaxPreviewBytes) const {
        return ReadEntryContent(Entry(path), folder_, ManifestKindDb, maxBytes);
    }

private:
    TempDir dir_;
    std::string folder_;
};

TEST(EntryContent, PlainFileIsReadWhole) {
    const PreviewBackup backup;
    EXPECT_EQ(backup.Read("/var/mobile/Library/Notes/notes.txt").Value(), Notes.Content);
    EXPECT_EQ(backup.Read("/var/mobile/Media/DCIM/IMG_0001.JPG").Value(), Photo.Content);
}

TEST(EntryContent, EncryptedFileIsReadDecryptedOnceTheBackupIsUnlockedAndRefusedBefore) {
    const PreviewBackup backup(testing::SampleEncryption{});
    const std::string path = "/var/mobile/Media/DCIM/IMG_0001.JPG";
    Result<UnlockedBackup> unlocked = UnlockBackup(backup.Folder(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(unlocked);
    auto shared = std::make_shared<const UnlockedBackup>(std::move(*unlocked));
    const EntryToRead entry = [&] {
        // The tree of an encrypted Manifest.db is read only once the backup is unlocked.
        KeepUnlockedBackup(shared);
        return backup.Entry(path);
    }();
    EXPECT_EQ(ReadEntryContent(entry, backup.Folder(), ManifestKindDb).Value(), Photo.Content);
    EXPECT_EQ(
        ReadEntryContent(backup.Entry("/var/mobile/Library/Notes/notes.txt"), backup.Folder(), ManifestKindDb).Value(),
        Notes.Content);

    ForgetUnlockedBackups();
    const Result<std::string> locked = ReadEntryContent(entry, backup.Folder(), ManifestKindDb);
    ASSERT_FALSE(locked);
    EXPECT_EQ(locked.Error().Cause, FailureCause::Encrypted);
}

struct RefusedCase {
    const char* Name;
    std::function<void(const PreviewBackup&)> Prepare;
    std::string Path;
    std::size_t MaxBytes;
    FailureStep Step;
    FailureCause Cause;
    int Error = 0;
};

void PrintTo(const RefusedCase& row, std::ostream* os) {
    *os << row.Name;
}

class EntryRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(EntryRefused, WithTheStepAndCauseAndNothingRead) {
    const PreviewBackup backup;
    if (GetParam().Prepare) {
        GetParam().Prepare(backup);
    }
    const Result<std::string> read = backup.Read(GetParam().Path, GetParam().MaxBytes);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.Error().Step, GetParam().Step);
    EXPECT_EQ(read.Error().Cause, GetParam().Cause);
    EXPECT_EQ(read.Error().Error, GetParam().Error);
    EXPECT_EQ(read.Error().Path, GetParam().Path);
}

const std::string NotesPath = "/var/mobile/Library/Notes/notes.txt";

INSTANTIATE_TEST_SUITE_P(
    Rows, EntryRefused,
    ::testing::Values(
        RefusedCase{"Folder", {}, "/var/mobile/Library", MaxPreviewBytes, FailureStep::Open, FailureCause::Folder},
        RefusedCase{"Missing", [](const PreviewBackup& b) { fs::remove(b.StoredFile(Notes)); }, NotesPath,
                    MaxPreviewBytes, FailureStep::Open, FailureCause::System, ENOENT},
        RefusedCase{"Symlink",
                    [](const PreviewBackup& b) {
                        fs::remove(b.StoredFile(Notes));
                        fs::create_symlink(b.StoredFile(Photo), b.StoredFile(Notes));
                    },
                    NotesPath, MaxPreviewBytes, FailureStep::Open, FailureCause::Link},
        RefusedCase{"Fifo",
                    [](const PreviewBackup& b) {
                        fs::remove(b.StoredFile(Notes));
                        ASSERT_EQ(::mkfifo(b.StoredFile(Notes).c_str(), 0600), 0);
                    },
                    NotesPath, MaxPreviewBytes, FailureStep::Open, FailureCause::NotRegularFile},
        RefusedCase{"TooLarge", {}, NotesPath, Notes.Content.size() - 1, FailureStep::Read, FailureCause::TooLarge}),
    [](const ::testing::TestParamInfo<RefusedCase>& row) { return std::string(row.param.Name); });

TEST(EntryContent, StoppedReadFailsAsCancelled) {
    const PreviewBackup backup;
    std::stop_source stop;
    stop.request_stop();
    const Result<std::string> read =
        ReadEntryContent(backup.Entry(NotesPath), backup.Folder(), ManifestKindDb, MaxPreviewBytes, stop.get_token());
    ASSERT_FALSE(read);
    EXPECT_EQ(read.Error().Error, ECANCELED);
}

// A database file made with SQL, as its bytes.
std::string DatabaseBytes(const std::string& sql) {
    const TempDir dir;
    const fs::path file = dir.Path() / "db.sqlite";
    EXPECT_EQ(testing::RunSql(file, sql), "");
    return testing::ReadFile(file);
}

const std::string MessagesSql = "CREATE TABLE message(id INTEGER PRIMARY KEY, text TEXT, attachment BLOB, rate REAL);"
                                "CREATE TABLE handle(id TEXT);"
                                "CREATE VIEW recent AS SELECT * FROM message;"
                                "CREATE VIRTUAL TABLE search USING fts5(body);"
                                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
                                "INSERT INTO message SELECT i, 'message ' || i, NULL, i / 4.0 FROM n;"
                                "UPDATE message SET attachment = x'010203', text = NULL WHERE id = 2;"
                                "UPDATE message SET text = 'caf\xC3\xA9' || printf('%.300c', 'x') WHERE id = 3;";

TEST(SqlitePreview, ListsTablesAndTheFirstRowsAsText) {
    Result<SqlitePreview> preview = SqlitePreview::Open(DatabaseBytes(MessagesSql));
    ASSERT_TRUE(preview) << preview.Error().Detail;
    // Views and virtual tables are left out; the virtual table's own storage tables are ordinary ones.
    const std::vector<std::string> tables = preview->Tables();
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "recent"), 0);
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "search"), 0);
    EXPECT_EQ(tables.front(), "handle");
    EXPECT_EQ(tables[1], "message");

    const Result<TableRows> rows = preview->FirstRows("message", 100);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->Columns, (std::vector<std::string>{"id", "text", "attachment", "rate"}));
    ASSERT_EQ(rows->Rows.size(), 100U);
    EXPECT_TRUE(rows->More);
    EXPECT_EQ(rows->Rows[0], (std::vector<std::string>{"1", "message 1", "NULL", "0.25"}));
    EXPECT_EQ(rows->Rows[1][1], "NULL");
    EXPECT_EQ(rows->Rows[1][2], "<blob 3 bytes>");
    EXPECT_EQ(rows->Rows[2][1], "caf\xC3\xA9" + std::string(SqlitePreview::MaxCellBytes - 5, 'x') + "\xE2\x80\xA6");
    EXPECT_FALSE(preview->FirstRows("handle", 100)->More);
    EXPECT_EQ(preview->FirstRows("no such table", 100).Error().Cause, FailureCause::Library);
}

TEST(SqlitePreview, WalDatabaseIsReadFromItsCopyAlone) {
    const TempDir dir;
    const fs::path file = dir.Path() / "sms.db";
    ASSERT_EQ(testing::RunSql(file, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES ('kept');"
                                    "PRAGMA wal_checkpoint(TRUNCATE);"),
              "");
    const std::string bytes = testing::ReadFile(file);
    ASSERT_EQ(bytes[18], 2);
    const auto before = testing::SnapshotFolder(dir.Path());
    Result<SqlitePreview> preview = SqlitePreview::Open(bytes);
    ASSERT_TRUE(preview) << preview.Error().Detail;
    EXPECT_EQ(preview->FirstRows("t", 100)->Rows, (std::vector<std::vector<std::string>>{{"kept"}}));
    EXPECT_EQ(testing::SnapshotFolder(dir.Path()), before);
}

TEST(SqlitePreview, WorkPastTheBoundFailsAsTooMuchWork) {
    std::string sql = "PRAGMA page_size = 512; BEGIN;";
    for (int i = 0; i < 500; ++i) {
        sql += "CREATE TABLE t" + std::to_string(i) + "(x);";
    }
    sql += "COMMIT;";
    const std::string bytes = DatabaseBytes(sql);
    Result<SqlitePreview> preview = SqlitePreview::Open(bytes);
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->Tables().size(), 500U);
    const Result<SqlitePreview> tight = SqlitePreview::Open(bytes, 1000);
    ASSERT_FALSE(tight);
    EXPECT_EQ(tight.Error().Cause, FailureCause::TooMuchWork);
}

struct BrokenDatabaseCase {
    const char* Name;
    std::function<std::string(std::string)> Damage;
};

void PrintTo(const BrokenDatabaseCase& row, std::ostream* os) {
    *os << row.Name;
}

class BrokenDatabase : public ::testing::TestWithParam<BrokenDatabaseCase> {};

TEST_P(BrokenDatabase, FailsWithSqlitesWordsAndNeverCrashes) {
    const std::string bytes = GetParam().Damage(DatabaseBytes(MessagesSql));
    Result<SqlitePreview> preview = SqlitePreview::Open(bytes);
    if (preview) {
        const Result<TableRows> rows = preview->FirstRows("message", 100);
        ASSERT_FALSE(rows);
        EXPECT_EQ(rows.Error().Cause, FailureCause::Library);
        EXPECT_FALSE(rows.Error().Detail.empty());
    } else {
        EXPECT_EQ(preview.Error().Step, FailureStep::Open);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BrokenDatabase,
    ::testing::Values(BrokenDatabaseCase{"NotSqlite", [](std::string) { return "bplist00"s; }},
                      BrokenDatabaseCase{"HeaderOnly", [](std::string b) { return b.substr(0, 16); }},
                      BrokenDatabaseCase{"CutAfterSchema", [](std::string b) { return b.substr(0, 4096 * 3); }},
                      BrokenDatabaseCase{
                          "PagesOverwritten",
                          [](std::string b) { return b.replace(4096 * 3, b.npos, b.size() - 4096 * 3, '\xA5'); }},
                      BrokenDatabaseCase{"SchemaPageGarbled",
                                         [](std::string b) { return b.replace(100, 4096 - 100, 4096 - 100, '\x5A'); }}),
    [](const ::testing::TestParamInfo<BrokenDatabaseCase>& row) { return std::string(row.param.Name); });

} // namespace
} // namespace marrowick
