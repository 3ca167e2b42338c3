#include "core/backup/BackupTreeCache.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::SampleManifest;
using testing::WriteFile;

class OpeningBackups : public ::testing::Test {
protected:
    void SetUp() override { ClearBackupTreeCache(); }
    void TearDown() override { ClearBackupTreeCache(); }

    fs::path Write(const std::string& name, SampleManifest manifest = SampleManifest::Db, bool encrypted = false) {
        return testing::WriteSampleBackup(dir.Path() / name,
                                          {.Manifest = manifest,
                                           .Encrypted = encrypted,
                                           .Files = {{.RelativePath = "Library/SMS/sms.db", .Content = "sms"}}});
    }

    testing::TempDir dir;
};

TEST_F(OpeningBackups, ReadableBackupIsOkAndBecomesCurrent) {
    const fs::path folder = Write("ok");
    const BackupTreeResult result = OpenBackupTree(folder.string(), ManifestKindDb);
    EXPECT_EQ(result.Status, TreeStatus::Ok);
    EXPECT_TRUE(TreeProblemText(result.Status, result.Problem).empty());
    ASSERT_NE(result.Root, nullptr);
    EXPECT_EQ(CurrentRoot, result.Root);
    EXPECT_EQ(CurrentBackupPath, folder.string() + "/");
    EXPECT_EQ(CurrentManifestKind, ManifestKindDb);
    EXPECT_NE(FindNode("/var/mobile/Library/SMS/sms.db"), nullptr);
}

TEST_F(OpeningBackups, ManifestIsReadOncePerFolder) {
    const fs::path folder = Write("once");
    const BackupTreeResult first = OpenBackupTree(folder.string(), ManifestKindDb);
    fs::remove(folder / "Manifest.db");
    const BackupTreeResult again = OpenBackupTree(folder.string() + "/", ManifestKindDb);
    EXPECT_EQ(again.Root, first.Root);
    EXPECT_EQ(again.Status, TreeStatus::Ok);
    EXPECT_EQ(BackupTreeCache.size(), 1U);

    ClearBackupTreeCache();
    EXPECT_EQ(CurrentRoot, nullptr);
    const BackupTreeResult reread = OpenBackupTree(folder.string(), ManifestKindDb);
    EXPECT_EQ(reread.Status, TreeStatus::Unreadable);
    EXPECT_EQ(reread.Root->FirstChild(), nullptr);
}

TEST_F(OpeningBackups, EachFolderHasItsOwnTree) {
    const fs::path a = Write("a");
    const fs::path b = testing::WriteSampleBackup(
        dir.Path() / "b", {.Files = {{.Domain = "RootDomain", .RelativePath = "only-in-b", .Content = "b"}}});

    const BackupTreeResult inA = OpenBackupTree(a.string(), ManifestKindDb);
    const BackupTreeResult inB = OpenBackupTree(b.string(), ManifestKindDb);
    EXPECT_NE(inA.Root, inB.Root);
    EXPECT_EQ(FindNode(inA.Root, "/var/root/only-in-b"), nullptr);
    EXPECT_NE(FindNode(inB.Root, "/var/root/only-in-b"), nullptr);
    EXPECT_EQ(OpenBackupTree(a.string(), ManifestKindDb).Root, inA.Root);
    EXPECT_EQ(CurrentRoot, inA.Root);
}

TEST_F(OpeningBackups, KindSelectsTheReader) {
    const fs::path mbdb = Write("mbdb", SampleManifest::Mbdb);
    const BackupTreeResult asMbdb = OpenBackupTree(mbdb.string(), ManifestKindMbdb);
    EXPECT_EQ(asMbdb.Status, TreeStatus::Ok);
    EXPECT_NE(FindNode(asMbdb.Root, "/var/mobile/Library/SMS/sms.db"), nullptr);
    EXPECT_EQ(CurrentManifestKind, ManifestKindMbdb);

    const fs::path db = Write("db-only");
    const BackupTreeResult otherKind = OpenBackupTree(db.string(), ManifestKindMbdb);
    EXPECT_EQ(otherKind.Status, TreeStatus::Unreadable);
    EXPECT_EQ(TreeProblemText(otherKind.Status, otherKind.Problem), "Manifest.mbdb: No such file or directory");
}

TEST_F(OpeningBackups, EncryptedFlagInXmlManifestPlistIsReported) {
    const fs::path folder = Write("xml", SampleManifest::Db, true);
    const BackupTreeResult result = OpenBackupTree(folder.string(), ManifestKindDb);
    EXPECT_EQ(result.Status, TreeStatus::Encrypted);
    EXPECT_NE(TreeProblemText(result.Status, result.Problem).find("encrypted"), std::string::npos);
    // The tree is still what the manifest gave.
    EXPECT_NE(FindNode(result.Root, "/var/mobile/Library/SMS/sms.db"), nullptr);
}

TEST_F(OpeningBackups, EncryptedFlagInBinaryManifestPlistIsReported) {
    const fs::path yes = Write("binary-true", SampleManifest::Mbdb);
    WriteFile(yes / "Manifest.plist",
              testing::MakeBinaryPlist({{"Version", std::string("10.0")}, {"IsEncrypted", true}}));
    const fs::path no = Write("binary-false", SampleManifest::Mbdb);
    WriteFile(no / "Manifest.plist", testing::MakeBinaryPlist({{"IsEncrypted", false}}));

    EXPECT_EQ(OpenBackupTree(yes.string(), ManifestKindMbdb).Status, TreeStatus::Encrypted);
    EXPECT_EQ(OpenBackupTree(no.string(), ManifestKindMbdb).Status, TreeStatus::Ok);
}

TEST_F(OpeningBackups, ManifestDbThatIsNotSqliteMeansEncrypted) {
    const fs::path folder = Write("scrambled");
    std::string scrambled(8192, '\0');
    for (std::size_t i = 0; i < scrambled.size(); ++i) {
        scrambled[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    WriteFile(folder / "Manifest.db", scrambled);
    const BackupTreeResult result = OpenBackupTree(folder.string(), ManifestKindDb);
    EXPECT_EQ(result.Status, TreeStatus::Encrypted);
    EXPECT_NE(TreeProblemText(result.Status, result.Problem).find("encrypted"), std::string::npos);
    EXPECT_EQ(result.Root->FirstChild(), nullptr);
}

struct UnreadableCase {
    const char* Label;
    void (*Damage)(const fs::path& folder);
    const char* Reason;
};

void PrintTo(const UnreadableCase& c, std::ostream* os) {
    *os << c.Label;
}

class UnreadableManifest : public OpeningBackups, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableManifest, IsReportedWithReason) {
    const fs::path folder = Write("damaged");
    GetParam().Damage(folder);
    const BackupTreeResult result = OpenBackupTree(folder.string(), ManifestKindDb);
    EXPECT_EQ(result.Status, TreeStatus::Unreadable);
    EXPECT_EQ(TreeProblemText(result.Status, result.Problem), GetParam().Reason);
    EXPECT_EQ(result.Root->FirstChild(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, UnreadableManifest,
    ::testing::Values(
        UnreadableCase{"Missing", [](const fs::path& f) { fs::remove(f / "Manifest.db"); },
                       "Manifest.db: No such file or directory"},
        UnreadableCase{"Empty", [](const fs::path& f) { WriteFile(f / "Manifest.db", ""); },
                       "Manifest.db: no such table: Files"},
        UnreadableCase{"ShorterThanHeader", [](const fs::path& f) { WriteFile(f / "Manifest.db", "SQLite"); },
                       "Manifest.db: file is not a database"},
        UnreadableCase{"NoFilesTable",
                       [](const fs::path& f) { EXPECT_EQ(testing::RunSql(f / "Manifest.db", "DROP TABLE Files"), ""); },
                       "Manifest.db: no such table: Files"}));

} // namespace
} // namespace marrowick
