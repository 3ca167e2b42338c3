#include "GuiTestSupport.h"

#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/platform/ErrorText.h"
#include "core/platform/FileSystemOps.h"
#include "core/settings/LocationsFile.h"
#include "gui/controls/FolderPicker.h"
#include "gui/controls/ImageButton.h"
#include "gui/settings/DlgModifyItunesBackupPath.h"
#include "gui/settings/SettingsCommands.h"
#include "support/SampleBackup.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ModalRecord;
using testing::ModalWatcher;
using testing::SortedBackupNames;

// The entries of a MobileSync folder, links not followed: "dir", "link -> target", or "file".
std::map<std::string, std::string> Entries(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (it->is_symlink()) {
            entries[name] = "link -> " + fs::read_symlink(it->path()).string();
        } else {
            entries[name] = it->is_directory() ? "dir" : "file";
        }
    }
    return entries;
}

// The name of the one "Backup_" + 14-digit entry of folder, or "" when there is not exactly one.
std::string StampedEntry(const fs::path& folder) {
    static const std::regex stamped("Backup_[0-9]{14}");
    std::vector<std::string> found;
    for (const auto& [name, kind] : Entries(folder)) {
        if (std::regex_match(name, stamped)) {
            found.push_back(name);
        }
    }
    return found.size() == 1 ? found.front() : std::string();
}

class RelocationDialog : public ::testing::Test {
protected:
    void SetUp() override {
        InitBackupLocations();
        SetFolderPicker([this](QWidget*, const QString& title) {
            pickerTitles << title;
            return pick;
        });
    }
    void TearDown() override { SetFolderPicker({}); }

    void WriteBackup(const fs::path& folder, const std::string& name) {
        testing::SampleBackup backup;
        backup.DisplayName = name;
        testing::WriteSampleBackup(folder, backup);
    }

    // Runs the Ctrl+M command; work drives the dialog and closes it, after boxesBefore message boxes have been
    // answered with OK. Gives the command's answer; seen holds every modal shown, the dialog included.
    bool RunCommand(const std::function<void(CDlgModifyItunesBackupPath&)>& work, std::size_t boxesBefore = 0) {
        bool searchAgain = false;
        seen = testing::CaptureModals([&] { searchAgain = RunRelocationCommand(nullptr); },
                                      [&](ModalWatcher& watcher) {
                                          for (std::size_t i = 0; i < boxesBefore; ++i) {
                                              watcher.Press(QMessageBox::Ok);
                                          }
                                          watcher.Handle([&work](QWidget& modal) {
                                              auto* dialog = qobject_cast<CDlgModifyItunesBackupPath*>(&modal);
                                              ASSERT_NE(dialog, nullptr);
                                              work(*dialog);
                                          });
                                      });
        EXPECT_GT(seen.size(), boxesBefore);
        if (seen.size() > boxesBefore) {
            EXPECT_EQ(seen[boxesBefore].ClassName, QStringLiteral("marrowick::CDlgModifyItunesBackupPath"));
        }
        return searchAgain;
    }

    // Change to folder (through the picker), then OK.
    bool RelocateTo(const fs::path& folder) {
        pick = QString::fromStdString(folder.string());
        return RunCommand([](CDlgModifyItunesBackupPath& dialog) {
            QTest::mouseClick(dialog.ChangeButton(), Qt::LeftButton);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        });
    }

    testing::TempHome home;
    fs::path appSync = home.AppDataBackupFolder().parent_path();
    fs::path profileSync = home.ProfileBackupFolder().parent_path();
    fs::path store = home.Home() / "store";
    QString pick;
    QStringList pickerTitles;
    std::vector<ModalRecord> seen;
};

TEST_F(RelocationDialog, DialogShowsItsTextsAndTheCurrentLocation) {
    fs::create_directories(store);
    ASSERT_TRUE(RelocateTo(store));
    ASSERT_EQ(seen.size(), 1U);

    EXPECT_FALSE(RunCommand([&](CDlgModifyItunesBackupPath& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Change iTunes Backup Location"));
        // It reads the link that the first run made.
        EXPECT_EQ(dialog.LocationBox()->text(), QString::fromStdString(store.string()));
        EXPECT_EQ(dialog.InitialLocation(), store.string());
        EXPECT_TRUE(dialog.NoticeText()->text().endsWith(
            QStringLiteral(" You can change the location to other path here.\n\nNotice: It will not take effect "
                           "until you click the OK button.")));
        EXPECT_EQ(dialog.LocationCaption()->text(), QStringLiteral("Current iTunes Backup Location:"));
        EXPECT_TRUE(dialog.LocationBox()->isReadOnly());
        EXPECT_EQ(dialog.ChangeButton()->text(), QStringLiteral("Change"));
        EXPECT_EQ(dialog.RestoreButton()->text(), QStringLiteral("Restore"));
        EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
        EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("Cancel"));
        EXPECT_FALSE(dialog.ChangeButton()->HasImage());
        EXPECT_TRUE(dialog.OkButton()->HasImage());
        EXPECT_TRUE(dialog.CancelButton()->HasImage());
        EXPECT_TRUE(dialog.OkButton()->isDefault());
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    }));
    EXPECT_EQ(seen.size(), 1U);
}

TEST_F(RelocationDialog, ChangeThenOkLinksBothFoldersAndKeepsTheOldBackups) {
    // Only the profile's MobileSync folder has a Backup folder; the other one does not exist yet.
    WriteBackup(home.ProfileBackupFolder() / "old", "Old phone");
    WriteBackup(store / "new", "New phone");
    const auto oldBackups = testing::SnapshotFolder(home.ProfileBackupFolder());
    ASSERT_FALSE(fs::exists(appSync));

    EXPECT_TRUE(RelocateTo(store));
    EXPECT_EQ(seen.size(), 1U) << seen.back().Text.toStdString();
    EXPECT_EQ(pickerTitles, QStringList{"Please set new path for iTunes backup."});

    const std::map<std::string, std::string> linked{{"Backup", "link -> " + store.string()}};
    EXPECT_EQ(Entries(appSync), linked);
    EXPECT_EQ(Entries(profileSync),
              (std::map<std::string, std::string>{{"Backup", "link -> " + store.string()}, {"Backup_old", "dir"}}));
    EXPECT_EQ(testing::SnapshotFolder(profileSync / "Backup_old"), oldBackups);
    EXPECT_EQ(SortedBackupNames(RefreshBackupList()), std::vector<std::string>{"New phone"});
}

TEST_F(RelocationDialog, RestoreGivesBackTheFormerFolderAndKeepsTheLink) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old phone");
    fs::create_directories(store);
    const auto oldBackups = testing::SnapshotFolder(home.ProfileBackupFolder());
    ASSERT_TRUE(RelocateTo(store));

    EXPECT_TRUE(RunCommand([&](CDlgModifyItunesBackupPath& dialog) {
        EXPECT_EQ(dialog.LocationBox()->text(), QString::fromStdString(store.string()));
        QTest::mouseClick(dialog.RestoreButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.LocationBox()->text(), QString());
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    }));
    EXPECT_EQ(seen.size(), 1U) << seen.back().Text.toStdString();

    // Where there was no Backup before, none comes back: only the replaced link stays.
    const std::string appStamped = StampedEntry(appSync);
    ASSERT_FALSE(appStamped.empty());
    EXPECT_EQ(Entries(appSync), (std::map<std::string, std::string>{{appStamped, "link -> " + store.string()}}));
    EXPECT_EQ(Entries(profileSync),
              (std::map<std::string, std::string>{{"Backup", "dir"}, {appStamped, "link -> " + store.string()}}));
    EXPECT_EQ(testing::SnapshotFolder(home.ProfileBackupFolder()), oldBackups);
    EXPECT_EQ(SortedBackupNames(RefreshBackupList()), std::vector<std::string>{"Old phone"});
}

TEST_F(RelocationDialog, OkWithTheLocationUnchangedDoesNothing) {
    fs::create_directories(home.ProfileBackupFolder());
    fs::create_directories(store);
    // Not relocated: Restore leaves the box as empty as it was.
    EXPECT_TRUE(RunCommand([](CDlgModifyItunesBackupPath& dialog) {
        EXPECT_EQ(dialog.LocationBox()->text(), QString());
        QTest::mouseClick(dialog.RestoreButton(), Qt::LeftButton);
        // Enter on the focused Restore would press it again; from the box it presses OK.
        QTest::mouseClick(dialog.LocationBox(), Qt::LeftButton);
        QTest::keyClick(dialog.LocationBox(), Qt::Key_Return);
        EXPECT_TRUE(dialog.Result().Unchanged);
    }));
    EXPECT_EQ(Entries(appSync), (std::map<std::string, std::string>{}));
    EXPECT_EQ(Entries(profileSync), (std::map<std::string, std::string>{{"Backup", "dir"}}));

    // Relocated: choosing the very folder shown changes nothing either.
    ASSERT_TRUE(RelocateTo(store));
    const auto appBefore = Entries(appSync);
    const auto profileBefore = Entries(profileSync);
    EXPECT_TRUE(RelocateTo(store));
    EXPECT_EQ(seen.size(), 1U);
    EXPECT_EQ(Entries(appSync), appBefore);
    EXPECT_EQ(Entries(profileSync), profileBefore);
    EXPECT_TRUE(StampedEntry(appSync).empty());
}

TEST_F(RelocationDialog, OkWithTheBoxUnchangedKeepsATargetThatIsNotUtf8) {
    const std::string target = (home.Home() / "disk\xff").string();
    fs::create_directories(appSync);
    fs::create_directory_symlink(target, appSync / "Backup");
    EXPECT_TRUE(RunCommand([](CDlgModifyItunesBackupPath& dialog) {
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        const std::optional<Failure>& problem = dialog.Result().Problem;
        EXPECT_TRUE(dialog.Result().Unchanged) << (problem ? FailureText(*problem) : std::string());
    }));
    EXPECT_EQ(Entries(appSync), (std::map<std::string, std::string>{{"Backup", "link -> " + target}}));
}

TEST_F(RelocationDialog, CancelChangesNothingButTheCreatedFoldersAndTheListing) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old phone");
    fs::create_directories(store);
    const auto profileBefore = testing::SnapshotFolder(profileSync);
    const fs::path listing = home.SettingsFolder() / "dir.txt";
    ASSERT_FALSE(fs::exists(listing));

    pick = QString::fromStdString(store.string());
    EXPECT_FALSE(RunCommand([](CDlgModifyItunesBackupPath& dialog) {
        QTest::mouseClick(dialog.ChangeButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog.LocationBox()->text().isEmpty());
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog.Result().Unchanged);
        EXPECT_TRUE(dialog.Result().Done.empty());
    }));
    EXPECT_EQ(seen.size(), 1U);
    EXPECT_TRUE(fs::is_directory(appSync));
    EXPECT_EQ(Entries(appSync), (std::map<std::string, std::string>{}));
    EXPECT_EQ(testing::SnapshotFolder(profileSync), profileBefore);
    EXPECT_FALSE(fs::is_symlink(profileSync / "Backup"));
    EXPECT_TRUE(fs::is_regular_file(listing));
    EXPECT_TRUE(fs::is_empty(store));
}

TEST_F(RelocationDialog, ABackupOldInTheWayIsReportedWithItsPathAndNothingIsLost) {
    WriteBackup(home.AppDataBackupFolder() / "live", "Live phone");
    WriteBackup(appSync / "Backup_old" / "older", "Older phone");
    WriteBackup(home.ProfileBackupFolder() / "profile", "Profile phone");
    fs::create_directories(store);
    const auto appBefore = testing::SnapshotFolder(appSync);
    const auto profileBefore = testing::SnapshotFolder(profileSync);

    // The dialog still ends with OK, so the caller searches again.
    EXPECT_TRUE(RelocateTo(store));
    ASSERT_EQ(seen.size(), 2U);
    const ModalRecord& box = seen[1];
    EXPECT_EQ(box.Title, QString());
    EXPECT_EQ(box.Icon, QMessageBox::Warning);
    const std::string backup = (appSync / "Backup").string();
    EXPECT_EQ(box.Text.toStdString(), "Cannot rename \"" + backup + "\" to \"" + backup + "_old\": File exists.");
    EXPECT_EQ(box.InformativeText, QStringLiteral("Nothing was changed."));

    EXPECT_FALSE(fs::is_symlink(appSync / "Backup"));
    EXPECT_FALSE(fs::is_symlink(profileSync / "Backup"));
    EXPECT_EQ(testing::SnapshotFolder(appSync), appBefore);
    EXPECT_EQ(testing::SnapshotFolder(profileSync), profileBefore);
    EXPECT_EQ(SortedBackupNames(RefreshBackupList()), (std::vector<std::string>{"Live phone", "Profile phone"}));
}

TEST_F(RelocationDialog, AStepFailingHalfWayIsReportedWithWhatWasDoneBeforeIt) {
    WriteBackup(home.ProfileBackupFolder() / "old", "Old phone");
    fs::create_directories(store);
    const auto oldBackups = testing::SnapshotFolder(home.ProfileBackupFolder());
    const std::string profileBackup = (profileSync / "Backup").string();
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string&, const std::string& link) {
        return call == FileSystemCall::Link && link == profileBackup ? std::optional<int>(EACCES) : std::nullopt;
    });

    EXPECT_TRUE(RelocateTo(store));
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[1].Title, QString());
    EXPECT_EQ(seen[1].Icon, QMessageBox::Warning);
    EXPECT_EQ(seen[1].Text.toStdString(), "Cannot make the link \"" + profileBackup + "\" to \"" + store.string() +
                                              "\": " + std::strerror(EACCES) + ".");
    const std::string appBackup = (appSync / "Backup").string();
    EXPECT_EQ(seen[1].InformativeText.toStdString(), "Done before the failure:\nLinked \"" + appBackup + "\" to \"" +
                                                         store.string() + "\".\nRenamed \"" + profileBackup +
                                                         "\" to \"" + profileBackup + "_old\".");
    EXPECT_EQ(testing::SnapshotFolder(profileSync / "Backup_old"), oldBackups);
    EXPECT_FALSE(fs::exists(fs::symlink_status(profileBackup)));
}

TEST_F(RelocationDialog, AMobileSyncFolderThatCannotBeMadeIsToldBeforeTheDialogOpens) {
    const std::string appFolder = appSync.string() + "/";
    const ScopedFileSystemHook hook([&](FileSystemCall call, const std::string& path, const std::string&) {
        return call == FileSystemCall::Folder && path == appFolder ? std::optional<int>(EACCES) : std::nullopt;
    });

    EXPECT_FALSE(RunCommand(
        [](CDlgModifyItunesBackupPath& dialog) {
            EXPECT_EQ(dialog.LocationBox()->text(), QString());
            QTest::keyClick(&dialog, Qt::Key_Escape);
        },
        2));
    ASSERT_EQ(seen.size(), 3U);
    EXPECT_EQ(seen[0].Title, QStringLiteral("marrowick"));
    EXPECT_EQ(seen[0].Icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen[0].Text.toStdString(), "Unable to create path,maybe the path is invalid. \"" + appSync.string() +
                                              "\": " + std::strerror(EACCES) + ".");
    EXPECT_TRUE(
        seen[1].Text.startsWith(QString::fromStdString("The folder \"" + appSync.string() + "\" cannot be listed")))
        << seen[1].Text.toStdString();
    EXPECT_TRUE(fs::is_directory(profileSync));
}

} // namespace
} // namespace marrowick
