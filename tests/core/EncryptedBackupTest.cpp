#include "core/backup/BackupTreeCache.h"
#include "core/backup/StoredFile.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/export/ExportEngine.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::SampleBackup;
using testing::SampleEncryption;
using testing::SampleFile;
using testing::SampleManifest;
using testing::TempDir;

// Sizes around the block length, over a buffer's length, large enough to be written by a second thread; and a
// record whose size disagrees with the content (the content wins).
const std::vector<SampleFile> Files = {
    {.RelativePath = "Library/SMS/sms.db", .Content = std::string((5 << 20) + 17, 's'), .MTime = 1577836800},
    {.RelativePath = "Library/Notes/chunks", .Content = std::string(300000, 'n')},
    {.RelativePath = "Library/Notes/empty"},
    {.RelativePath = "Library/Notes/sixteen", .Content = "0123456789abcdef"},
    {.RelativePath = "Library/Notes/seventeen", .Content = "0123456789abcdefg"},
    {.RelativePath = "Library/Notes/changed.db", .Content = std::string(40, 'c'), .RecordedSize = 3},
};

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(entry.path(), folder).string());
    }
    return names;
}

class EncryptedBackup : public ::testing::TestWithParam<SampleManifest> {
protected:
    void TearDown() override {
        ClearBackupTreeCache();
        ForgetUnlockedBackups();
    }

    ManifestKind Kind() const { return GetParam() == SampleManifest::Db ? ManifestKindDb : ManifestKindMbdb; }

    fs::path StoredFile(const fs::path& folder, const SampleFile& file) const {
        std::string name;
        AppendStoredFileName(name, testing::SampleFileID(file), Kind());
        return folder / name;
    }
};

TEST_P(EncryptedBackup, OpensWithItsPasswordOnlyAndExportsEveryFileDecryptedWithItsRecordTime) {
    const TempDir dir;
    const testing::ScopedTmpDir tmp; // made second, so that it holds only what the program puts there
    SampleBackup sample;
    sample.Manifest = GetParam();
    sample.Encryption = SampleEncryption{};
    sample.Files = Files;
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "backup", sample);
    const std::set<std::string> backupFiles = Listing(folder);

    EXPECT_EQ(OpenBackupTree(folder.string(), Kind()).Status, TreeStatus::Encrypted);
    const SecretBytes wrong = SecretBytes::CopyOf("battery staple");
    ASSERT_FALSE(UnlockBackup(folder.string(), wrong));
    EXPECT_EQ(UnlockBackup(folder.string(), wrong).Error().Cause, FailureCause::WrongPassword);
    Result<UnlockedBackup> unlocked = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(unlocked);
    KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
    ForgetCachedTree(folder.string());

    const BackupTreeResult tree = OpenBackupTree(folder.string(), Kind());
    ASSERT_EQ(tree.Status, TreeStatus::Ok) << TreeProblemText(tree.Status, tree.Problem);
    const FileNode* library = FindNode(tree.Root, "/var/mobile/Library");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(FindNode(tree.Root, "/var/mobile/Library/Notes/changed.db")->Size(), 3U);
    // Nothing decrypted was written beside the backup or into the temporary folder.
    EXPECT_EQ(Listing(folder), backupFiles);
    EXPECT_TRUE(fs::is_empty(tmp.Path()));

    fs::create_directory(dir.Path() / "out");
    ExportParameters parameters;
    parameters.SelectedNode = library;
    parameters.BackupFolder = folder.string();
    parameters.ManifestKind = Kind();
    parameters.TargetFolder = (dir.Path() / "out").string();
    const ExportResult result = RunExport(parameters);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.FilesCopied, Files.size());
    for (const SampleFile& file : Files) {
        const fs::path exported =
            dir.Path() / "out" / "Library" / fs::path(file.RelativePath).lexically_relative("Library");
        EXPECT_EQ(testing::ReadFile(exported.string()), file.Content) << file.RelativePath;
    }
    struct stat status {};
    ASSERT_EQ(::stat((dir.Path() / "out/Library/SMS/sms.db").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1577836800);
}

// Files are read and decrypted ahead of their writing: failures, files passed over (their folder failed) and files
// after them keep their places.
TEST_P(EncryptedBackup, FilesThatFailLeaveNothingAndTheOthersExportAsTheyAre) {
    const TempDir dir;
    SampleBackup sample;
    sample.Manifest = GetParam();
    sample.Encryption = SampleEncryption{};
    sample.Files = Files;
    sample.Files.push_back({.RelativePath = "Library/Cookies/passed-over", .Content = "c"});
    sample.Files.push_back({.RelativePath = "Library/Mail/after", .Content = std::string(70000, 'm')});
    sample.Files.push_back({.RelativePath = "Library/Notes/gone", .StoredFileMissing = true});
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "backup", sample);
    // The last block of a large and of a small file decrypts to another padding.
    for (const SampleFile& file : {Files[0], Files[1]}) {
        const fs::path damaged = StoredFile(folder, file);
        std::string bytes = testing::ReadFile(damaged.string());
        bytes.back() = static_cast<char>(bytes.back() ^ 0x5A);
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
    }
    Result<UnlockedBackup> unlocked = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(unlocked);
    KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
    const BackupTreeResult tree = OpenBackupTree(folder.string(), Kind());
    ASSERT_EQ(tree.Status, TreeStatus::Ok);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out / "Library");
    std::ofstream(out / "Library/Cookies") << "a file where the folder goes";

    ExportParameters parameters;
    parameters.SelectedNode = FindNode(tree.Root, "/var/mobile/Library");
    parameters.BackupFolder = folder.string();
    parameters.ManifestKind = Kind();
    parameters.TargetFolder = out.string();
    const ExportResult result = RunExport(parameters);

    std::map<std::string, FailureCause> failed;
    for (const ExportFailure& failure : result.Failures) {
        failed[failure.DevicePath] = failure.Problem.Cause;
    }
    const std::string library = "/var/mobile/Library/";
    EXPECT_EQ(failed, (std::map<std::string, FailureCause>{
                          {library + "Cookies", FailureCause::NotFolder},
                          {library + "Cookies/passed-over", FailureCause::ParentFailed},
                          {library + "Notes/chunks", FailureCause::DamagedStoredFile},
                          {library + "Notes/gone", FailureCause::System},
                          {library + "SMS/sms.db", FailureCause::DamagedStoredFile},
                      }));
    EXPECT_EQ(result.NotInBackupCount, 1U);
    EXPECT_NE(ExportFailureReason(result.Failures.back()).find("does not decrypt"), std::string::npos);
    EXPECT_EQ(result.FilesCopied, Files.size() - 1);
    EXPECT_EQ(testing::ReadFile((out / "Library/Mail/after").string()), sample.Files[Files.size() + 1].Content);
    EXPECT_EQ(testing::ReadFile((out / "Library/Notes/seventeen").string()), Files[4].Content);
    EXPECT_EQ(Listing(out), (std::set<std::string>{"Library", "Library/Cookies", "Library/Mail", "Library/Mail/after",
                                                   "Library/Notes", "Library/Notes/changed.db", "Library/Notes/empty",
                                                   "Library/Notes/seventeen", "Library/Notes/sixteen", "Library/SMS"}));
}

// More files than are read ahead: cancelling stops the reading too.
TEST_P(EncryptedBackup, CancellingStopsTheReadingAhead) {
    const TempDir dir;
    SampleBackup sample;
    sample.Manifest = GetParam();
    sample.Encryption = SampleEncryption{};
    for (int i = 0; i < 30; ++i) {
        sample.Files.push_back({.RelativePath = "Media/" + std::to_string(100 + i), .Content = std::string(1000, 'p')});
    }
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "backup", sample);
    Result<UnlockedBackup> unlocked = UnlockBackup(folder.string(), SecretBytes::CopyOf("correct horse"));
    ASSERT_TRUE(unlocked);
    KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
    const BackupTreeResult tree = OpenBackupTree(folder.string(), Kind());
    ASSERT_EQ(tree.Status, TreeStatus::Ok);

    ExportCancelled = 0;
    ExportParameters parameters;
    parameters.SelectedNode = FindNode(tree.Root, "/var/mobile/Media");
    parameters.BackupFolder = folder.string();
    parameters.ManifestKind = Kind();
    parameters.TargetFolder = dir.Path().string();
    parameters.Progress = [](const ExportProgress& progress) {
        if (progress.Node->Name() == "102") {
            ExportCancelled = 1;
        }
    };
    const ExportResult result = RunExport(parameters);
    ExportCancelled = 0;
    EXPECT_TRUE(result.Cancelled);
    EXPECT_EQ(result.FilesCopied, 3U);
}

INSTANTIATE_TEST_SUITE_P(BothManifests, EncryptedBackup, ::testing::Values(SampleManifest::Db, SampleManifest::Mbdb));

} // namespace
} // namespace marrowick
