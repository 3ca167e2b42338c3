#include "core/settings/ExtraLocations.h"
#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/settings/LocationsFile.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::BackupNames;
using testing::ReadFile;
using testing::TempHome;

using Rows = std::vector<std::string>;

class ExtraLocations : public ::testing::Test {
protected:
    TempHome home;
    fs::path file = home.SettingsFolder() / "backuppath.txt";

    void SetUp() override { InitBackupLocations(); }

    void WriteLocationsFile(const std::string& content) {
        testing::WriteFile(file, content);
        InitBackupLocations();
    }

    fs::path BackupIn(const std::string& folder, const std::string& name) {
        return testing::WriteSampleBackup(home.Home() / folder / "device", {.DisplayName = name}).parent_path();
    }
};

TEST_F(ExtraLocations, RootIsKeptAndAFolderGetsItsSlash) {
    const AddLocationResult root = AddExtraLocation("/");
    EXPECT_TRUE(root.Added());
    EXPECT_EQ(AddLocationStatusText(root.Status), "");
    EXPECT_EQ(root.Folder, "/");
    const AddLocationResult srv = AddExtraLocation("/srv/backups");
    EXPECT_TRUE(srv.Added());
    EXPECT_EQ(srv.Folder, "/srv/backups/");
    EXPECT_EQ(ExtraLocationRows(), (Rows{"/", "/srv/backups/"}));
    EXPECT_EQ(BackupLocations[4], "");
}

TEST_F(ExtraLocations, NothingChosenChangesNothing) {
    const AddLocationResult result = AddExtraLocation("");
    EXPECT_EQ(result.Status, AddLocationStatus::NothingChosen);
    EXPECT_EQ(AddLocationStatusText(result.Status), "");
    EXPECT_TRUE(ExtraLocationRows().empty());
}

TEST_F(ExtraLocations, FoldersDifferingInCaseAreTwoFoldersAndBothAreSearched) {
    const fs::path upper = BackupIn("Store", "Upper");
    const fs::path lower = BackupIn("store", "Lower");
    ASSERT_FALSE(fs::equivalent(upper, lower)) << "the temporary folder must be case-sensitive";

    EXPECT_TRUE(AddExtraLocation(upper.string()).Added());
    EXPECT_TRUE(AddExtraLocation(lower.string()).Added());
    EXPECT_EQ(ExtraLocationRows(), (Rows{upper.string() + "/", lower.string() + "/"}));
    std::vector<std::string> names = BackupNames(RefreshBackupList());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Rows{"Lower", "Upper"}));
}

TEST_F(ExtraLocations, DefaultFoldersAndListedFoldersAreDuplicates) {
    ASSERT_TRUE(AddExtraLocation("/srv/backups").Added());
    const std::vector<std::string> same = {
        BackupLocations[0],
        home.AppDataBackupFolder().string(), // without its slash
        BackupLocations[1],
        "/srv/backups/",
        "/srv/backups",
    };
    for (const std::string& folder : same) {
        const AddLocationResult result = AddExtraLocation(folder);
        EXPECT_EQ(result.Status, AddLocationStatus::Duplicate) << folder;
        EXPECT_EQ(AddLocationStatusText(result.Status), "This path is exist, you don't need to add again.") << folder;
    }
    EXPECT_EQ(ExtraLocationRows(), (Rows{"/srv/backups/"}));
}

TEST_F(ExtraLocations, PathWithAControlCharacterIsRefused) {
    for (const char* folder : {"/srv/a\nb", "/srv/a\r", "/srv/\tx", "/srv/\x7f"}) {
        const AddLocationResult result = AddExtraLocation(folder);
        EXPECT_EQ(result.Status, AddLocationStatus::Unstorable) << folder;
        EXPECT_EQ(AddLocationStatusText(result.Status), ControlCharacterLocationMessage);
    }
    EXPECT_TRUE(ExtraLocationRows().empty());
    EXPECT_TRUE(AddExtraLocation("/srv/\u00fcber").Added()) << "UTF-8 bytes are no control characters";
}

TEST_F(ExtraLocations, LineReadWithoutSlashIsTheSameFolder) {
    WriteLocationsFile("/srv/old\r\n");
    EXPECT_EQ(AddExtraLocation("/srv/old/").Status, AddLocationStatus::Duplicate);
    EXPECT_EQ(ExtraLocationRows(), (Rows{"/srv/old"}));
    EXPECT_EQ(FindExtraLocationRow("/srv/old/"), 0);
    EXPECT_EQ(FindExtraLocationRow("/srv/old"), 0);
    EXPECT_EQ(FindExtraLocationRow("/srv/Old"), -1);
    EXPECT_EQ(FindExtraLocationRow(""), -1);
}

TEST_F(ExtraLocations, NineteenthLocationIsRefusedWithAMessage) {
    for (int i = 1; i <= 18; ++i) {
        ASSERT_TRUE(AddExtraLocation("/srv/b" + std::to_string(i)).Added()) << i;
    }
    const AddLocationResult refused = AddExtraLocation("/srv/b19");
    EXPECT_EQ(refused.Status, AddLocationStatus::TableFull);
    EXPECT_EQ(AddLocationStatusText(refused.Status),
              "There are already 18 other backup locations. Delete one before adding another.");
    EXPECT_EQ(ExtraLocationRows().size(), 18u);
    EXPECT_EQ(BackupLocations[19], "/srv/b18/");
    EXPECT_EQ(BackupLocations[20], "");

    // A full table still knows its duplicates, and a deletion makes room.
    EXPECT_EQ(AddExtraLocation("/srv/b5").Status, AddLocationStatus::Duplicate);
    ASSERT_TRUE(DeleteExtraLocationRow(17));
    EXPECT_EQ(BackupLocations[19], "");
    EXPECT_TRUE(AddExtraLocation("/srv/b19").Added());
    EXPECT_EQ(BackupLocations[19], "/srv/b19/");
}

TEST_F(ExtraLocations, DeletingTheFirstOfThreeRowsKeepsTheOrder) {
    for (const char* folder : {"/a/", "/b/", "/c/"}) {
        ASSERT_TRUE(AddExtraLocation(folder).Added());
    }
    ASSERT_TRUE(DeleteExtraLocationRow(0));
    EXPECT_EQ(BackupLocations[2], "/b/");
    EXPECT_EQ(BackupLocations[3], "/c/");
    EXPECT_EQ(BackupLocations[4], "");
    EXPECT_FALSE(DeleteExtraLocationRow(2)) << "there is no third row any more";
    EXPECT_EQ(ExtraLocationRows(), (Rows{"/b/", "/c/"}));
}

TEST_F(ExtraLocations, DeletingFromAFullTableEmptiesTheLastSlot) {
    for (int i = 1; i <= 18; ++i) {
        ASSERT_TRUE(AddExtraLocation("/srv/b" + std::to_string(i)).Added());
    }
    ASSERT_TRUE(DeleteExtraLocationRow(0));
    EXPECT_EQ(BackupLocations[2], "/srv/b2/");
    EXPECT_EQ(BackupLocations[18], "/srv/b18/");
    EXPECT_EQ(BackupLocations[19], "");
    EXPECT_EQ(BackupLocations[20], "");
    EXPECT_FALSE(DeleteExtraLocationRow(1000));
}

TEST_F(ExtraLocations, DeletingEveryRowThenSavingWritesAnEmptyFileAndSearchesOnlyTheDefaults) {
    const fs::path extra1 = BackupIn("extra1", "Extra1");
    const fs::path extra2 = BackupIn("extra2", "Extra2");
    testing::WriteSampleBackup(home.ProfileBackupFolder() / "x", {.DisplayName = "Default"});
    WriteLocationsFile(extra1.string() + "/\r\n" + extra2.string() + "/\r\n");
    ASSERT_EQ(RefreshBackupList().size(), 3u);

    while (DeleteExtraLocationRow(0)) {
    }
    EXPECT_TRUE(ExtraLocationRows().empty());
    ASSERT_TRUE(SaveBackupLocations());
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_EQ(BackupNames(RefreshBackupList()), (Rows{"Default"}));
}

TEST_F(ExtraLocations, AddedFolderIsSearchedWithoutSavingButNotKeptAfterARestart) {
    const fs::path extra = BackupIn("extra", "Extra");
    WriteLocationsFile("/srv/kept/\r\n");
    ASSERT_TRUE(AddExtraLocation(extra.string()).Added());
    // Cancel: nothing is written, yet the next search (F5) covers the added folder.
    EXPECT_EQ(ReadFile(file), "/srv/kept/\r\n");
    EXPECT_EQ(BackupNames(RefreshBackupList()), (Rows{"Extra"}));

    InitBackupLocations();
    EXPECT_EQ(ExtraLocationRows(), (Rows{"/srv/kept/"}));
    EXPECT_TRUE(RefreshBackupList().empty());
}

TEST_F(ExtraLocations, OkWithoutEditsRewritesTheFile) {
    WriteLocationsFile("/a\n/b/\n");
    ASSERT_TRUE(SaveBackupLocations());
    EXPECT_EQ(ReadFile(file), "/a\r\n/b/\r\n");
}

} // namespace
} // namespace marrowick
