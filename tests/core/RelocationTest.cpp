#include "core/settings/Relocation.h"
#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/platform/ErrorText.h"
#include "core/platform/FileSystemOps.h"
#include "core/settings/LocationsFile.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::BackupNames;
using testing::ReadFile;
using testing::TempHome;
using testing::WriteFile;

using Tree = std::map<std::string, std::string>;

// Every entry below root, links not followed: "dir", "link -> target" or the file's size and hash.
Tree Entries(const fs::path& root) {
    Tree tree;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const std::string name = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            tree[name] = "link -> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[name] = "dir";
        } else {
            const std::string content = ReadFile(it->path());
            tree[name] = "file of " + std::to_string(content.size()) + " bytes, hash " +
                         std::to_string(std::hash<std::string>()(content));
        }
    }
    return tree;
}

std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return static_cast<std::int64_t>(::timegm(&utc));
}

class Relocation : public ::testing::Test {
protected:
    TempHome home;
    fs::path appSync = home.AppDataBackupFolder().parent_path();
    fs::path profileSync = home.ProfileBackupFolder().parent_path();
    fs::path store = home.Home() / "store";
    fs::path other = home.Home() / "other";

    void SetUp() override {
        InitBackupLocations();
        ASSERT_EQ(MobileSyncFolders[0], appSync.string());
        ASSERT_EQ(MobileSyncFolders[1], profileSync.string());
        fs::create_directories(store);
        fs::create_directories(other);
    }

    static void WriteBackup(const fs::path& folder, const std::string& name) {
        testing::WriteSampleBackup(folder, {.DisplayName = name});
    }

    // The relocation command: prepare, then the dialog's OK with what it read.
    RelocationResult Relocate(const std::string& newLocation, const std::string& timestamp) {
        const RelocationPreparation preparation = PrepareRelocation();
        EXPECT_TRUE(preparation.Problems.empty()) << PreparationProblemText(preparation.Problems.front());
        return ApplyBackupLocation(preparation.InitialLocation, newLocation, timestamp);
    }

    // What went wrong, for a failed assertion's message.
    static std::string Why(const RelocationResult& result) {
        return result.Problem ? FailureText(*result.Problem) : std::string();
    }

    static std::string Link(const fs::path& path) {
        return fs::is_symlink(path) ? fs::read_symlink(path).string() : std::string("(not a link)");
    }
};

TEST_F(Relocation, EnsureFolderPathCreatesMissingFoldersAndSaysWhyItCannot) {
    const fs::path deep = home.Home() / "a" / "b" / "c";
    EXPECT_TRUE(EnsureFolderPath(deep.string()));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(EnsureFolderPath(deep.string() + "/"));
    EXPECT_TRUE(EnsureFolderPath("/"));
    const Result<void> empty = EnsureFolderPath("");
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.Error().Error, ENOENT);
}

struct FolderPathCase {
    const char* Name;
    const char* Path;         // below the home folder
    const char* Denied;       // a missing folder whose making fails with EACCES, or nullptr
    const char* FileInTheWay; // the file named in the reason, or nullptr for EACCES's text
    FailureStep Step;         // of the failure
};

void PrintTo(const FolderPathCase& row, std::ostream* os) {
    *os << row.Name;
}

class FolderPathReason : public ::testing::TestWithParam<FolderPathCase> {};

TEST_P(FolderPathReason, IsTheFirstRealCause) {
    const FolderPathCase& row = GetParam();
    TempHome home;
    WriteFile(home.Home() / "plain", "x");
    const std::string denied = row.Denied != nullptr ? (home.Home() / row.Denied).string() + "/" : "";
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string& path, const std::string&) {
        return call == FileSystemCall::Folder && path == denied ? std::optional<int>(EACCES) : std::nullopt;
    });
    const Result<void> made = EnsureFolderPath((home.Home() / row.Path).string());
    ASSERT_FALSE(made);
    const Failure& failure = made.Error();
    EXPECT_EQ(failure.Step, row.Step);
    EXPECT_EQ(failure.Path, (home.Home() / (row.FileInTheWay != nullptr ? row.FileInTheWay : row.Denied)).string());
    EXPECT_EQ(failure.Cause, row.FileInTheWay == nullptr ? FailureCause::System : FailureCause::NotFolder);
    EXPECT_EQ(failure.Error, row.FileInTheWay == nullptr ? EACCES : 0);
    EXPECT_EQ(SettingsReasonText(failure),
              row.FileInTheWay == nullptr
                  ? std::string(std::strerror(EACCES))
                  : "\"" + (home.Home() / row.FileInTheWay).string() + "\" is a file, not a folder");
    EXPECT_EQ(ReadFile(home.Home() / "plain"), "x");
}

INSTANTIATE_TEST_SUITE_P(
    Relocation, FolderPathReason,
    ::testing::Values(FolderPathCase{"DeniedParent", "locked/inner", "locked", nullptr, FailureStep::Create},
                      FolderPathCase{"FileAsParent", "plain/sub", nullptr, "plain", FailureStep::Create},
                      FolderPathCase{"FileAtThePath", "plain", nullptr, "plain", FailureStep::Check}));

TEST_F(Relocation, EnsureFolderPathPassesOverIntermediateFailuresOnly) {
    const std::string y = home.Home().string() + "/y/";
    const std::string x = home.Home().string() + "/x/";
    fs::create_directories(y);
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string& path, const std::string&) {
        const bool fail = call == FileSystemCall::Folder && (path == y || path == x);
        return fail ? std::optional<int>(EACCES) : std::nullopt;
    });
    EXPECT_TRUE(EnsureFolderPath(y + "z"));
    EXPECT_TRUE(fs::is_directory(y + "z"));
    const Result<void> made = EnsureFolderPath(x);
    ASSERT_FALSE(made);
    EXPECT_EQ(made.Error().Error, EACCES);
    EXPECT_EQ(SettingsReasonText(made.Error()), std::strerror(EACCES));
    EXPECT_FALSE(fs::exists(x));
}

TEST_F(Relocation, TimestampIsLocalTimeInFourteenDigits) {
    {
        TempHome berlin("Europe/Berlin");
        EXPECT_EQ(RelocationTimestamp(UtcSeconds(2024, 3, 5, 6, 8, 9)), "20240305070809");
    }
    {
        TempHome newYork("America/New_York");
        EXPECT_EQ(RelocationTimestamp(UtcSeconds(2024, 3, 5, 12, 8, 9)), "20240305070809");
        EXPECT_EQ(RelocationTimestamp(UtcSeconds(2024, 1, 1, 4, 59, 59)), "20231231235959");
    }
    EXPECT_EQ(CurrentRelocationTimestamp().size(), 14u);
}

TEST_F(Relocation, ListingShowsTheBackupLinkFirstAndIsReadBack) {
    fs::create_directories(appSync);
    // Names that sort before Backup would push its line past the 3000 bytes that are read back.
    for (int i = 0; i < 150; ++i) {
        fs::create_directories(appSync / ("A-long-folder-name-number-" + std::to_string(i)));
    }
    fs::create_directory_symlink(store, appSync / "Backup");
    fs::create_directory_symlink(other, appSync / "Backup_20240101000000");
    const std::string list = (home.Home() / "dir.txt").string();
    ASSERT_TRUE(WriteFolderListing(appSync.string(), list));
    EXPECT_EQ(ReadBackupLinkTarget(list), store.string());
    const std::string listing = ReadFile(list);
    const std::string firstLine = listing.substr(0, listing.find('\n'));
    EXPECT_TRUE(firstLine.ends_with("    <SYMLINKD>     Backup [" + store.string() + "]")) << firstLine;
    EXPECT_NE(listing.find("<SYMLINKD>     Backup_20240101000000 [" + other.string() + "]\n"), std::string::npos);
}

TEST_F(Relocation, OnlyADirectoryLinkNamedBackupCounts) {
    const std::string list = (home.Home() / "dir.txt").string();
    fs::create_directories(appSync / "Backup");
    fs::create_directory_symlink(other, appSync / "Backup 2");
    fs::create_directory_symlink(other, appSync / "x\n<SYMLINKD>     Backup [evil]");
    fs::create_directory_symlink("/nowhere\n<SYMLINKD>     Backup [evil]", appSync / "y");
    ASSERT_TRUE(WriteFolderListing(appSync.string(), list));
    EXPECT_EQ(ReadBackupLinkTarget(list), "") << ReadFile(list);

    // A link whose disk is not there still counts: the location must be restorable.
    fs::remove(appSync / "Backup");
    fs::create_directory_symlink("/media/unplugged/iPhone", appSync / "Backup");
    ASSERT_TRUE(WriteFolderListing(appSync.string(), list));
    EXPECT_EQ(ReadBackupLinkTarget(list), "/media/unplugged/iPhone");
}

TEST_F(Relocation, ListingThatCannotBeMadeOrReadGivesNoTarget) {
    const std::string list = (home.Home() / "dir.txt").string();
    EXPECT_EQ(ReadBackupLinkTarget(list), "");
    const Result<void> listed = WriteFolderListing((home.Home() / "missing").string(), list);
    ASSERT_FALSE(listed);
    EXPECT_EQ(listed.Error().Step, FailureStep::Read);
    EXPECT_EQ(listed.Error().Path, (home.Home() / "missing").string());
    EXPECT_EQ(listed.Error().Error, ENOENT);
    EXPECT_NE(ReadFile(list).find("cannot be listed"), std::string::npos);
    EXPECT_EQ(ReadBackupLinkTarget(list), "");

    WriteFile(list, std::string(2990, ' ') + "<SYMLINKD>     Backup [/late]");
    EXPECT_EQ(ReadBackupLinkTarget(list), "") << "the line lies beyond the bytes read";
    WriteFile(list, "<SYMLINKD>     Backup [/no/end");
    EXPECT_EQ(ReadBackupLinkTarget(list), "");
    WriteFile(list, "<DIR>          Backup\n<SYMLINKD>     Backup [/srv/x]\n");
    EXPECT_EQ(ReadBackupLinkTarget(list), "/srv/x");
}

TEST_F(Relocation, FirstRelocationWhenOnlyTheProfileFolderHasBackups) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old");
    WriteBackup(store / "new", "New");
    const Tree oldBackups = Entries(home.ProfileBackupFolder());
    ASSERT_FALSE(fs::exists(appSync));

    const RelocationResult result = Relocate(store.string(), "20240305070809");
    ASSERT_TRUE(result.Succeeded()) << Why(result);
    ASSERT_EQ(result.Done,
              (std::vector<RelocationStep>{
                  {RelocationStepKind::Link, store.string(), appSync.string() + "/Backup"},
                  {RelocationStepKind::Rename, profileSync.string() + "/Backup", profileSync.string() + "/Backup_old"},
                  {RelocationStepKind::Link, store.string(), profileSync.string() + "/Backup"},
              }));
    EXPECT_EQ(RelocationStepText(result.Done[0]),
              "Linked \"" + appSync.string() + "/Backup\" to \"" + store.string() + "\".");
    EXPECT_EQ(RelocationStepText(result.Done[1]),
              "Renamed \"" + profileSync.string() + "/Backup\" to \"" + profileSync.string() + "/Backup_old\".");
    EXPECT_EQ(Link(appSync / "Backup"), store.string());
    EXPECT_EQ(Link(profileSync / "Backup"), store.string());
    EXPECT_FALSE(fs::exists(appSync / "Backup_old"));
    EXPECT_EQ(Entries(profileSync / "Backup_old"), oldBackups);

    InitBackupLocations();
    const std::vector<BackupRecord> rows = RefreshBackupList();
    EXPECT_EQ(BackupNames(rows), (std::vector<std::string>{"New"})) << "the old backups lie in Backup_old, unsearched";
}

TEST_F(Relocation, RelocatingTwiceKeepsTheFirstLinkUnderATimestamp) {
    WriteBackup(home.AppDataBackupFolder() / "a", "A");
    ASSERT_TRUE(Relocate(store.string(), "20240101000000").Succeeded());
    const Tree backupOld = Entries(appSync / "Backup_old");

    const RelocationResult second = Relocate(other.string(), "20240305070809");
    ASSERT_TRUE(second.Succeeded()) << Why(second);
    for (const fs::path& sync : {appSync, profileSync}) {
        EXPECT_EQ(Link(sync / "Backup"), other.string());
        EXPECT_EQ(Link(sync / "Backup_20240305070809"), store.string());
    }
    EXPECT_EQ(Entries(appSync / "Backup_old"), backupOld);
    EXPECT_FALSE(fs::exists(profileSync / "Backup_old"));
    EXPECT_EQ(PrepareRelocation().InitialLocation, other.string());
}

TEST_F(Relocation, RestoreBringsBackTheFormerFolderAndKeepsTheLink) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old");
    WriteBackup(store / "new", "New");
    const Tree oldBackups = Entries(home.ProfileBackupFolder());
    ASSERT_TRUE(Relocate(store.string(), "20240101000000").Succeeded());

    const RelocationResult restore = Relocate("", "20240305070809");
    ASSERT_TRUE(restore.Succeeded()) << Why(restore);
    EXPECT_EQ(Entries(home.ProfileBackupFolder()), oldBackups);
    EXPECT_FALSE(fs::is_symlink(profileSync / "Backup"));
    EXPECT_FALSE(fs::exists(profileSync / "Backup_old"));
    EXPECT_EQ(Link(profileSync / "Backup_20240305070809"), store.string());
    // No Backup there before the first relocation: none after the restore, only the kept link.
    EXPECT_FALSE(fs::exists(fs::symlink_status(appSync / "Backup")));
    EXPECT_EQ(Link(appSync / "Backup_20240305070809"), store.string());

    InitBackupLocations();
    EXPECT_EQ(BackupNames(RefreshBackupList()), (std::vector<std::string>{"Old"}));
    EXPECT_EQ(PrepareRelocation().InitialLocation, "");
}

TEST_F(Relocation, UnchangedLocationChangesNothing) {
    WriteBackup(home.AppDataBackupFolder() / "a", "A");
    const RelocationResult restoreDefault = Relocate("", "20240305070809");
    EXPECT_TRUE(restoreDefault.Unchanged);
    EXPECT_TRUE(restoreDefault.Succeeded());
    ASSERT_TRUE(Relocate(store.string(), "20240101000000").Succeeded());
    const Tree before = Entries(home.Home() / ".local");

    const RelocationResult same = Relocate(store.string(), "20240305070809");
    EXPECT_TRUE(same.Unchanged);
    EXPECT_TRUE(same.Done.empty());
    EXPECT_EQ(Entries(home.Home() / ".local"), before);
}

TEST_F(Relocation, LocationDifferingOnlyInCaseIsRelinked) {
    const fs::path upper = home.Home() / "Store";
    fs::create_directories(upper);
    ASSERT_TRUE(Relocate(upper.string(), "20240101000000").Succeeded());
    const RelocationResult result = Relocate(store.string(), "20240305070809");
    ASSERT_TRUE(result.Succeeded()) << Why(result);
    EXPECT_FALSE(result.Unchanged);
    EXPECT_EQ(Link(appSync / "Backup"), store.string());
    EXPECT_EQ(Link(appSync / "Backup_20240305070809"), upper.string());
}

TEST_F(Relocation, PreparingAloneMakesOnlyTheFoldersAndTheListing) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old");
    const Tree before = Entries(home.Home());
    const RelocationPreparation preparation = PrepareRelocation();
    EXPECT_TRUE(preparation.Problems.empty());
    EXPECT_EQ(preparation.DirListPath, (home.SettingsFolder() / "dir.txt").string());
    EXPECT_EQ(preparation.InitialLocation, "");

    Tree after = Entries(home.Home());
    for (const char* made :
         {".local/share/Apple Computer/MobileSync", ".local/share/Apple Computer", ".local/share", ".local"}) {
        EXPECT_EQ(after.erase(made), 1u) << made;
    }
    EXPECT_TRUE(after.erase(".config/Marrowick/dir.txt"));
    EXPECT_EQ(after, before);
}

TEST_F(Relocation, BackupOldAlreadyThereStopsBeforeAnyChange) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old");
    fs::create_directories(profileSync / "Backup_old"); // empty: a plain rename would silently replace it
    ASSERT_TRUE(PrepareRelocation().Problems.empty());
    const Tree before = Entries(home.Home());
    const RelocationResult result = Relocate(store.string(), "20240305070809");
    ASSERT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Problem->Step, FailureStep::Rename);
    EXPECT_EQ(result.Problem->Cause, FailureCause::Taken);
    EXPECT_EQ(result.Problem->Path, profileSync.string() + "/Backup");
    EXPECT_EQ(result.Problem->OtherPath, profileSync.string() + "/Backup_old");
    EXPECT_EQ(RelocationFailureText(*result.Problem, ""), "Cannot rename \"" + profileSync.string() +
                                                              "/Backup\" to \"" + profileSync.string() +
                                                              "/Backup_old\": " + std::strerror(EEXIST) + ".");
    EXPECT_TRUE(result.Done.empty());
    EXPECT_EQ(Entries(home.Home()), before) << "no link in either folder, nothing moved";
}

TEST_F(Relocation, TimestampNameTakenStopsBeforeAnyChange) {
    ASSERT_TRUE(Relocate(store.string(), "20240305070809").Succeeded());
    fs::create_directories(profileSync / "Backup_20240305070809");
    const Tree before = Entries(home.Home() / "Apple");
    const RelocationResult result = Relocate(other.string(), "20240305070809");
    ASSERT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Problem->Cause, FailureCause::Taken);
    EXPECT_EQ(result.Problem->OtherPath, profileSync.string() + "/Backup_20240305070809");
    const std::string text = RelocationFailureText(*result.Problem, store.string());
    EXPECT_NE(text.find(profileSync.string() + "/Backup_20240305070809\": File exists."), std::string::npos) << text;
    EXPECT_EQ(Link(appSync / "Backup"), store.string());
    EXPECT_EQ(Entries(home.Home() / "Apple"), before);
}

TEST_F(Relocation, FailedStepIsReportedAndNothingRunsAfterIt) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old");
    const Tree oldBackups = Entries(home.ProfileBackupFolder());
    std::vector<std::string> calls;
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string& first, const std::string& second) {
        if (call != FileSystemCall::Folder) {
            calls.push_back(first + " -> " + second);
        }
        const bool failHere = call == FileSystemCall::Link && second == profileSync.string() + "/Backup";
        return failHere ? std::optional<int>(EACCES) : std::nullopt;
    });
    const RelocationResult result = Relocate(store.string(), "20240305070809");
    ASSERT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Problem->Step, FailureStep::Link);
    EXPECT_EQ(result.Problem->Error, EACCES);
    EXPECT_EQ(result.Problem->Path, profileSync.string() + "/Backup");
    EXPECT_EQ(result.Problem->OtherPath, store.string());
    EXPECT_EQ(RelocationFailureText(*result.Problem, ""), "Cannot make the link \"" + profileSync.string() +
                                                              "/Backup\" to \"" + store.string() +
                                                              "\": " + std::strerror(EACCES) + ".");
    EXPECT_EQ(result.Done.size(), 2u);
    EXPECT_EQ(Entries(profileSync / "Backup_old"), oldBackups);
    EXPECT_FALSE(fs::exists(fs::symlink_status(profileSync / "Backup")));
    EXPECT_EQ(calls.size(), 3u);
}

TEST_F(Relocation, FailedRenameMakesNoLinkOnTopOfTheFolder) {
    WriteBackup(home.AppDataBackupFolder() / "a", "A");
    const Tree before = Entries(home.AppDataBackupFolder());
    int calls = 0;
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string&, const std::string&) {
        calls += call == FileSystemCall::Folder ? 0 : 1;
        return call == FileSystemCall::Rename ? std::optional<int>(EXDEV) : std::nullopt;
    });
    const RelocationResult result = Relocate(store.string(), "20240305070809");
    ASSERT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Problem->Step, FailureStep::Rename);
    EXPECT_EQ(result.Problem->Error, EXDEV);
    EXPECT_NE(RelocationFailureText(*result.Problem, "").find(std::strerror(EXDEV)), std::string::npos);
    EXPECT_TRUE(result.Done.empty());
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(fs::is_symlink(appSync / "Backup"));
    EXPECT_EQ(Entries(home.AppDataBackupFolder()), before);
}

TEST_F(Relocation, StalePictureOfTheFirstFolderIsRefused) {
    ASSERT_TRUE(Relocate(store.string(), "20240101000000").Succeeded());
    const Tree before = Entries(home.Home() / ".local");
    const RelocationResult asIfDefault = ApplyBackupLocation("", other.string(), "20240305070809");
    ASSERT_FALSE(asIfDefault.Succeeded());
    EXPECT_EQ(asIfDefault.Problem->Cause, FailureCause::Changed);
    EXPECT_EQ(asIfDefault.Problem->Path, appSync.string() + "/Backup");
    EXPECT_EQ(asIfDefault.Problem->OtherPath, store.string());
    EXPECT_EQ(RelocationFailureText(*asIfDefault.Problem, ""),
              "\"" + appSync.string() +
                  "/Backup\" is a link, but it was read as the default folder; nothing was changed. Read the location "
                  "again and retry.");
    EXPECT_EQ(Entries(home.Home() / ".local"), before);

    ASSERT_TRUE(Relocate("", "20240202000000").Succeeded());
    fs::create_directories(appSync / "Backup");
    const RelocationResult asIfLinked = ApplyBackupLocation(store.string(), other.string(), "20240305070809");
    ASSERT_FALSE(asIfLinked.Succeeded());
    EXPECT_EQ(asIfLinked.Problem->Cause, FailureCause::Changed);
    EXPECT_EQ(asIfLinked.Problem->OtherPath, "");
    EXPECT_EQ(RelocationFailureText(*asIfLinked.Problem, store.string()),
              "\"" + appSync.string() + "/Backup\" is no longer a link to \"" + store.string() +
                  "\"; nothing was changed. Read the location again and retry.");
    const RelocationResult asIfUnchanged = ApplyBackupLocation(store.string(), store.string(), "20240305070809");
    EXPECT_FALSE(asIfUnchanged.Succeeded() || asIfUnchanged.Unchanged);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(appSync / "Backup")));
    EXPECT_FALSE(fs::exists(appSync / "Backup_20240305070809"));
}

TEST_F(Relocation, LocationInsideTheFolderThatMovesIsRefused) {
    fs::create_directories(home.ProfileBackupFolder() / "inner");
    const Tree before = Entries(home.Home() / "Apple");
    for (const fs::path& target : {home.ProfileBackupFolder() / "inner", home.ProfileBackupFolder(),
                                   home.Home() / "Apple" / "MobileSync" / "." / "Backup"}) {
        const RelocationResult result = Relocate(target.string(), "20240305070809");
        ASSERT_FALSE(result.Succeeded()) << target;
        EXPECT_EQ(result.Problem->Cause, FailureCause::Inside);
        EXPECT_EQ(result.Problem->Path, target.string());
        const std::string text = RelocationFailureText(*result.Problem, "");
        EXPECT_NE(text.find("lies inside"), std::string::npos) << text;
    }
    const RelocationResult relative = Relocate("relative/path", "20240305070809");
    ASSERT_FALSE(relative.Succeeded());
    EXPECT_EQ(relative.Problem->Cause, FailureCause::NotAbsolute);
    EXPECT_EQ(RelocationFailureText(*relative.Problem, ""),
              "The new location \"relative/path\" is not a full path (it must start with \"/\").");
    EXPECT_EQ(Entries(home.Home() / "Apple"), before);
}

TEST_F(Relocation, FileWhereTheMobileSyncFolderMustBeIsReported) {
    WriteFile(appSync, "not a folder");
    const RelocationPreparation preparation = PrepareRelocation();
    ASSERT_EQ(preparation.Problems.size(), 2u) << "the folder, then its listing";
    EXPECT_EQ(preparation.Problems[0].Step, PreparationStep::MobileSyncFolder);
    EXPECT_EQ(preparation.Problems[0].Why.Cause, FailureCause::NotFolder);
    EXPECT_EQ(preparation.Problems[1].Step, PreparationStep::Listing);
    EXPECT_EQ(preparation.Problems[1].ListPath, preparation.DirListPath);
    const std::string text = PreparationProblemText(preparation.Problems[0]);
    EXPECT_NE(text.find(appSync.string() + "\" is a file, not a folder."), std::string::npos) << text;
    EXPECT_EQ(preparation.InitialLocation, "");
    const RelocationResult result = ApplyBackupLocation("", store.string(), "20240305070809");
    ASSERT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Problem->Step, FailureStep::Check);
    EXPECT_EQ(result.Problem->Error, ENOTDIR);
    EXPECT_EQ(RelocationFailureText(*result.Problem, ""),
              "The folder \"" + appSync.string() + "\" cannot be used: " + std::strerror(ENOTDIR) + ".");
    EXPECT_EQ(ReadFile(appSync), "not a folder");
    EXPECT_FALSE(fs::exists(fs::symlink_status(profileSync / "Backup")));
}

class RelocationTarget : public Relocation, public ::testing::WithParamInterface<testing::RelocationTargetCase> {};

TEST_P(RelocationTarget, IsReadFromTheLinkForEveryDecision) {
    const fs::path target = home.Home() / GetParam().Path;
    fs::create_directories(target);
    WriteBackup(home.ProfileBackupFolder() / "old", "Old");
    ASSERT_TRUE(Relocate(target.string(), "20240101000000").Succeeded());
    const RelocationPreparation preparation = PrepareRelocation();
    EXPECT_EQ(preparation.InitialLocation, target.string());

    // A decision taken on what the listing gives is refused instead of doing nothing.
    const std::string misread = ReadBackupLinkTarget(preparation.DirListPath);
    ASSERT_NE(misread, target.string());
    const RelocationResult stale = ApplyBackupLocation(misread, misread, "20240202000000");
    ASSERT_FALSE(stale.Succeeded() || stale.Unchanged);
    EXPECT_EQ(stale.Problem->Cause, FailureCause::Changed);
    EXPECT_EQ(stale.Problem->OtherPath, target.string());
    const std::string text = RelocationFailureText(*stale.Problem, misread);
    EXPECT_NE(text.find("Read the location again"), std::string::npos) << text;

    EXPECT_TRUE(Relocate(target.string(), "20240202000000").Unchanged);
    const RelocationResult restore = Relocate("", "20240305070809");
    ASSERT_TRUE(restore.Succeeded()) << Why(restore);
    EXPECT_FALSE(restore.Unchanged);
    EXPECT_EQ(Link(profileSync / "Backup_20240305070809"), target.string());
    EXPECT_TRUE(fs::exists(profileSync / "Backup" / "old" / "Info.plist"));
}

INSTANTIATE_TEST_SUITE_P(Relocation, RelocationTarget, ::testing::ValuesIn(testing::MisreadRelocationTargets()));

TEST(RenameNoReplace, NeverReplacesWhatIsThere) {
    TempHome home;
    const fs::path from = home.Home() / "from";
    const fs::path emptyFolder = home.Home() / "empty";
    const fs::path file = home.Home() / "file";
    fs::create_directories(from / "keep");
    fs::create_directories(emptyFolder);
    WriteFile(file, "x");
    const auto error = [](const Result<void>& done) { return done ? 0 : done.Error().Error; };
    EXPECT_EQ(error(RenameNoReplace(from.string(), emptyFolder.string())), EEXIST);
    const Result<void> ontoFolder = RenameNoReplace(file.string(), emptyFolder.string());
    ASSERT_FALSE(ontoFolder);
    EXPECT_EQ(ontoFolder.Error().Step, FailureStep::Rename);
    EXPECT_EQ(ontoFolder.Error().Error, EEXIST);
    EXPECT_EQ(ontoFolder.Error().Path, file.string());
    EXPECT_EQ(ontoFolder.Error().OtherPath, emptyFolder.string());
    EXPECT_TRUE(fs::is_directory(emptyFolder));
    EXPECT_TRUE(fs::is_directory(from / "keep"));
    EXPECT_EQ(error(RenameNoReplace(from.string(), (home.Home() / "to").string())), 0);
    EXPECT_TRUE(fs::is_directory(home.Home() / "to" / "keep"));
    EXPECT_EQ(error(RenameNoReplace(from.string(), (home.Home() / "again").string())), ENOENT);
    const Result<void> link = MakeDirectoryLink("/nowhere", file.string());
    ASSERT_FALSE(link);
    EXPECT_EQ(link.Error().Step, FailureStep::Link);
    EXPECT_EQ(link.Error().Error, EEXIST);
    EXPECT_EQ(link.Error().Path, file.string());
    EXPECT_EQ(link.Error().OtherPath, "/nowhere");
    EXPECT_EQ(ReadFile(file), "x");
}

} // namespace
} // namespace marrowick
