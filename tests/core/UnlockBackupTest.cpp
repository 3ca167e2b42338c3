#include "core/backup/EntryRecord.h"
#include "core/backup/StoredFile.h"
#include "core/crypto/UnlockedBackup.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::SampleBackup;
using testing::SampleEncryption;
using testing::SampleFile;
using testing::SampleManifest;

const SampleFile Sms{.RelativePath = "Library/SMS/sms.db", .Content = std::string(5000, 's')};
const SampleFile Note{.RelativePath = "Library/Notes/a.txt", .Content = "Test data"};
const SampleFile Empty{.RelativePath = "Library/empty"};

struct RoundTrip {
    const char* Name;
    SampleManifest Manifest = SampleManifest::Db;
    bool BinaryManifestPlist = false;
    SampleEncryption Encryption{};
};

void PrintTo(const RoundTrip& row, std::ostream* os) {
    *os << row.Name;
}

class EncryptedSamples : public ::testing::TestWithParam<RoundTrip> {};

// A record's wrapped key: from the decrypted Manifest.db's row, or as the mbdb record holds it.
std::string RecordKey(const UnlockedBackup& backup, const SampleFile& file) {
    const std::string id = testing::SampleFileID(file);
    if (!fs::exists(backup.Folder() + "Manifest.db")) {
        const std::string key = testing::MakeWrappedRecordKey(3, testing::SampleFileKey(id));
        EXPECT_NE(testing::ReadFile(backup.Folder() + "Manifest.mbdb").find(key), std::string::npos);
        return key;
    }
    const Result<std::unique_ptr<ManifestDbConnection>> database = backup.OpenManifestDb();
    EXPECT_TRUE(database);
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2((*database)->Db(), "SELECT file FROM Files WHERE fileID = ?", -1, &raw, nullptr);
    const SqliteStatement query(raw);
    sqlite3_bind_text(query.get(), 1, id.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(query.get()), SQLITE_ROW);
    const std::string blob(static_cast<const char*>(sqlite3_column_blob(query.get(), 0)),
                           static_cast<std::size_t>(sqlite3_column_bytes(query.get(), 0)));
    EntryRecord record;
    EXPECT_TRUE(DecodeEntryRecord(blob, record));
    return record.EncryptionKey;
}

std::string DecryptStoredFile(const UnlockedBackup& backup, const SampleFile& file, ManifestKind kind) {
    std::string name;
    AppendStoredFileName(name, testing::SampleFileID(file), kind);
    const std::string stored = testing::ReadFile(backup.Folder() + name);
    Result<FileDecryptor> decryptor = backup.MakeFileDecryptor(RecordKey(backup, file));
    EXPECT_TRUE(decryptor);
    std::string content(stored.size() + FileDecryptor::BlockSize, '\0');
    auto* out = reinterpret_cast<unsigned char*>(content.data());
    const std::size_t written = decryptor->Update(stored, out).Value();
    content.resize(written + decryptor->Finish(out + written).Value());
    return content;
}

TEST_P(EncryptedSamples, UnlockThenDecryptTheFileListAndTheFiles) {
    const testing::TempDir dir;
    const fs::path folder = testing::WriteSampleBackup(
        dir.Path() / "b", {.BinaryManifestPlist = GetParam().BinaryManifestPlist,
                           .Manifest = GetParam().Manifest,
                           .Encryption = GetParam().Encryption,
                           .Files = {Sms, Note, Empty, {.RelativePath = "Library", .IsFolder = true}}});
    const Result<EncryptionInfo> info = ReadEncryptionInfo(folder.string());
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->Encrypted);
    EXPECT_TRUE(info->HasKeybag);
    const Result<UnlockedBackup> backup = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(backup);
    const bool db = GetParam().Manifest == SampleManifest::Db;
    for (const SampleFile& file : {Sms, Note, Empty}) {
        EXPECT_EQ(DecryptStoredFile(*backup, file, db ? ManifestKindDb : ManifestKindMbdb), file.Content);
    }
}

INSTANTIATE_TEST_SUITE_P(UnlockBackup, EncryptedSamples,
                         ::testing::Values(RoundTrip{"ManifestDb"},
                                           RoundTrip{"ManifestDbBinaryPlistOneStageUnpadded",
                                                     SampleManifest::Db,
                                                     true,
                                                     {.Keybag = {.TwoStage = false}, .PaddedManifestDb = false}},
                                           RoundTrip{"ManifestMbdbBinaryPlist", SampleManifest::Mbdb, true}),
                         [](const auto& row) { return std::string(row.param.Name); });

struct Refusal {
    const char* Name;
    SampleBackup Backup;
    FailureCause Verdict;
    bool WhenOpeningManifestDb = false;
};

void PrintTo(const Refusal& row, std::ostream* os) {
    *os << row.Name;
}

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, NameWhatIsWrong) {
    const testing::TempDir dir;
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "b", GetParam().Backup);
    Result<UnlockedBackup> backup = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    if (GetParam().WhenOpeningManifestDb) {
        ASSERT_TRUE(backup);
        const Result<std::unique_ptr<ManifestDbConnection>> database = backup->OpenManifestDb();
        ASSERT_FALSE(database);
        EXPECT_EQ(database.Error().Cause, GetParam().Verdict);
        return;
    }
    ASSERT_FALSE(backup);
    EXPECT_EQ(backup.Error().Cause, GetParam().Verdict);
}

INSTANTIATE_TEST_SUITE_P(
    UnlockBackup, Refusals,
    ::testing::Values(Refusal{"PlainBackup", {}, FailureCause::NotEncrypted},
                      Refusal{"EncryptedWithoutKeybag", {.Encrypted = true}, FailureCause::DamagedKeybag},
                      Refusal{"ManifestKeyOfALockedClass",
                              {.Encryption = SampleEncryption{.ManifestKeyClass = 7}},
                              FailureCause::DamagedManifestKey,
                              true}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST(UnlockBackup, DamagedManifestPlistIsSaidSoAndAMissingOneIsNoEncryption) {
    const testing::TempDir dir;
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "b", {.Encryption = SampleEncryption{}});
    testing::WriteFile(folder / "Manifest.plist", "bplist00 cut");
    const Result<UnlockedBackup> backup = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_FALSE(backup);
    EXPECT_EQ(backup.Error().Cause, FailureCause::DamagedManifestPlist);
    EXPECT_FALSE(ReadEncryptionInfo(folder.string()));
    fs::remove(folder / "Manifest.plist");
    const Result<EncryptionInfo> info = ReadEncryptionInfo(folder.string());
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->Encrypted);
}

// iOS 10.0 and 10.1: IsEncrypted, no ManifestKey, and a plain Manifest.db that is read as it is.
TEST(UnlockBackup, PlainManifestDbWithoutManifestKeyOpens) {
    const testing::TempDir dir;
    const fs::path folder = testing::WriteSampleBackup(
        dir.Path() / "b", {.Manifest = SampleManifest::Mbdb, .Encryption = SampleEncryption{}, .Files = {Note}});
    testing::WriteManifestDb(folder / "Manifest.db", {{.FileID = "ab", .Domain = "HomeDomain", .RelativePath = "a"}});
    const Result<UnlockedBackup> backup = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(backup);
    EXPECT_TRUE(backup->OpenManifestDb());
    testing::WriteFile(folder / "Manifest.db", std::string(4096, 'x'));
    const Result<std::unique_ptr<ManifestDbConnection>> damaged = backup->OpenManifestDb();
    ASSERT_FALSE(damaged);
    EXPECT_EQ(damaged.Error().Cause, FailureCause::DamagedManifestKey);
}

// Each connection reads its own file, and a change to the file is seen by the next one.
TEST(UnlockBackup, ManifestDbConnectionsReadTheirOwnFile) {
    const testing::TempDir dir;
    const fs::path first =
        testing::WriteSampleBackup(dir.Path() / "a", {.Encryption = SampleEncryption{}, .Files = {Note}});
    const fs::path second =
        testing::WriteSampleBackup(dir.Path() / "b", {.Encryption = SampleEncryption{}, .Files = {Sms}});
    const Result<UnlockedBackup> a = UnlockBackup(first.string(), SecretBytes::CopyOf("correct horse"));
    const Result<UnlockedBackup> b = UnlockBackup(second.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(RecordKey(*a, Note),
              testing::MakeWrappedRecordKey(3, testing::SampleFileKey(testing::SampleFileID(Note))));
    const Result<std::unique_ptr<ManifestDbConnection>> open = a->OpenManifestDb();
    ASSERT_TRUE(open);
    EXPECT_EQ(RecordKey(*b, Sms), testing::MakeWrappedRecordKey(3, testing::SampleFileKey(testing::SampleFileID(Sms))));
    testing::WriteFile(second / "Manifest.db", std::string(4096, 'x'));
    const Result<std::unique_ptr<ManifestDbConnection>> damaged = b->OpenManifestDb();
    ASSERT_FALSE(damaged);
    EXPECT_EQ(damaged.Error().Cause, FailureCause::DamagedManifestDb);
}

} // namespace
} // namespace marrowick
