// Backup folders made to hurt the reader: files that are not regular files, files of absurd size, manifests
// that never end. Reading must neither hang, nor crash, nor read anything outside the backup, nor leave a copy.
#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupTreeCache.h"
#include "core/backup/SummaryReader.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::SampleBackup;
using testing::SampleFile;
using testing::SampleManifest;
using testing::ScopedTmpDir;
using testing::TempDir;
using testing::WriteFile;

// A read that blocks or runs away ends the test process with SIGALRM instead of stalling the suite.
class HangGuard {
public:
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;
};

fs::path WriteBackup(const fs::path& folder, SampleManifest manifest = SampleManifest::Db) {
    SampleBackup backup;
    backup.Manifest = manifest;
    backup.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "the messages"}};
    return testing::WriteSampleBackup(folder, backup);
}

// ---- Summary files ---------------------------------------------------------------------------------

struct HostileSummaryFile {
    const char* Label;
    const char* Name;
    SampleManifest Manifest;
    void (*Replace)(const fs::path& file, const fs::path& outside);
    bool IsBackup; // what is left is still a backup whose manifest cannot be read
};

void PrintTo(const HostileSummaryFile& row, std::ostream* os) {
    *os << row.Label;
}

void MakeFifo(const fs::path& file, const fs::path&) {
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
}

void MakeLinkOutside(const fs::path& file, const fs::path& outside) {
    fs::copy_file(file, outside);
    fs::remove(file);
    fs::create_symlink(outside, file);
}

void MakeSparse100GB(const fs::path& file, const fs::path&) {
    ASSERT_EQ(::truncate(file.c_str(), std::int64_t{100} << 30), 0);
}

class HostileSummary : public ::testing::TestWithParam<HostileSummaryFile> {};

TEST_P(HostileSummary, IsNotReadAndNothingHangs) {
    const TempDir dir;
    const fs::path folder = WriteBackup(dir.Path() / "location" / "backup", GetParam().Manifest);
    GetParam().Replace(folder / GetParam().Name, dir.Path() / "outside");
    const HangGuard guard(20);

    std::vector<BackupRecord> rows;
    ScanBackupLocation((dir.Path() / "location").string(), rows);

    ASSERT_EQ(rows.size(), GetParam().IsBackup ? 1U : 0U);
    if (GetParam().IsBackup) {
        const CachedBackupTree read = ReadBackupTree(rows[0].FolderPath, rows[0].ManifestKind);
        EXPECT_EQ(read.Status, TreeStatus::Unreadable);
        const std::string reason = TreeProblemText(read.Status, read.Problem);
        EXPECT_NE(reason.find(GetParam().Name), std::string::npos) << reason;
        EXPECT_EQ(reason.find("Invalid argument"), std::string::npos) << reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileSummary,
    ::testing::Values(HostileSummaryFile{"InfoFifo", "Info.plist", SampleManifest::Db, MakeFifo, false},
                      HostileSummaryFile{"ManifestDbFifo", "Manifest.db", SampleManifest::Db, MakeFifo, true},
                      HostileSummaryFile{"ManifestMbdbFifo", "Manifest.mbdb", SampleManifest::Mbdb, MakeFifo, true},
                      HostileSummaryFile{"InfoLinkedOutside", "Info.plist", SampleManifest::Db, MakeLinkOutside, false},
                      HostileSummaryFile{"ManifestDbLinkedOutside", "Manifest.db", SampleManifest::Db, MakeLinkOutside,
                                         true},
                      HostileSummaryFile{"Sparse100GBInfo", "Info.plist", SampleManifest::Db, MakeSparse100GB, false}));

// A file that holds the backup's time but cannot be read safely is passed over for the next one that holds it.
struct HostileDateFile {
    const char* Label;
    const char* Name;
    void (*Replace)(const fs::path& file, const fs::path& outside);
    const char* Time;
};

void PrintTo(const HostileDateFile& row, std::ostream* os) {
    *os << row.Label;
}

class HostileDate : public ::testing::TestWithParam<HostileDateFile> {};

TEST_P(HostileDate, IsPassedOver) {
    const testing::TempHome home("UTC");
    const fs::path location = home.Home() / "location";
    // Without Status.plist, the time is looked for in Manifest.plist.
    const bool statusPlist = std::string_view(GetParam().Name) == "Status.plist";
    const fs::path folder = testing::WriteSampleBackup(
        location / "backup", {.StatusPlist = statusPlist, .ManifestDate = 500000000, .InfoDate = 400000000});
    GetParam().Replace(folder / GetParam().Name, home.Home() / "outside");
    const HangGuard guard(20);

    std::vector<BackupRecord> rows;
    ScanBackupLocation(location.string(), rows);

    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0].Time, GetParam().Time);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileDate,
    ::testing::Values(
        HostileDateFile{"StatusFifo", "Status.plist", MakeFifo, "2016-11-05 00:53:20"},
        HostileDateFile{"StatusLinkedOutside", "Status.plist", MakeLinkOutside, "2016-11-05 00:53:20"},
        HostileDateFile{"Sparse100GBStatus", "Status.plist", MakeSparse100GB, "2016-11-05 00:53:20"},
        HostileDateFile{"ManifestPlistFifo", "Manifest.plist", MakeFifo, "2013-09-04 15:06:40"},
        HostileDateFile{"ManifestPlistLinkedOutside", "Manifest.plist", MakeLinkOutside, "2013-09-04 15:06:40"},
        HostileDateFile{"Sparse100GBManifestPlist", "Manifest.plist", MakeSparse100GB, "2013-09-04 15:06:40"}));

// A top dictionary whose keys all refer to one large string object: looking a key up must not copy that string
// once per key.
std::string KeysSharingOneString(std::uint32_t keys, std::uint32_t length) {
    std::string plist = "bplist00";
    const auto append32 = [&plist](std::uint64_t value, int width) {
        for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
            plist.push_back(static_cast<char>((value >> shift) & 0xFF));
        }
    };
    const std::uint64_t dictionary = plist.size();
    plist += "\xDF\x12";
    append32(keys, 4);
    plist.append(2 * std::size_t{keys}, '\x01');
    const std::uint64_t string = plist.size();
    plist += "\x5F\x12";
    append32(length, 4);
    plist.append(length, 'D');
    const std::uint64_t table = plist.size();
    append32(dictionary, 4);
    append32(string, 4);
    plist.append(6, '\0');
    plist += "\x04\x01";
    append32(2, 8);
    append32(0, 8);
    append32(table, 8);
    return plist;
}

TEST(HostileBinaryPlist, ManyKeysSharingOneLargeStringReadInLinearTime) {
    const std::string plist = KeysSharingOneString(1'500'000, 3'000'000);
    const HangGuard guard(30); // the quadratic lookup took minutes on this 6 MB file

    EXPECT_EQ(ReadBinaryPlistStringValue(plist, "Display Name"), "");
    EXPECT_EQ(ReadBinaryPlistStringValue(KeysSharingOneString(3, 12), "DDDDDDDDDDDD"), "DDDDDDDDDDDD");
}

TEST(HostileXmlPlist, ValueOfManyAmpersandsReadsInLinearTime) {
    const std::string plist = testing::MakeXmlPlist({{"Display Name", std::string(8'000'000, '&')}});
    const HangGuard guard(30);

    EXPECT_EQ(ReadPlistStringValue(plist, "<key>Display Name</key>").size(), 8'000'000U);
}

// ---- Manifest.db -----------------------------------------------------------------------------------

class HostileFilesTable : public ::testing::TestWithParam<const char*> {};

TEST_P(HostileFilesTable, IsRefusedInsteadOfReadForever) {
    const TempDir dir;
    const fs::path folder = WriteBackup(dir.Path() / "backup");
    ASSERT_EQ(testing::RunSql(folder / "Manifest.db", std::string("DROP TABLE Files; ") + GetParam()), "");
    const HangGuard guard(30);

    const CachedBackupTree read = ReadBackupTree(folder.string(), ManifestKindDb);

    EXPECT_EQ(read.Status, TreeStatus::Unreadable);
    ASSERT_TRUE(read.Problem.has_value());
    EXPECT_EQ(read.Problem->Cause, FailureCause::NotPlainTable);
}

INSTANTIATE_TEST_SUITE_P(
    Schemas, HostileFilesTable,
    ::testing::Values("CREATE VIEW Files AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                      "SELECT hex(i) AS fileID, 'HomeDomain' AS domain, 'a' || i AS relativePath, 1 AS flags, "
                      "NULL AS file FROM n",
                      "CREATE TABLE Files (fileID, domain, relativePath, flags, file AS (zeroblob(900000000)))"));

// A stored file that is a link is not the backup's content: its size and time are not taken from the target.
TEST(HostileStoredFile, LinkedStoredFileGivesNoSizeOrTimeToARowWithoutRecord) {
    const TempDir dir;
    SampleBackup backup;
    backup.Files = {SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "messages", .WithoutRecord = true}};
    const fs::path folder = testing::WriteSampleBackup(dir.Path() / "backup", backup);
    const std::string id = testing::Sha1Hex("HomeDomain-Library/SMS/sms.db");
    const fs::path stored = folder / id.substr(0, 2) / id;
    WriteFile(dir.Path() / "environ", std::string(4321, 'e'));
    fs::remove(stored);
    fs::create_symlink(dir.Path() / "environ", stored);

    const CachedBackupTree read = ReadBackupTree(folder.string(), ManifestKindDb);

    const FileNode* node = FindNode(read.Tree->Root(), "/var/mobile/Library/SMS/sms.db");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Size(), 0U);
    EXPECT_EQ(node->MTime(), 0);
}

// ---- The private copy of a manifest with a side file -------------------------------------------------

fs::path WriteWalBackup(const fs::path& folder, int files) {
    SampleBackup backup;
    for (int i = 0; i < files; ++i) {
        backup.Files.push_back(SampleFile{.RelativePath = "Media/f" + std::to_string(i), .StoredFileMissing = true});
    }
    testing::WriteSampleBackup(folder, backup);
    EXPECT_EQ(testing::RunSql(folder / "Manifest.db", "PRAGMA journal_mode=WAL"), "");
    WriteFile(folder / "Manifest.db-wal", "");
    return folder;
}

// A reader killed at any moment leaves no copy that outlives it: the next reader removes whatever it left.
TEST(PrivateManifestCopy, ReaderKilledMidReadLeavesNoCopyBehind) {
    const TempDir dir;
    const fs::path folder = WriteWalBackup(dir.Path() / "backup", 3000);
    const ScopedTmpDir tmp;

    const pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        for (;;) {
            (void)ReadBackupTree(folder.string(), ManifestKindDb);
        }
    }
    // Killed as soon as anything shows in TMPDIR, or after 300 ms: the worst moment that can be caught.
    for (int waited = 0; waited < 300 && tmp.IsEmpty(); ++waited) {
        ::usleep(1000);
    }
    ::kill(reader, SIGKILL);
    ::waitpid(reader, nullptr, 0);

    const CachedBackupTree read = ReadBackupTree(folder.string(), ManifestKindDb);

    EXPECT_EQ(read.Status, TreeStatus::Ok) << TreeProblemText(read.Status, read.Problem);
    EXPECT_TRUE(tmp.IsEmpty()) << "a private copy outlived its reader";
}

// A side file of 3 GB that is all hole is copied as a hole: the read neither fills the disk nor takes long.
TEST(PrivateManifestCopy, SparseSideFileIsCopiedSparse) {
    const TempDir dir;
    const fs::path folder = WriteWalBackup(dir.Path() / "backup", 3);
    ASSERT_EQ(::truncate((folder / "Manifest.db-wal").c_str(), std::int64_t{3} << 30), 0);
    const ScopedTmpDir tmp;
    const HangGuard guard(60);

    const CachedBackupTree read = ReadBackupTree(folder.string(), ManifestKindDb);

    EXPECT_EQ(read.Status, TreeStatus::Ok) << TreeProblemText(read.Status, read.Problem);
    EXPECT_NE(FindNode(read.Tree->Root(), "/var/mobile/Media/f2"), nullptr);
    EXPECT_TRUE(tmp.IsEmpty());
}

} // namespace
} // namespace marrowick
