#include "GuiTestSupport.h"

#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/settings/ExtraLocations.h"
#include "core/settings/LocationsFile.h"
#include "gui/controls/FolderPicker.h"
#include "gui/controls/ImageButton.h"
#include "gui/settings/DlgSetBackupPath.h"
#include "gui/settings/SettingsCommands.h"
#include "support/SampleBackup.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace marrowick {
namespace {

using testing::ReadFile;

namespace fs = std::filesystem;
using testing::ModalRecord;
using testing::ModalWatcher;
using testing::SortedBackupNames;

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

QStringList ListTexts(const CDlgSetBackupPath& dialog) {
    QStringList texts;
    for (int row = 0; row < dialog.LocationList()->count(); ++row) {
        texts << dialog.LocationList()->item(row)->text();
    }
    return texts;
}

QStringList ExtraSlots() {
    QStringList rows;
    for (const std::string& row : ExtraLocationRows()) {
        rows << QString::fromStdString(row);
    }
    return rows;
}

void SelectRow(CDlgSetBackupPath& dialog, int row) {
    QListWidget& list = *dialog.LocationList();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(row)).center());
}

class SetBackupPathDialog : public ::testing::Test {
protected:
    void SetUp() override {
        InitBackupLocations();
        SetFolderPicker([this](QWidget* owner, const QString& title) {
            pickerTitles << title;
            pickerOwner = owner;
            if (picks.empty()) {
                return QString();
            }
            const QString folder = picks.front();
            picks.pop_front();
            return folder;
        });
    }
    void TearDown() override { SetFolderPicker({}); }

    // Reads the extra locations again from the file, as the program does when it starts.
    void WriteLocationsFile(const std::string& content) {
        WriteFile(LocationsFile(), content);
        InitBackupLocations();
    }
    [[nodiscard]] fs::path LocationsFile() const { return home.SettingsFolder() / "backuppath.txt"; }

    std::unique_ptr<CDlgSetBackupPath> Open() {
        auto dialog = std::make_unique<CDlgSetBackupPath>();
        EXPECT_TRUE(testing::ShowAndActivate(*dialog));
        return dialog;
    }

    // Clicks Add with the picker answering folder ("" is a cancelled picker); returns the boxes shown.
    std::vector<ModalRecord> Add(CDlgSetBackupPath& dialog, const QString& folder) {
        picks.push_back(folder);
        return testing::CaptureModals([&] { QTest::mouseClick(dialog.AddButton(), Qt::LeftButton); });
    }

    // Runs the Ctrl+A command; edit works the dialog and closes it. Gives the command's answer and what showed.
    bool RunCommand(const std::function<void(CDlgSetBackupPath&)>& edit, std::vector<ModalRecord>* seen = nullptr) {
        bool searchAgain = false;
        const auto modals = testing::CaptureModals([&] { searchAgain = RunSetBackupPathCommand(nullptr); },
                                                   [&](ModalWatcher& watcher) {
                                                       watcher.Handle([&edit](QWidget& modal) {
                                                           auto* dialog = qobject_cast<CDlgSetBackupPath*>(&modal);
                                                           ASSERT_NE(dialog, nullptr);
                                                           edit(*dialog);
                                                       });
                                                   });
        EXPECT_FALSE(modals.empty());
        EXPECT_EQ(modals.front().ClassName, QStringLiteral("marrowick::CDlgSetBackupPath"));
        if (seen != nullptr) {
            *seen = modals;
        }
        return searchAgain;
    }

    testing::TempHome home;
    std::deque<QString> picks;
    QStringList pickerTitles;
    QWidget* pickerOwner = nullptr;
};

TEST_F(SetBackupPathDialog, OpensWithItsTextsAndTheExtraLocationsAsTheyWereRead) {
    WriteLocationsFile("/srv/a/\r\n/srv/b\r\n");
    const auto dialog = Open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Add/Delete Other iTunes Backup Location"));
    EXPECT_EQ(dialog->IntroText()->text(),
              QStringLiteral("We always look for iTunes backups in your default folder. If you store backups in other "
                             "locations, you can add them below."));
    EXPECT_EQ(ListTexts(*dialog), (QStringList{"/srv/a/", "/srv/b"}));
    EXPECT_EQ(dialog->LocationList()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(dialog->AddButton()->text(), QStringLiteral("Add"));
    EXPECT_EQ(dialog->DeleteButton()->text(), QStringLiteral("Delete"));
    EXPECT_EQ(dialog->OkButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog->CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(dialog->AddButton()->HasImage());
    EXPECT_FALSE(dialog->DeleteButton()->HasImage());
    EXPECT_TRUE(dialog->OkButton()->HasImage());
    EXPECT_TRUE(dialog->CancelButton()->HasImage());
    EXPECT_TRUE(dialog->OkButton()->isDefault());
    EXPECT_EQ(dialog->OkButton()->Theme(), dialog->CancelButton()->Theme());
    EXPECT_NE(dialog->AddButton()->Theme(), nullptr);
}

TEST_F(SetBackupPathDialog, AddKeepsTheRootAsItIsAndEndsAFolderWithASlash) {
    const auto dialog = Open();
    EXPECT_TRUE(Add(*dialog, QStringLiteral("/")).empty());
    EXPECT_TRUE(Add(*dialog, QStringLiteral("/srv/backups")).empty());
    EXPECT_EQ(ListTexts(*dialog), (QStringList{"/", "/srv/backups/"}));
    EXPECT_EQ(ExtraSlots(), (QStringList{"/", "/srv/backups/"}));
    EXPECT_EQ(pickerTitles, (QStringList{"Please set extra backup path.", "Please set extra backup path."}));
    EXPECT_EQ(pickerOwner, dialog.get());

    // A cancelled picker changes nothing and says nothing.
    EXPECT_TRUE(Add(*dialog, QString()).empty());
    EXPECT_EQ(ListTexts(*dialog), (QStringList{"/", "/srv/backups/"}));
    EXPECT_EQ(pickerTitles.size(), 3);
}

TEST_F(SetBackupPathDialog, AcceptsAFolderDifferingInCaseAndRefusesTheDefaultFolder) {
    const auto dialog = Open();
    EXPECT_TRUE(Add(*dialog, QStringLiteral("/srv/Backups")).empty());
    EXPECT_TRUE(Add(*dialog, QStringLiteral("/srv/backups")).empty());
    EXPECT_EQ(ListTexts(*dialog), (QStringList{"/srv/Backups/", "/srv/backups/"}));

    const QString appDataDefault = QString::fromStdString(BackupLocations[0]);
    ASSERT_TRUE(appDataDefault.endsWith(u'/'));
    // As stored, and as a folder picker gives it (without the slash).
    for (const QString& folder : {appDataDefault, appDataDefault.chopped(1), QStringLiteral("/srv/backups")}) {
        const auto seen = Add(*dialog, folder);
        ASSERT_EQ(seen.size(), 1U) << folder.toStdString();
        EXPECT_EQ(seen[0].Text, QStringLiteral("This path is exist, you don't need to add again."));
        EXPECT_EQ(seen[0].Title, QString());
        EXPECT_EQ(seen[0].Icon, QMessageBox::Warning);
        EXPECT_EQ(seen[0].Buttons, QStringList{"OK"});
    }
    EXPECT_EQ(ListTexts(*dialog), (QStringList{"/srv/Backups/", "/srv/backups/"}));
    EXPECT_EQ(ExtraSlots(), ListTexts(*dialog));
}

TEST_F(SetBackupPathDialog, RefusesAFolderWithALineBreakWithAWarning) {
    const auto dialog = Open();
    const auto seen = Add(*dialog, QStringLiteral("/srv/a\nb"));
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Text, QString::fromLatin1(ControlCharacterLocationMessage));
    EXPECT_EQ(seen[0].Title, QString());
    EXPECT_EQ(seen[0].Icon, QMessageBox::Warning);
    EXPECT_TRUE(ListTexts(*dialog).isEmpty());
    EXPECT_TRUE(ExtraSlots().isEmpty());
}

TEST_F(SetBackupPathDialog, TellsHowManyLinesOfTheFileAreLeftOutUntilOkSavesWithoutThem) {
    WriteLocationsFile("/srv/a/\r\n\r\n/srv/b/\r\n/srv/c/\r\n");
    EXPECT_TRUE(RunCommand([](CDlgSetBackupPath& dialog) {
        EXPECT_TRUE(dialog.UnreadLinesNote()->isVisible());
        EXPECT_TRUE(dialog.UnreadLinesNote()->text().startsWith(QStringLiteral("2 lines of \"")));
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    }));
    EXPECT_FALSE(RunCommand([](CDlgSetBackupPath& dialog) {
        EXPECT_FALSE(dialog.UnreadLinesNote()->isVisible());
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    }));
}

TEST_F(SetBackupPathDialog, RefusesANineteenthLocationWithAMessage) {
    const auto dialog = Open();
    QStringList added;
    for (int i = 1; i <= 18; ++i) {
        added << QStringLiteral("/srv/location%1/").arg(i);
        ASSERT_TRUE(Add(*dialog, added.back()).empty()) << i;
    }
    EXPECT_EQ(ListTexts(*dialog), added);

    const auto seen = Add(*dialog, QStringLiteral("/srv/location19"));
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Text, QString::fromLatin1(LocationTableFullMessage));
    EXPECT_EQ(seen[0].Title, QString());
    EXPECT_EQ(seen[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(pickerTitles.size(), 19);
    EXPECT_EQ(ListTexts(*dialog), added);
    EXPECT_EQ(ExtraSlots(), added);
    EXPECT_TRUE(BackupLocations[BackupLocationSlots - 1].empty());
}

TEST_F(SetBackupPathDialog, DeletingTheFirstOfThreeRowsKeepsTheOthersInOrder) {
    WriteLocationsFile("/srv/a/\r\n/srv/b/\r\n/srv/c/\r\n");
    const auto dialog = Open();

    // Without a selection Delete asks for one.
    auto seen = testing::CaptureModals([&] { QTest::mouseClick(dialog->DeleteButton(), Qt::LeftButton); });
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].Text, QStringLiteral("Please select a row at first."));
    EXPECT_EQ(seen[0].Title, QString());
    EXPECT_EQ(seen[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(ListTexts(*dialog).size(), 3);

    SelectRow(*dialog, 0);
    seen = testing::CaptureModals([&] { QTest::mouseClick(dialog->DeleteButton(), Qt::LeftButton); });
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(ListTexts(*dialog), (QStringList{"/srv/b/", "/srv/c/"}));
    EXPECT_EQ(BackupLocations[2], "/srv/b/");
    EXPECT_EQ(BackupLocations[3], "/srv/c/");
    EXPECT_TRUE(BackupLocations[4].empty());

    // The selection went with the row, so a second Delete does not take another one.
    seen = testing::CaptureModals([&] { QTest::mouseClick(dialog->DeleteButton(), Qt::LeftButton); });
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(ListTexts(*dialog).size(), 2);

    SelectRow(*dialog, 1);
    QTest::mouseClick(dialog->DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(ListTexts(*dialog), QStringList{"/srv/b/"});
    EXPECT_EQ(ExtraSlots(), QStringList{"/srv/b/"});
}

TEST_F(SetBackupPathDialog, DeletingEveryRowThenOkWritesAnEmptyFileAndSearchesOnlyTheDefaults) {
    testing::SampleBackup backup;
    backup.DisplayName = "Default phone";
    testing::WriteSampleBackup(home.ProfileBackupFolder() / "one", backup);
    backup.DisplayName = "Extra phone";
    testing::WriteSampleBackup(home.Home() / "extra" / "two", backup);
    WriteLocationsFile((home.Home() / "extra").string() + "/\r\n/srv/b/\r\n/srv/c/\r\n");
    ASSERT_EQ(SortedBackupNames(RefreshBackupList()), (std::vector<std::string>{"Default phone", "Extra phone"}));

    std::vector<ModalRecord> seen;
    const bool searchAgain = RunCommand(
        [](CDlgSetBackupPath& dialog) {
            while (dialog.LocationList()->count() > 0) {
                SelectRow(dialog, 0);
                QTest::mouseClick(dialog.DeleteButton(), Qt::LeftButton);
            }
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        },
        &seen);
    EXPECT_TRUE(searchAgain);
    EXPECT_EQ(seen.size(), 1U);
    ASSERT_TRUE(fs::exists(LocationsFile()));
    EXPECT_EQ(ReadFile(LocationsFile()), "");
    EXPECT_TRUE(BackupLocations[2].empty());
    EXPECT_EQ(SortedBackupNames(RefreshBackupList()), std::vector<std::string>{"Default phone"});
}

TEST_F(SetBackupPathDialog, CancelLeavesTheFileAndTheListAloneButTheNextSearchSeesTheAddedFolder) {
    WriteLocationsFile("/srv/a/\r\n");
    testing::SampleBackup backup;
    backup.DisplayName = "Added phone";
    testing::WriteSampleBackup(home.Home() / "added" / "one", backup);
    const QString added = QString::fromStdString((home.Home() / "added").string());

    const bool searchAgain = RunCommand([&](CDlgSetBackupPath& dialog) {
        EXPECT_TRUE(Add(dialog, added).empty());
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(searchAgain);
    EXPECT_EQ(ReadFile(LocationsFile()), "/srv/a/\r\n");
    // The edits stay in the table: F5 searches the added folder, and the dialog lists it again.
    EXPECT_EQ(ExtraSlots(), (QStringList{"/srv/a/", added + u'/'}));
    EXPECT_EQ(SortedBackupNames(RefreshBackupList()), std::vector<std::string>{"Added phone"});
    EXPECT_TRUE(RunCommand([](CDlgSetBackupPath& dialog) {
        EXPECT_EQ(ListTexts(dialog).size(), 2);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    }));
    EXPECT_EQ(ReadFile(LocationsFile()), "/srv/a/\r\n" + added.toStdString() + "/\r\n");
}

TEST_F(SetBackupPathDialog, EnterWithoutEditsRewritesTheFile) {
    WriteLocationsFile("/srv/a\n/srv/b/\n");
    std::vector<ModalRecord> seen;
    EXPECT_TRUE(RunCommand([](CDlgSetBackupPath& dialog) { QTest::keyClick(&dialog, Qt::Key_Return); }, &seen));
    EXPECT_EQ(seen.size(), 1U);
    EXPECT_EQ(ReadFile(LocationsFile()), "/srv/a\r\n/srv/b/\r\n");
}

TEST_F(SetBackupPathDialog, AFileThatCannotBeWrittenIsReportedWithItsPathAndTheEditsKept) {
    fs::create_directories(LocationsFile() / "in-the-way");
    std::vector<ModalRecord> seen;
    const bool searchAgain = RunCommand(
        [&](CDlgSetBackupPath& dialog) {
            EXPECT_TRUE(Add(dialog, QStringLiteral("/srv/a")).empty());
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        },
        &seen);
    EXPECT_TRUE(searchAgain);
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[1].Text, QStringLiteral("Failed to write file."));
    EXPECT_EQ(seen[1].Title, QStringLiteral("marrowick"));
    EXPECT_EQ(seen[1].Icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen[1].InformativeText, QString::fromStdString("\"" + LocationsFile().string() + "\": Is a directory."));
    EXPECT_TRUE(fs::is_directory(LocationsFile() / "in-the-way"));
    EXPECT_EQ(ExtraSlots(), QStringList{"/srv/a/"});
}

} // namespace
} // namespace marrowick
