#include "core/settings/LocationsFile.h"
#include "core/backup/BackupLocations.h"
#include "core/platform/FileSystemOps.h"
#include "core/settings/Relocation.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempHome;
using testing::WriteFile;

class LocationsFile : public ::testing::Test {
protected:
    TempHome home;
    fs::path file = home.SettingsFolder() / "backuppath.txt";

    std::vector<std::string> Extras() {
        std::vector<std::string> extras;
        for (std::size_t slot = FirstExtraLocationSlot; slot <= LastExtraLocationSlot && !BackupLocations[slot].empty();
             ++slot) {
            extras.push_back(BackupLocations[slot]);
        }
        return extras;
    }
};

TEST_F(LocationsFile, TwentyLinesFillEighteenSlotsAndSaveWritesThose) {
    std::string content;
    for (int i = 1; i <= 20; ++i) {
        content += "/srv/backups" + std::to_string(i) + "/\r\n";
    }
    WriteFile(file, content);
    InitBackupLocations();
    EXPECT_EQ(UnreadLocationLines(), 2u);
    const auto extras = Extras();
    ASSERT_EQ(extras.size(), 18u);
    EXPECT_EQ(extras.front(), "/srv/backups1/");
    EXPECT_EQ(extras.back(), "/srv/backups18/");
    EXPECT_EQ(BackupLocations[20], "");

    ASSERT_TRUE(SaveBackupLocations());
    std::string expected;
    for (int i = 1; i <= 18; ++i) {
        expected += "/srv/backups" + std::to_string(i) + "/\r\n";
    }
    EXPECT_EQ(ReadFile(file), expected);
    EXPECT_EQ(UnreadLocationLines(), 0u) << "the save dropped them";
}

// A FIFO in the file's place would block the start for ever; it is passed over as a missing file.
TEST_F(LocationsFile, FifoInItsPlaceIsNotWaitedOn) {
    fs::create_directories(file.parent_path());
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    ::alarm(20);

    InitBackupLocations();

    ::alarm(0);
    EXPECT_TRUE(Extras().empty());
    EXPECT_EQ(BackupLocations[0], GetAppDataBackupFolder());
}

TEST_F(LocationsFile, EmptyThirdLineEndsTheList) {
    WriteFile(file, "/a/\r\n/b/\r\n\r\n/c/\r\n\r\n/d/");
    EXPECT_EQ(LoadBackupLocations(), 2u);
    EXPECT_EQ(Extras(), (std::vector<std::string>{"/a/", "/b/"}));
    ASSERT_TRUE(SaveBackupLocations());
    EXPECT_EQ(ReadFile(file), "/a/\r\n/b/\r\n");
}

TEST_F(LocationsFile, LineEndsLfAndCrLfReadAlikeAndSaveWritesCrLf) {
    WriteFile(file, "/a/\n/b b/\n/c\n\r\n\n");
    EXPECT_EQ(LoadBackupLocations(), 0u) << "empty lines at the end leave nothing out";
    EXPECT_EQ(Extras(), (std::vector<std::string>{"/a/", "/b b/", "/c"}));
    ASSERT_TRUE(SaveBackupLocations());
    EXPECT_EQ(ReadFile(file), "/a/\r\n/b b/\r\n/c\r\n");
}

TEST_F(LocationsFile, NoExtraLocationSavesAnEmptyFile) {
    WriteFile(file, "/a/\r\n");
    InitBackupLocations();
    BackupLocations[2].clear();
    ASSERT_TRUE(SaveBackupLocations());
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(ReadFile(file), "");
}

TEST_F(LocationsFile, FailedSaveSaysWhyAndLeavesTheTable) {
    InitBackupLocations();
    BackupLocations[2] = "/srv/x/";
    fs::create_directories(file); // a folder where the file should be: it cannot be replaced
    const Result<void> saved = SaveBackupLocations();
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.Error().Step, FailureStep::Replace);
    EXPECT_EQ(saved.Error().Path, file.string());
    EXPECT_EQ(saved.Error().Error, EISDIR);
    EXPECT_EQ(SettingsReasonText(saved.Error()), std::strerror(EISDIR));
    EXPECT_EQ(BackupLocations[2], "/srv/x/");
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(home.SettingsFolder()), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
}

TEST_F(LocationsFile, SettingsFolderThatCannotBeMadeGivesItsOwnReason) {
    const std::string config = (home.Home() / ".config").string() + "/";
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string& path, const std::string&) {
        return call == FileSystemCall::Folder && path == config ? std::optional<int>(EACCES) : std::nullopt;
    });
    InitBackupLocations();
    BackupLocations[2] = "/srv/x/";
    const Result<void> saved = SaveBackupLocations();
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.Error().Step, FailureStep::Create);
    EXPECT_EQ(saved.Error().Path, (home.Home() / ".config").string());
    EXPECT_EQ(saved.Error().Error, EACCES);
    EXPECT_EQ(SettingsReasonText(saved.Error()), std::strerror(EACCES));
}

struct SavedFileCase {
    const char* Name;
    const char* LinkText; // what backuppath.txt links to, "" for a plain file; "middle" links on to "real.txt"
    mode_t Mode;          // of the file written to, before the save; 0 when there is none
};

void PrintTo(const SavedFileCase& row, std::ostream* os) {
    *os << row.Name;
}

class SavedLocationsFile : public LocationsFile, public ::testing::WithParamInterface<SavedFileCase> {};

TEST_P(SavedLocationsFile, KeepsItsLinksAndItsMode) {
    const SavedFileCase& row = GetParam();
    const fs::path elsewhere = home.Home() / "elsewhere";
    const fs::path written = *row.LinkText != '\0' ? elsewhere / "real.txt" : file;
    fs::create_directories(home.SettingsFolder());
    fs::create_directories(elsewhere);
    fs::create_symlink("real.txt", elsewhere / "middle");
    if (*row.LinkText != '\0') {
        fs::create_symlink(row.LinkText, file);
    }
    if (row.Mode != 0) {
        WriteFile(written, "/old/\r\n");
        fs::permissions(written, static_cast<fs::perms>(row.Mode));
    }
    InitBackupLocations();
    BackupLocations[2] = "/srv/x/";
    ASSERT_TRUE(SaveBackupLocations());

    EXPECT_EQ(fs::is_symlink(file) ? fs::read_symlink(file).string() : "", row.LinkText);
    EXPECT_EQ(ReadFile(written), "/srv/x/\r\n");
    EXPECT_EQ(static_cast<mode_t>(fs::status(written).permissions()), row.Mode != 0 ? row.Mode : 0644);
    const auto entries = [](const fs::path& folder) {
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    };
    EXPECT_EQ(entries(home.SettingsFolder()) + entries(elsewhere), written == file ? 2 : 3) << "no temporary is left";
}

INSTANTIATE_TEST_SUITE_P(LocationsFile, SavedLocationsFile,
                         ::testing::Values(SavedFileCase{"PlainFile", "", 0600},
                                           SavedFileCase{"Link", "../../elsewhere/real.txt", 0640},
                                           SavedFileCase{"LinkToALink", "../../elsewhere/middle", 0600},
                                           SavedFileCase{"LinkToNothingYet", "../../elsewhere/real.txt", 0}));

} // namespace
} // namespace marrowick
