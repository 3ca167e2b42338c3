#include "CliRunner.h"

#include "core/settings/ExtraLocations.h"
#include "core/settings/Relocation.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace marrowick::cli {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempHome;
using testing::WriteFile;

class SettingsCommands : public ::testing::Test {
protected:
    TempHome home;
    fs::path locationsFile = home.SettingsFolder() / "backuppath.txt";
    fs::path appSync = home.AppDataBackupFolder().parent_path();
    fs::path profileSync = home.ProfileBackupFolder().parent_path();
    fs::path store = home.Home() / "store";

    void SetUp() override { fs::create_directories(store); }
};

TEST_F(SettingsCommands, LocationsListsTheDefaultsThenTheExtras) {
    WriteFile(locationsFile, "/srv/a/\r\n/srv/b\r\n");
    const CliRun run = RunTool({"locations"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_EQ(run.Err, "");
    const std::string appData = home.AppDataBackupFolder().string() + "/";
    const std::string profile = home.ProfileBackupFolder().string() + "/";
    EXPECT_EQ(run.Out, "#  Kind     Location\n"
                       "1  default  " +
                           appData +
                           "\n"
                           "2  default  " +
                           profile +
                           "\n"
                           "3  extra    /srv/a/\n"
                           "4  extra    /srv/b\n");
}

TEST_F(SettingsCommands, AddStoresAbsoluteFoldersWithASlashAndRefusesDuplicates) {
    CliRun run = RunTool({"locations", "add", "/"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(run.Out, "Added \"/\" to the backup locations.\n");

    const fs::path saved = fs::current_path();
    fs::current_path(home.Home());
    run = RunTool({"locations", "add", "store/../store"});
    fs::current_path(saved);
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(ReadFile(locationsFile), "/\r\n" + store.string() + "/\r\n");

    run = RunTool({"locations", "add", store.string() + "/"});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_EQ(run.Err,
              "marrowick-cli locations: This path is exist, you don't need to add again. (" + store.string() + "/)\n");

    fs::create_directories(home.AppDataBackupFolder());
    run = RunTool({"locations", "add", home.AppDataBackupFolder().string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("This path is exist"), std::string::npos);
    EXPECT_EQ(ReadFile(locationsFile), "/\r\n" + store.string() + "/\r\n");

    run = RunTool({"locations", "add", (home.Home() / "missing").string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_EQ(run.Err, "marrowick-cli locations: \"" + (home.Home() / "missing").string() + "\" does not exist.\n");
}

TEST_F(SettingsCommands, NineteenthAddIsRefused) {
    for (int i = 1; i <= 19; ++i) {
        fs::create_directories(home.Home() / ("b" + std::to_string(i)));
    }
    for (int i = 1; i <= 18; ++i) {
        ASSERT_EQ(RunTool({"locations", "add", (home.Home() / ("b" + std::to_string(i))).string()}).Status, ExitOk);
    }
    const CliRun run = RunTool({"locations", "add", (home.Home() / "b19").string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("There are already 18 other backup locations. Delete one before adding another."),
              std::string::npos);
    const std::string file = ReadFile(locationsFile);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 18);
    EXPECT_EQ(file.find("b19"), std::string::npos);
}

TEST_F(SettingsCommands, RemoveTakesOutAnExtraLocationOnly) {
    WriteFile(locationsFile, "/srv/a/\r\n/srv/b\r\n/srv/c/\r\n");
    CliRun run = RunTool({"locations", "remove", "/srv/b/"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(run.Out, "Removed \"/srv/b\" from the backup locations.\n");
    EXPECT_EQ(ReadFile(locationsFile), "/srv/a/\r\n/srv/c/\r\n");

    run = RunTool({"locations", "remove", "/srv/B/"});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("is not one of the extra backup locations"), std::string::npos);

    run = RunTool({"locations", "remove", home.ProfileBackupFolder().string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("is a default backup folder and cannot be removed."), std::string::npos);
    EXPECT_EQ(ReadFile(locationsFile), "/srv/a/\r\n/srv/c/\r\n");
}

TEST_F(SettingsCommands, UnwritableLocationsFileFailsAndSaysWhy) {
    fs::create_directories(locationsFile);
    const CliRun run = RunTool({"locations", "add", store.string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("Failed to write file. \"" + locationsFile.string() + "\": "), std::string::npos) << run.Err;
    EXPECT_TRUE(fs::is_directory(locationsFile));
}

TEST_F(SettingsCommands, RelocateRestoreAndShowTheLocation) {
    testing::WriteSampleBackup(home.ProfileBackupFolder() / "old", testing::SampleBackup());

    CliRun run = RunTool({"relocate"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_EQ(run.Out, "The iTunes backup folder is in its default place.\n");

    run = RunTool({"relocate", store.string() + "/"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(run.Out, "Linked \"" + appSync.string() + "/Backup\" to \"" + store.string() +
                           "\".\n"
                           "Renamed \"" +
                           profileSync.string() + "/Backup\" to \"" + profileSync.string() +
                           "/Backup_old\".\n"
                           "Linked \"" +
                           profileSync.string() + "/Backup\" to \"" + store.string() +
                           "\".\n"
                           "iTunes now keeps its backups in \"" +
                           store.string() + "\".\n");
    EXPECT_EQ(fs::read_symlink(profileSync / "Backup"), store);

    run = RunTool({"relocate", store.string()});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_EQ(run.Out, "The iTunes backup folder is linked to \"" + store.string() + "\".\nNothing was changed.\n");

    run = RunTool({"relocate", "--restore"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_NE(run.Out.find("iTunes keeps its backups in the default folder again."), std::string::npos);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(profileSync / "Backup")));
    EXPECT_TRUE(fs::exists(profileSync / "Backup" / "old" / "Info.plist"));

    run = RunTool({"relocate", "--restore"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_NE(run.Out.find("Nothing was changed."), std::string::npos);
}

TEST_F(SettingsCommands, RelocateFailureKeepsEverythingAndExitsOne) {
    fs::create_directories(profileSync / "Backup" / "kept");
    fs::create_directories(profileSync / "Backup_old");
    CliRun run = RunTool({"relocate", store.string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "marrowick-cli relocate: Cannot rename \"" + profileSync.string() + "/Backup\" to \"" +
                           profileSync.string() + "/Backup_old\": " + std::strerror(EEXIST) + ".\n");
    EXPECT_TRUE(fs::is_directory(profileSync / "Backup" / "kept"));
    EXPECT_FALSE(fs::is_symlink(appSync / "Backup"));

    run = RunTool({"relocate", (home.Home() / "missing").string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("does not exist."), std::string::npos);
}

TEST_F(SettingsCommands, LocationWithAControlCharacterIsAUsageErrorAndNothingIsWritten) {
    for (const char* name : {"a\nb", "tab\there", "del\x7f"}) {
        const fs::path folder = home.Home() / name;
        fs::create_directories(folder);
        const CliRun run = RunTool({"locations", "add", folder.string()});
        EXPECT_EQ(run.Status, ExitUsage) << name;
        EXPECT_NE(run.Err.find(ControlCharacterLocationMessage), std::string::npos) << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    }
    EXPECT_FALSE(fs::exists(locationsFile));
}

TEST_F(SettingsCommands, LocationsSaysHowManyLinesOfTheFileAreLeftOutUntilASaveDropsThem) {
    WriteFile(locationsFile, "/srv/a/\r\n\r\n/srv/b/\r\n/srv/c/\r\n");
    const std::string note = "marrowick-cli locations: 2 lines of \"" + locationsFile.string() +
                             "\" were left out: only the first 18 lines, up to the first empty one, are used. Saving "
                             "the locations drops them from the file.\n";
    CliRun run = RunTool({"locations"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_EQ(run.Err, note);
    run = RunTool({"locations", "add", store.string()});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_EQ(run.Err, note);
    EXPECT_EQ(RunTool({"locations"}).Err, "");
}

class RelocateTarget : public SettingsCommands, public ::testing::WithParamInterface<testing::RelocationTargetCase> {};

// What the listing gives for the link (cut short at "]", or nothing) is never taken for the link's target.
TEST_P(RelocateTarget, IsReadFromTheLinkItself) {
    const fs::path target = home.Home() / GetParam().Path;
    fs::create_directories(target);
    fs::create_directories(profileSync / "Backup" / "kept");
    ASSERT_EQ(RunTool({"relocate", target.string()}).Status, ExitOk);
    EXPECT_EQ(RunTool({"relocate"}).Out, "The iTunes backup folder is linked to \"" + target.string() + "\".\n");

    const std::string misread = ReadBackupLinkTarget((home.SettingsFolder() / "dir.txt").string());
    ASSERT_NE(misread, target.string());
    if (!misread.empty()) {
        fs::create_directories(misread);
    }
    const CliRun run = RunTool(misread.empty() ? std::vector<std::string>{"relocate", "--restore"}
                                               : std::vector<std::string>{"relocate", misread});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(run.Out.find("Nothing was changed."), std::string::npos) << run.Out;
    EXPECT_EQ(fs::is_symlink(profileSync / "Backup") ? fs::read_symlink(profileSync / "Backup").string() : "", misread);
}

INSTANTIATE_TEST_SUITE_P(SettingsCommands, RelocateTarget, ::testing::ValuesIn(testing::MisreadRelocationTargets()));

TEST_F(SettingsCommands, UsageErrorsExitTwoAndHelpIsThere) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"locations", "add"},
             {"locations", "add", "/a", "/b"},
             {"locations", "frob"},
             {"locations", "--all"},
             {"relocate", "/a", "/b"},
             {"relocate", "--restore", "/a"},
             {"relocate", "--force"},
         }) {
        const CliRun run = RunTool(args);
        EXPECT_EQ(run.Status, ExitUsage) << args.back();
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        EXPECT_NE(run.Err.find("--help\" for its usage."), std::string::npos) << run.Err;
    }
    for (const char* command : {"locations", "relocate"}) {
        const CliRun run = RunTool({command, "--help"});
        EXPECT_EQ(run.Status, ExitOk);
        EXPECT_TRUE(run.Out.starts_with(std::string("Usage: marrowick-cli ") + command)) << run.Out;
    }
    EXPECT_NE(RunTool({"--help"}).Out.find("relocate"), std::string::npos);
    EXPECT_FALSE(fs::exists(locationsFile));
}

} // namespace
} // namespace marrowick::cli
