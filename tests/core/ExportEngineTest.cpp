#include "core/export/ExportEngine.h"

#include "core/backup/BackupTreeCache.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::SampleBackup;
using testing::SampleFile;
using testing::TempDir;
using testing::WriteFile;

std::int64_t MTimeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mtim.tv_sec;
}

// Every name below folder, relative to it, links not followed.
std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(entry.path(), folder).string());
    }
    return names;
}

// A Manifest.mbdb-kind tree over hand-written stored files: each entry keeps the size and time given to it.
class Export : public ::testing::Test {
protected:
    void SetUp() override {
        ExportCancelled = 0;
        fs::create_directories(backup);
        fs::create_directories(target);
    }
    void TearDown() override { ExportCancelled = 0; }

    const FileNode* AddFile(const std::string& path, const std::string& content, std::int64_t mtime = 1500000000,
                            const std::string& flags = "1") {
        const std::string id = testing::Sha1Hex(path);
        WriteFile(backup / id, content);
        const EntryRecord record{.Size = content.size(), .LastModified = mtime};
        tree.InsertIntoTree(FileEntry{path, id, flags, &record});
        return Node(path);
    }
    // An entry whose stored file the backup does not hold.
    const FileNode* AddMissing(const std::string& path, const std::string& flags = "1", std::uint64_t size = 10) {
        const EntryRecord record{.Size = size};
        tree.InsertIntoTree(FileEntry{path, testing::Sha1Hex(path), flags, &record});
        return Node(path);
    }
    const FileNode* Node(const std::string& path) const {
        const FileNode* node = FindNode(tree.Root(), path);
        EXPECT_NE(node, nullptr) << path;
        return node;
    }

    ExportResult Run(const FileNode* selected) {
        ExportParameters parameters = Parameters(selected);
        return RunExport(parameters);
    }
    ExportParameters Parameters(const FileNode* selected) {
        ExportParameters parameters;
        parameters.SelectedNode = selected;
        parameters.BackupFolder = backup.string() + "/";
        parameters.ManifestKind = ManifestKindMbdb;
        parameters.TargetFolder = target.string() + "/";
        parameters.Progress = [this](const ExportProgress& progress) { shown.push_back(progress); };
        return parameters;
    }

    TempDir dir;
    fs::path backup = dir.Path() / "backup";
    fs::path target = dir.Path() / "out";
    BackupTree tree{backup.string(), ManifestKindMbdb};
    std::vector<ExportProgress> shown;
};

// ---- The layout, from real sample backups ---------------------------------------------------------

class ExportSample : public ::testing::TestWithParam<testing::SampleManifest> {};

TEST_P(ExportSample, SingleFileLandsUnderItsDeviceNameWithItsBytes) {
    ExportCancelled = 0;
    TempDir dir;
    SampleBackup sample;
    sample.Manifest = GetParam();
    sample.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "the messages", .MTime = 1577836800},
                    SampleFile{.RelativePath = "Library/SMS/other.db", .Content = "not this one"}};
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "backup", sample);
    const ManifestKind kind = GetParam() == testing::SampleManifest::Db ? ManifestKindDb : ManifestKindMbdb;
    const CachedBackupTree read = ReadBackupTree(folder.string() + "/", kind);
    ASSERT_EQ(read.Status, TreeStatus::Ok);
    const FileNode* file = FindNode(read.Tree->Root(), "/var/mobile/Library/SMS/sms.db");
    ASSERT_NE(file, nullptr);
    fs::create_directory(dir.Path() / "out");

    ExportParameters parameters;
    parameters.SelectedNode = file;
    parameters.BackupFolder = folder.string(); // no trailing "/": the engine adds it
    parameters.ManifestKind = kind;
    parameters.TargetFolder = (dir.Path() / "out").string() + "/";
    const ExportResult result = RunExport(parameters);

    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.FilesCopied, 1U);
    EXPECT_EQ(Listing(dir.Path() / "out"), std::set<std::string>{"sms.db"});
    EXPECT_EQ(ReadFile(dir.Path() / "out" / "sms.db"), "the messages");
    EXPECT_EQ(MTimeOf(dir.Path() / "out" / "sms.db"), 1577836800);
}

INSTANTIATE_TEST_SUITE_P(BothManifests, ExportSample,
                         ::testing::Values(testing::SampleManifest::Db, testing::SampleManifest::Mbdb));

TEST(ExportSampleDb, StoredFilesMissingStillGiveTheFoldersAndAreReportedAsNotInBackup) {
    ExportCancelled = 0;
    TempDir dir;
    SampleBackup sample;
    sample.Files = {SampleFile{.RelativePath = "Media/DCIM", .IsFolder = true},
                    SampleFile{.RelativePath = "Media/DCIM/a.jpg", .Content = "a", .StoredFileMissing = true},
                    SampleFile{.RelativePath = "Media/Notes/b.txt", .Content = "b", .StoredFileMissing = true}};
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "backup", sample);
    const CachedBackupTree read = ReadBackupTree(folder.string() + "/", ManifestKindDb);
    fs::create_directory(dir.Path() / "out");

    ExportParameters parameters;
    parameters.SelectedNode = FindNode(read.Tree->Root(), "/var/mobile/Media");
    ASSERT_NE(parameters.SelectedNode, nullptr);
    parameters.BackupFolder = folder.string() + "/";
    parameters.TargetFolder = (dir.Path() / "out").string();
    const ExportResult result = RunExport(parameters);

    EXPECT_EQ(Listing(dir.Path() / "out"), (std::set<std::string>{"Media", "Media/DCIM", "Media/Notes"}));
    EXPECT_EQ(result.FilesCopied, 0U);
    EXPECT_EQ(result.FailedCount, 2U);
    EXPECT_EQ(result.NotInBackupCount, 2U);
    ASSERT_EQ(result.Failures.size(), 2U);
    EXPECT_EQ(result.Failures[0].DevicePath, "/var/mobile/Media/DCIM/a.jpg");
    EXPECT_EQ(result.Failures[0].Kind, ExportFailureKind::NotInBackup);
    EXPECT_EQ(result.Failures[1].DevicePath, "/var/mobile/Media/Notes/b.txt");
    EXPECT_NE(ExportFailureReason(result.Failures[1]).find("does not hold"), std::string::npos);
    EXPECT_FALSE(result.DiskFull);
}

// ---- Progress -------------------------------------------------------------------------------------

TEST_F(Export, TwoFilesOfThreeMegabytesShowZeroThenFiftyPercentBeforeEachCopy) {
    const std::string content(3145728, 'x');
    AddFile("/var/mobile/Big/one.bin", content);
    AddFile("/var/mobile/Big/two.bin", content);

    const ExportResult result = Run(Node("/var/mobile/Big"));

    ASSERT_EQ(shown.size(), 2U);
    EXPECT_TRUE(shown[0].TextsUpdated);
    EXPECT_EQ(shown[0].Node->Path(), "/var/mobile/Big/one.bin");
    EXPECT_EQ(shown[0].Percent, 0);
    EXPECT_EQ(FinishedStatusText(shown[0].Percent, shown[0].DoneBytes, shown[0].TotalBytes),
              "Finished:  0% (  0MB/  6MB)");
    EXPECT_EQ(shown[1].Percent, 50);
    EXPECT_EQ(FinishedStatusText(shown[1].Percent, shown[1].DoneBytes, shown[1].TotalBytes),
              "Finished: 50% (  3MB/  6MB)");
    EXPECT_EQ(shown[1].DoneBytes, 3145728);
    EXPECT_EQ(shown[1].TotalBytes, 6291456);
    EXPECT_EQ(result.FilesCopied, 2U);
    EXPECT_EQ(ReadFile(target / "Big" / "two.bin"), content);
    EXPECT_EQ(ReadFile(target / "Big" / "one.bin"), content);
}

TEST_F(Export, SizePassCountsFoldersAndFailedFilesCountIntoDoneBytes) {
    const EntryRecord folder{.Size = 4096};
    tree.InsertIntoTree(FileEntry{"/var/mobile/D", "", "2", &folder});
    AddMissing("/var/mobile/D/gone", "1", 1000);
    AddFile("/var/mobile/D/here", std::string(3000, 'h'));

    const ExportResult result = Run(Node("/var/mobile/D"));

    EXPECT_EQ(result.TotalBytes, 4096 + 1000 + 3000);
    ASSERT_EQ(shown.size(), 2U);
    EXPECT_EQ(shown[1].DoneBytes, 1000);
    EXPECT_EQ(shown[1].Percent, 12); // 1000 * 100 / 8096 = 12.35
    EXPECT_EQ(result.DoneBytes, 4000);
    EXPECT_EQ(result.FilesCopied, 1U);
}

TEST_F(Export, FilesAllOfSizeZeroShowNoProgressTextsButAreCopied) {
    AddFile("/var/mobile/Empty/a", "");
    AddFile("/var/mobile/Empty/b", "");
    AddFile("/var/mobile/Empty/Sub/c", "");

    const ExportResult result = Run(Node("/var/mobile/Empty"));

    ASSERT_EQ(shown.size(), 3U);
    for (const ExportProgress& progress : shown) {
        EXPECT_FALSE(progress.TextsUpdated);
        EXPECT_EQ(progress.Percent, 0);
    }
    EXPECT_EQ(result.FilesCopied, 3U);
    EXPECT_EQ(Listing(target), (std::set<std::string>{"Empty", "Empty/a", "Empty/b", "Empty/Sub", "Empty/Sub/c"}));
}

TEST(ExportTexts, FileTextBreaksThePathAtByte70WhateverStandsThere) {
    const std::string path75 = "/var/mobile/" + std::string(56, 'a') + "\xC3\xA9" + "bcdef"; // é spans 68-69
    ASSERT_EQ(path75.size(), 75U);
    EXPECT_EQ(ExportingFileText(path75), "Exporting: " + path75.substr(0, 70) + "\r\n" + path75.substr(70));
    EXPECT_EQ(ExportingFileText(path75).substr(11 + 70 + 2), "bcdef");

    const std::string cutInside = std::string(69, 'p') + "\xC3\xA9";
    EXPECT_EQ(ExportingFileText(cutInside), "Exporting: " + std::string(69, 'p') + "\xC3" + "\r\n\xA9");
    const std::string path70(70, 'q');
    EXPECT_EQ(ExportingFileText(path70), "Exporting: " + path70 + "\r\n");
    EXPECT_EQ(ExportingFileText(std::string(71, 'q')), "Exporting: " + path70 + "\r\nq");
}

TEST(ExportTexts, PercentAndStatusUseTruncatingArithmetic) {
    EXPECT_EQ(ProgressPercent(0, 0), 0);
    EXPECT_EQ(ProgressPercent(2, 3), 66);
    EXPECT_EQ(ProgressPercent(999999, 1000000), 99);
    EXPECT_EQ(ProgressPercent(5000000000LL, 5000000000LL), 100);
    EXPECT_EQ(ProgressPercent(4294967295LL * 3, 4294967295LL * 4), 75);

    EXPECT_EQ(FinishedStatusText(0, 0, 5000000), "Finished:  0% (  0MB/  4MB)");
    EXPECT_EQ(FinishedStatusText(99, 1048575, 1048576 * 2 - 1), "Finished: 99% (  0MB/  1MB)");
    EXPECT_EQ(FinishedStatusText(100, 1294967296LL * 2, 1294967296LL * 2), "Finished: 100% (2469MB/2469MB)");
    EXPECT_EQ(CalculatingSizeText, "Calculating files size...");
}

// ---- Overwrite, names, times ----------------------------------------------------------------------

TEST_F(Export, ExportingTwiceReusesTheFoldersAndOverwritesTheFiles) {
    AddFile("/var/mobile/Notes/n.txt", "short");
    AddFile("/var/mobile/Notes/Deep/m.txt", "middle");
    ASSERT_TRUE(Run(Node("/var/mobile/Notes")).Succeeded());
    WriteFile(target / "Notes" / "n.txt", "a much longer text that a stale export left behind");
    WriteFile(target / "Notes" / "Deep" / "m.txt", "changed");

    const ExportResult again = Run(Node("/var/mobile/Notes"));

    EXPECT_TRUE(again.Succeeded());
    EXPECT_EQ(again.FilesCopied, 2U);
    EXPECT_EQ(ReadFile(target / "Notes" / "n.txt"), "short");
    EXPECT_EQ(ReadFile(target / "Notes" / "Deep" / "m.txt"), "middle");
    EXPECT_EQ(Listing(target), (std::set<std::string>{"Notes", "Notes/n.txt", "Notes/Deep", "Notes/Deep/m.txt"}));
}

TEST_F(Export, DeviceNamesWithSpacesUtf8AndLineBreaksAreWrittenByteForByte) {
    const std::vector<std::string> names = {"My Notes.txt",   "na\xC3\xAFve caf\xC3\xA9.txt", "two\nlines", "tab\there",
                                            " leading space", "\xE6\x97\xA5\xE6\x9C\xAC"};
    for (const std::string& name : names) {
        AddFile("/var/mobile/Odd Folder/" + name, "content of " + name);
    }

    const ExportResult result = Run(Node("/var/mobile/Odd Folder"));

    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.FilesCopied, names.size());
    for (const std::string& name : names) {
        EXPECT_EQ(ReadFile(target / "Odd Folder" / name), "content of " + name) << name;
    }
    EXPECT_EQ(Listing(target).size(), names.size() + 1);
}

TEST_F(Export, EntriesTakeTheirRecordTimesAndFilesWithoutOneTheStoredFileTime) {
    const EntryRecord folder{.LastModified = 1111111111};
    const EntryRecord emptyFolder{.LastModified = 1222222222};
    tree.InsertIntoTree(FileEntry{"/var/mobile/T", "", "2", &folder});
    tree.InsertIntoTree(FileEntry{"/var/mobile/T/empty", "", "2", &emptyFolder});
    AddFile("/var/mobile/T/dated", "d", 1234567890);
    AddFile("/var/mobile/T/undated", "u", 0);
    const fs::path undatedStored = backup / testing::Sha1Hex("/var/mobile/T/undated");
    const timespec storedTimes[2] = {{0, UTIME_OMIT}, {987654321, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, undatedStored.c_str(), storedTimes, 0), 0);

    ASSERT_TRUE(Run(Node("/var/mobile/T")).Succeeded());

    EXPECT_EQ(MTimeOf(target / "T" / "dated"), 1234567890);
    EXPECT_EQ(MTimeOf(target / "T" / "undated"), 987654321);
    EXPECT_EQ(MTimeOf(target / "T" / "empty"), 1222222222);
    EXPECT_EQ(MTimeOf(target / "T"), 1111111111); // set after its contents were written
}

// ---- Names that would leave the target ------------------------------------------------------------

TEST_F(Export, DotDotAndDotEntriesWriteNothingAndCountAsFailed) {
    AddFile("/var/mobile/../../escaped.txt", "out!");
    AddFile("/var/mobile/./aliased.txt", "alias");
    AddFile("/var/mobile/f/..", "a file named ..");
    AddFile(std::string("/var/mobile/f/nul\0byte", 22), "a name the system would cut at its NUL");
    AddFile("/var/mobile/fine.txt", "fine");
    const fs::path outside = dir.Path() / "escaped.txt";

    const ExportResult result = Run(Node("/var/mobile"));

    EXPECT_FALSE(fs::exists(outside));
    EXPECT_EQ(Listing(dir.Path()).count("escaped.txt"), 0U);
    EXPECT_EQ(Listing(target), (std::set<std::string>{"mobile", "mobile/f", "mobile/fine.txt"}));
    EXPECT_EQ(result.FilesCopied, 1U);
    // The folders "..", "../.." and "." with the files below them, and the files "f/.." and "f/nul".
    EXPECT_EQ(result.FailedCount, 7U);
    EXPECT_EQ(result.NotInBackupCount, 0U);
    ASSERT_FALSE(result.Failures.empty());
    bool namedUnsafe = false;
    for (const ExportFailure& failure : result.Failures) {
        namedUnsafe |= failure.Kind == ExportFailureKind::UnsafeName && failure.DevicePath == "/var/mobile/f/..";
    }
    EXPECT_TRUE(namedUnsafe);
}

TEST_F(Export, SelectedEntryNamedDotDotOrEmptyIsNotWritten) {
    AddFile("/var/mobile/../x", "up");
    AddFile("/var/mobile/a//y", "empty folder name");
    AddFile("/var/mobile/b/", "empty file name");

    const ExportResult dotDot = Run(Node("/var/mobile/.."));
    const ExportResult emptyFolder = Run(Node("/var/mobile/a/"));
    const ExportResult emptyFile = Run(Node("/var/mobile/b/"));

    EXPECT_TRUE(fs::is_empty(target));
    std::set<std::string> topLevel;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        topLevel.insert(entry.path().filename().string());
    }
    EXPECT_EQ(topLevel, (std::set<std::string>{"backup", "out"}));
    EXPECT_EQ(dotDot.FailedCount, 2U);
    EXPECT_EQ(emptyFolder.FailedCount, 2U);
    EXPECT_EQ(emptyFile.FailedCount, 1U);
    EXPECT_EQ(emptyFile.Failures.at(0).Kind, ExportFailureKind::UnsafeName);
}

// ---- Links already in the target ------------------------------------------------------------------

TEST_F(Export, LinkStandingAtAFileNameIsNotFollowed) {
    AddFile("/var/mobile/L/victim", "exported bytes");
    AddFile("/var/mobile/L/full", "would fill /dev/full");
    AddFile("/var/mobile/L/plain", "plain");
    const fs::path outsideFile = dir.Path() / "precious";
    WriteFile(outsideFile, "precious bytes");
    fs::create_directories(target / "L");
    fs::create_symlink(outsideFile, target / "L" / "victim");
    fs::create_symlink("/dev/full", target / "L" / "full");

    const ExportResult result = Run(Node("/var/mobile/L"));

    EXPECT_EQ(ReadFile(outsideFile), "precious bytes");
    EXPECT_TRUE(fs::is_symlink(target / "L" / "victim"));
    EXPECT_TRUE(fs::is_symlink(target / "L" / "full"));
    EXPECT_FALSE(result.DiskFull);
    EXPECT_EQ(result.FilesCopied, 1U);
    EXPECT_EQ(ReadFile(target / "L" / "plain"), "plain");
    ASSERT_EQ(result.Failures.size(), 2U);
    EXPECT_EQ(result.Failures[0].Problem.Cause, FailureCause::Link);
    EXPECT_NE(ExportFailureReason(result.Failures[0]).find("symbolic link"), std::string::npos);
}

TEST_F(Export, LinkStandingAtAFolderNameIsNotEntered) {
    AddFile("/var/mobile/Docs/a.txt", "a");
    AddFile("/var/mobile/Docs/Sub/b.txt", "b");
    const fs::path outside = dir.Path() / "elsewhere";
    fs::create_directories(outside);
    fs::create_directories(target / "Docs");
    fs::create_directory_symlink(outside, target / "Docs" / "Sub");

    const ExportResult result = Run(Node("/var/mobile/Docs"));

    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(ReadFile(target / "Docs" / "a.txt"), "a");
    EXPECT_EQ(result.FailedCount, 2U); // the folder and the file below it
    ASSERT_EQ(result.Failures.size(), 2U);
    EXPECT_EQ(result.Failures[0].DevicePath, "/var/mobile/Docs/Sub");
    EXPECT_EQ(result.Failures[0].Kind, ExportFailureKind::FolderFailed);
    EXPECT_EQ(result.Failures[1].DevicePath, "/var/mobile/Docs/Sub/b.txt");
}

// ---- Hostile stored files and targets -------------------------------------------------------------

// What stands where a stored file should: nothing outside the backup may be read as the entry's content.
struct StoredFileCase {
    const char* Name;
    void (*Make)(const fs::path& stored, const fs::path& outside);
};

class ExportHostileStoredFile : public Export, public ::testing::WithParamInterface<StoredFileCase> {};

TEST_P(ExportHostileStoredFile, IsContentTheBackupDoesNotHold) {
    const FileNode* node = AddFile("/var/mobile/H/secret", "unused");
    const fs::path stored = backup / std::string(node->FileID());
    const fs::path outside = dir.Path() / "id_rsa";
    WriteFile(outside, "PRIVATE KEY");
    fs::remove(stored);
    GetParam().Make(stored, outside);

    const ExportResult result = Run(Node("/var/mobile/H"));

    EXPECT_EQ(result.FilesCopied, 0U);
    EXPECT_EQ(result.NotInBackupCount, 1U);
    EXPECT_EQ(Listing(target), std::set<std::string>{"H"});
    EXPECT_EQ(ReadFile(outside), "PRIVATE KEY");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ExportHostileStoredFile,
    ::testing::Values(
        StoredFileCase{"LinkToAFileOutside", [](const fs::path& s, const fs::path& o) { fs::create_symlink(o, s); }},
        StoredFileCase{"Fifo", [](const fs::path& s, const fs::path&) { ASSERT_EQ(::mkfifo(s.c_str(), 0600), 0); }},
        StoredFileCase{"Folder", [](const fs::path& s, const fs::path&) { fs::create_directory(s); }}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST_F(Export, FileIdThatIsNotAStoredFileNameReadsNothing) {
    WriteFile(dir.Path() / "probe", "outside the backup");
    tree.InsertIntoTree(FileEntry{"/var/mobile/P/probe", "../probe", "1"});
    tree.InsertIntoTree(FileEntry{"/var/mobile/P/upper", std::string(40, 'A'), "1"});
    WriteFile(backup / std::string(40, 'A'), "x");

    const ExportResult result = Run(Node("/var/mobile/P"));

    EXPECT_EQ(result.FilesCopied, 0U);
    EXPECT_EQ(result.NotInBackupCount, 2U);
    EXPECT_EQ(Listing(target), std::set<std::string>{"P"});
}

TEST(ExportStoredFolder, LinkedFolderOfStoredFilesIsNotFollowed) {
    ExportCancelled = 0;
    TempDir dir;
    const std::string id = testing::Sha1Hex("outside");
    fs::create_directories(dir.Path() / "backup");
    fs::create_directories(dir.Path() / "elsewhere");
    fs::create_directories(dir.Path() / "out");
    WriteFile(dir.Path() / "elsewhere" / id, "not the backup's");
    fs::create_directory_symlink(dir.Path() / "elsewhere", dir.Path() / "backup" / id.substr(0, 2));
    BackupTree tree((dir.Path() / "backup").string(), ManifestKindDb);
    tree.InsertIntoTree(FileEntry{"/var/mobile/x", id, "1"});

    ExportParameters parameters;
    parameters.SelectedNode = FindNode(tree.Root(), "/var/mobile/x");
    parameters.BackupFolder = (dir.Path() / "backup").string();
    parameters.TargetFolder = (dir.Path() / "out").string();
    const ExportResult result = RunExport(parameters);

    EXPECT_EQ(parameters.SelectedNode->Size(), 0U); // the status lookup did not follow it either
    EXPECT_EQ(result.NotInBackupCount, 1U);
    EXPECT_TRUE(fs::is_empty(dir.Path() / "out"));
}

// A de-duplicating tool left the target's copy as a hard link to the stored file; a second export replaces it.
TEST_F(Export, TargetFileHardLinkedToTheStoredFileIsReplacedNotEmptied) {
    const FileNode* node = AddFile("/var/mobile/SMS/sms.db", "the messages");
    const fs::path stored = backup / std::string(node->FileID());
    fs::create_hard_link(stored, target / "sms.db");

    const ExportResult result = Run(node);

    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(ReadFile(stored), "the messages");
    EXPECT_EQ(ReadFile(target / "sms.db"), "the messages");
    EXPECT_EQ(fs::hard_link_count(stored), 1U);
}

// The backup folder itself, a folder inside it, one not made yet, and a link leading into it.
TEST_F(Export, TargetInsideTheBackupIsRefusedBeforeAnythingIsWritten) {
    AddFile("/var/mobile/SMS/sms.db", "the messages");
    fs::create_directories(backup / "sub");
    fs::create_directory_symlink(backup / "sub", dir.Path() / "innocent-looking");
    const std::set<std::string> before = Listing(backup);

    for (const fs::path& inside :
         {backup, backup / "sub", backup / "sub" / "not-yet", dir.Path() / "innocent-looking"}) {
        ExportParameters parameters = Parameters(Node("/var/mobile/SMS"));
        parameters.TargetFolder = inside.string();
        const ExportResult result = RunExport(parameters);
        EXPECT_TRUE(result.TargetInsideBackup) << inside;
        EXPECT_FALSE(result.Succeeded()) << inside;
    }
    EXPECT_EQ(Listing(backup), before);
    EXPECT_TRUE(Run(Node("/var/mobile/SMS")).Succeeded()); // a target beside the backup is fine
}

// ---- Failed entries -------------------------------------------------------------------------------

TEST_F(Export, ContentTheBackupDoesNotHoldIsToldApartFromAFailedCopy) {
    AddMissing("/var/mobile/M/gone.txt");
    const EntryRecord link{.Mode = EntryRecord::LinkType | 0755, .Target = "/private/var/mobile/M/gone.txt"};
    tree.InsertIntoTree(FileEntry{"/var/mobile/M/link", testing::Sha1Hex("/var/mobile/M/link"), "1", &link});
    tree.InsertIntoTree(FileEntry{"/var/mobile/M/no-id", "", "1"});
    AddFile("/var/mobile/M/toolong" + std::string(300, 'n'), "name too long");
    AddFile("/var/mobile/M/z-ok", "ok");

    const ExportResult result = Run(Node("/var/mobile/M"));

    EXPECT_EQ(result.FilesCopied, 1U);
    EXPECT_EQ(result.FailedCount, 4U);
    EXPECT_EQ(result.NotInBackupCount, 3U);
    ASSERT_EQ(result.Failures.size(), 4U);
    EXPECT_EQ(result.Failures[0].DevicePath, "/var/mobile/M/gone.txt");
    EXPECT_EQ(result.Failures[0].Kind, ExportFailureKind::NotInBackup);
    EXPECT_EQ(result.Failures[1].DevicePath, "/var/mobile/M/link");
    EXPECT_EQ(ExportFailureReason(result.Failures[1]), "a link to /private/var/mobile/M/gone.txt, not exported");
    EXPECT_EQ(result.Failures[2].Kind, ExportFailureKind::NotInBackup);
    EXPECT_EQ(result.Failures[3].Kind, ExportFailureKind::CopyFailed);
    EXPECT_EQ(result.Failures[3].Problem.Error, ENAMETOOLONG);
    EXPECT_NE(ExportFailureReason(result.Failures[3]).find(std::strerror(ENAMETOOLONG)), std::string::npos);
    EXPECT_EQ(ReadFile(target / "M" / "z-ok"), "ok");
}

TEST_F(Export, SummaryNamesTheFirstTenFailuresOnOneLineEach) {
    for (int i = 0; i < 12; ++i) {
        AddMissing("/var/mobile/S/f" + std::to_string(10 + i) + (i == 0 ? "\nsecond line" : ""));
    }
    const ExportResult result = Run(Node("/var/mobile/S"));
    EXPECT_EQ(result.FailedCount, 12U);
    EXPECT_EQ(result.Failures.size(), MaxNamedFailures);

    const std::string summary = ExportFailureSummary(result);

    EXPECT_EQ(summary.rfind("12 entries were not exported (12 of them because the backup does not hold their "
                            "content):\n/var/mobile/S/f10\\nsecond line: the backup does not hold",
                            0),
              0U)
        << summary;
    EXPECT_NE(summary.find("/var/mobile/S/f19: "), std::string::npos);
    EXPECT_EQ(summary.find("/var/mobile/S/f20"), std::string::npos);
    EXPECT_NE(summary.find("\nand 2 more.\n"), std::string::npos);
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 12);
    EXPECT_EQ(ExportFailureSummary(ExportResult{}), "");
}

// ---- A full disk ----------------------------------------------------------------------------------

class ExportFullDisk : public Export, public ::testing::WithParamInterface<int> {};

TEST_P(ExportFullDisk, InTheThirdOfFiveFilesStopsEverythingAndKeepsWhatStoodAtItsName) {
    for (const char* name : {"1", "2", "3", "4", "5"}) {
        AddFile(std::string("/var/mobile/F/") + name, std::string("content ") + name);
    }
    fs::create_directories(target / "F");
    WriteFile(target / "F" / "3", "a former export");
    std::vector<std::string> attempted;
    std::vector<std::string> messages;
    ExportParameters parameters = Parameters(Node("/var/mobile/F"));
    parameters.Copier = [&](int source, int folderFd, const std::string& name, std::int64_t mtime) {
        attempted.push_back(name);
        if (attempted.size() == 3) {
            return Result<void>(Failure::System(FailureStep::Write, name, GetParam()));
        }
        return CopyWholeFile(source, folderFd, name, mtime);
    };
    parameters.DiskFull = [&](int error) { messages.push_back(DiskFullMessage(error)); };

    const ExportResult result = RunExport(parameters);

    EXPECT_EQ(attempted, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Listing(target), (std::set<std::string>{"F", "F/1", "F/2", "F/3"}));
    EXPECT_EQ(ReadFile(target / "F" / "3"), "a former export");
    EXPECT_TRUE(result.DiskFull);
    EXPECT_EQ(result.FilesCopied, 2U);
    EXPECT_EQ(result.DiskFullError, GetParam());
    EXPECT_EQ(messages,
              std::vector<std::string>{std::string("Failed to export file!\r\nReason: ") + std::strerror(GetParam())});
    EXPECT_EQ(shown.size(), 3U);
    EXPECT_FALSE(result.Succeeded());
}

INSTANTIATE_TEST_SUITE_P(NoSpaceOrQuota, ExportFullDisk, ::testing::Values(ENOSPC, EDQUOT));

// A real ENOSPC from the kernel: the target is a 64 KiB tmpfs.
TEST_F(Export, RealFullDiskInTheThirdOfFiveFiles) {
    const fs::path small = target / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        fs::path Path;
        ~Unmount() { ::umount2(Path.c_str(), MNT_DETACH); }
    } unmount{small};
    for (const char* name : {"1", "2", "3", "4", "5"}) {
        AddFile(std::string("/var/mobile/F/") + name, std::string(24 * 1024, name[0]));
    }
    ExportParameters parameters = Parameters(Node("/var/mobile/F"));
    parameters.TargetFolder = small.string();

    const ExportResult result = RunExport(parameters);

    EXPECT_TRUE(result.DiskFull);
    EXPECT_EQ(result.DiskFullError, ENOSPC);
    EXPECT_EQ(result.FilesCopied, 2U);
    EXPECT_EQ(Listing(small), (std::set<std::string>{"F", "F/1", "F/2"}));
    EXPECT_EQ(ReadFile(small / "F" / "2"), std::string(24 * 1024, '2'));
    EXPECT_EQ(shown.size(), 3U);
}

// ---- Cancel ---------------------------------------------------------------------------------------

TEST_F(Export, CancelDuringAFileLetsItCompleteAndStartsNoOther) {
    for (const char* name : {"a", "b", "c", "d"}) {
        AddFile(std::string("/var/mobile/C/") + name, std::string(100000, name[0]));
    }
    ExportParameters parameters = Parameters(Node("/var/mobile/C"));
    parameters.Progress = [this](const ExportProgress& progress) {
        shown.push_back(progress);
        if (progress.Node->Name() == "b") {
            ExportCancelled = 1;
        }
    };

    const ExportResult result = RunExport(parameters);

    EXPECT_TRUE(result.Cancelled);
    EXPECT_EQ(shown.size(), 2U);
    EXPECT_EQ(result.FilesCopied, 2U);
    EXPECT_EQ(Listing(target), (std::set<std::string>{"C", "C/a", "C/b"}));
    EXPECT_EQ(ReadFile(target / "C" / "b"), std::string(100000, 'b'));

    ExportCancelled = 0;
    fs::remove_all(target / "C");
    shown.clear();
    const ExportResult again = Run(Node("/var/mobile/C"));
    EXPECT_FALSE(again.Cancelled);
    EXPECT_EQ(again.FilesCopied, 4U);
}

TEST_F(Export, CancelledBeforeTheStartWritesNothingAndSumsNothing) {
    AddFile("/var/mobile/C/a", "a");
    ExportCancelled = 1;

    const ExportResult result = Run(Node("/var/mobile/C"));

    EXPECT_TRUE(result.Cancelled);
    EXPECT_EQ(result.TotalBytes, 0);
    EXPECT_TRUE(fs::is_empty(target));
    EXPECT_TRUE(shown.empty());
}

// Each open level holds a descriptor: running out of them fails the deeper entries with a reason, never a crash.
TEST_F(Export, TreeDeeperThanTheDescriptorLimitFailsItsDeepEntriesWithAReason) {
    std::string deep = "/var/mobile";
    for (int i = 0; i < 200; ++i) {
        deep += "/d";
    }
    AddFile(deep + "/leaf", "deep");
    AddFile("/var/mobile/shallow", "shallow");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    const ExportResult result = Run(Node("/var/mobile"));

    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(result.FilesCopied, 1U);
    EXPECT_EQ(ReadFile(target / "mobile" / "shallow"), "shallow");
    ASSERT_FALSE(result.Failures.empty());
    EXPECT_EQ(result.Failures[0].Problem.Error, EMFILE);
    EXPECT_NE(ExportFailureReason(result.Failures[0]).find(std::strerror(EMFILE)), std::string::npos);
    EXPECT_EQ(result.FailedCount, 201U - (result.Failures[0].DevicePath.size() - 11) / 2 + 1);
}

TEST_F(Export, MissingTargetFolderFailsEveryEntryWithItsReason) {
    AddFile("/var/mobile/G/a", "a");
    AddFile("/var/mobile/G/b", "b");
    fs::remove(target);

    const ExportResult result = Run(Node("/var/mobile/G"));

    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(result.FailedCount, 3U);
    ASSERT_FALSE(result.Failures.empty());
    EXPECT_NE(ExportFailureReason(result.Failures[0]).find(std::strerror(ENOENT)), std::string::npos);
}

} // namespace
} // namespace marrowick
