#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/settings/LocationsFile.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::BackupNames;
using testing::SampleBackup;
using testing::TempHome;
using testing::WriteFile;

SampleBackup Backup(const std::string& name, double date) {
    return {.DisplayName = name, .Date = date};
}

class Discovery : public ::testing::Test {
protected:
    TempHome home{"UTC"};
    fs::path locationsFile = home.SettingsFolder() / "backuppath.txt";

    void WriteLocations(const std::string& content) { WriteFile(locationsFile, content); }

    std::vector<BackupRecord> Scan() {
        InitBackupLocations();
        return RefreshBackupList();
    }
};

TEST_F(Discovery, FirstRunSearchesOnlyTheDefaultFoldersAndWritesNothing) {
    testing::WriteSampleBackup(home.AppDataBackupFolder() / "aaa", Backup("FromAppData", 600000000));
    testing::WriteSampleBackup(home.ProfileBackupFolder() / "bbb", Backup("FromProfile", 500000000));
    testing::WriteSampleBackup(home.Home() / "elsewhere" / "ccc", Backup("Elsewhere", 400000000));

    EXPECT_EQ(BackupNames(Scan()), (std::vector<std::string>{"FromProfile", "FromAppData"}));
    EXPECT_TRUE(fs::is_directory(home.SettingsFolder()));
    EXPECT_FALSE(fs::exists(locationsFile));
    EXPECT_EQ(BackupLocations[0], home.AppDataBackupFolder().string() + "/");
    EXPECT_EQ(BackupLocations[1], home.ProfileBackupFolder().string() + "/");
    EXPECT_EQ(BackupLocations[2], "");
    EXPECT_EQ(MobileSyncFolders[0], (home.Home() / ".local/share/Apple Computer/MobileSync").string());
    EXPECT_EQ(MobileSyncFolders[1], (home.Home() / "Apple/MobileSync").string());
}

TEST_F(Discovery, RowsCarryTheirFolderAndComeOldestFirst) {
    const fs::path extra = home.Home() / "extra";
    testing::WriteSampleBackup(extra / "x", Backup("Newest", 700000000));
    testing::WriteSampleBackup(home.AppDataBackupFolder() / "y", Backup("Middle", 600000000));
    testing::WriteSampleBackup(extra / "z", Backup("Oldest", 100000000));
    WriteLocations(extra.string() + "\r\n");

    const auto rows = Scan();
    EXPECT_EQ(BackupNames(rows), (std::vector<std::string>{"Oldest", "Middle", "Newest"}));
    EXPECT_EQ(rows[0].FolderPath, (extra / "z").string() + "/");
    EXPECT_EQ(rows[0].Time, "2004-03-03 09:46:40");
}

TEST_F(Discovery, LocationDepthDecidesWhatIsFound) {
    const fs::path deep = home.Home() / "a" / "b" / "c";
    testing::WriteSampleBackup(deep / "backup", Backup("Deep", 600000000));
    // One level too high: the backup is a grandchild of the location.
    WriteLocations((home.Home() / "a" / "b").string() + "\n");
    EXPECT_EQ(BackupNames(Scan()), (std::vector<std::string>{"Deep"}));
    // Without a trailing "/" the location is searched the same.
    WriteLocations((home.Home() / "a" / "b" / "c").string() + "\n");
    EXPECT_EQ(BackupNames(Scan()), (std::vector<std::string>{"Deep"}));
    // Two levels too high: not found.
    WriteLocations((home.Home() / "a").string() + "/\n");
    EXPECT_TRUE(Scan().empty());
}

TEST_F(Discovery, FolderWithPlistsButNoManifestIsSearchedInside) {
    SampleBackup shell = Backup("Shell", 600000000);
    shell.Manifest = testing::SampleManifest::None;
    const fs::path location = home.Home() / "loc";
    testing::WriteSampleBackup(location / "shell", shell);
    testing::WriteSampleBackup(location / "shell" / "inner", Backup("Inner", 600000000));
    WriteLocations(location.string() + "\n");
    EXPECT_EQ(BackupNames(Scan()), (std::vector<std::string>{"Inner"}));
}

TEST_F(Discovery, DuplicatesAreDroppedAtTheFirstLevelOnly) {
    const fs::path one = home.Home() / "one";
    const fs::path two = home.Home() / "two";
    testing::WriteSampleBackup(one / "same", Backup("Same", 600000000));
    testing::WriteSampleBackup(two / "copy", Backup("Same", 600000000));
    WriteLocations(one.string() + "\n" + two.string() + "\n");
    auto rows = Scan();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].FolderPath, (one / "same").string() + "/");

    // Reached one level deeper through a location above them, both are listed again.
    WriteLocations(one.string() + "\n" + home.Home().string() + "\n");
    rows = Scan();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].FolderPath, (one / "same").string() + "/");
    EXPECT_EQ(rows[2].FolderPath, (two / "copy").string() + "/");
}

TEST_F(Discovery, DifferentFolderKindAloneIsStillADuplicate) {
    const fs::path one = home.Home() / "one";
    SampleBackup old = Backup("Same", 600000000);
    old.Manifest = testing::SampleManifest::Mbdb;
    testing::WriteSampleBackup(one / "a", Backup("Same", 600000000));
    testing::WriteSampleBackup(one / "b", old);
    WriteLocations(one.string() + "\n");
    const auto rows = Scan();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ManifestKind, ManifestKindDb);
}

TEST_F(Discovery, MissingOrUnlistableLocationsAddNothingAndStopNothing) {
    const fs::path good = home.Home() / "good";
    testing::WriteSampleBackup(good / "b", Backup("Good", 600000000));
    WriteFile(home.Home() / "plainfile", "not a folder");
    WriteLocations((home.Home() / "missing").string() + "\n" + (home.Home() / "plainfile").string() + "\n" +
                   good.string() + "\n");
    EXPECT_EQ(BackupNames(Scan()), (std::vector<std::string>{"Good"}));
}

TEST_F(Discovery, ScanWritesNothingIntoALocation) {
    const fs::path location = home.Home() / "loc";
    SampleBackup backup = Backup("B", 600000000);
    backup.Files = {{"HomeDomain", "Library/SMS/sms.db", "content"}};
    testing::WriteSampleBackup(location / "b", backup);
    testing::WriteSampleBackup(location / "old",
                               {.DisplayName = "Old", .Date = 500000000, .Manifest = testing::SampleManifest::Mbdb});
    WriteLocations(location.string() + "\n");
    const auto before = testing::SnapshotFolder(location);
    EXPECT_EQ(Scan().size(), 2u);
    EXPECT_EQ(testing::SnapshotFolder(location), before);
}

TEST_F(Discovery, LinkedBackupFolderIsFollowed) {
    const fs::path real = home.Home() / "real";
    testing::WriteSampleBackup(real / "b", Backup("Linked", 600000000));
    fs::create_directories(home.AppDataBackupFolder().parent_path());
    fs::create_directory_symlink(real, home.AppDataBackupFolder());
    EXPECT_EQ(BackupNames(Scan()), (std::vector<std::string>{"Linked"}));
}

TEST(Exchange, EqualTimesEndInTheOrderTheExchangeSortGives) {
    TempHome home("UTC");
    const fs::path location = home.Home() / "loc";
    // Found in folder-name order: a and b of the same time, then the older c.
    testing::WriteSampleBackup(location / "a", Backup("Later-a", 600000000));
    testing::WriteSampleBackup(location / "b", Backup("Later-b", 600000000));
    testing::WriteSampleBackup(location / "c", Backup("Earlier-c", 500000000));
    WriteFile(home.SettingsFolder() / "backuppath.txt", location.string() + "\n");
    InitBackupLocations();
    // Row 0 swaps with row 2; the two equal times are never swapped with each other, so b now precedes a.
    EXPECT_EQ(BackupNames(RefreshBackupList()), (std::vector<std::string>{"Earlier-c", "Later-b", "Later-a"}));
}

} // namespace
} // namespace marrowick
