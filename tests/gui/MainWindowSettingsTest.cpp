#include "GuiTestSupport.h"

#include "gui/app/MarrowickDlg.h"
#include "gui/controls/FolderPicker.h"
#include "support/SampleBackup.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ModalWatcher;
using testing::SampleBackup;
using testing::TempHome;

void Click(QWidget& dialog, const QString& caption) {
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (button->text() == caption) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    ADD_FAILURE() << "no button " << caption.toStdString();
}

QAction* MenuCommand(const CMarrowickDlg& window, const QString& textStart) {
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text().startsWith(textStart)) {
            return action;
        }
    }
    return nullptr;
}

// Triggers the menu command whose text starts with command and answers the dialog it opens by clicking first, then
// second. Returns the modal windows seen.
std::vector<testing::ModalRecord> RunCommand(const CMarrowickDlg& window, const QString& command, const QString& first,
                                             const QString& second) {
    ModalWatcher watcher;
    watcher.Handle([first, second](QWidget& dialog) {
        Click(dialog, first);
        Click(dialog, second);
    });
    QAction* action = MenuCommand(window, command);
    if (action == nullptr) {
        ADD_FAILURE() << "no menu command " << command.toStdString();
        return {};
    }
    action->trigger();
    return watcher.Seen();
}

SampleBackup Named(const std::string& name, double date) {
    SampleBackup backup;
    backup.DisplayName = name;
    backup.Date = date;
    return backup;
}

class MainWindowSettings : public ::testing::Test {
protected:
    TempHome home{"UTC"};
    void TearDown() override { SetFolderPicker({}); }
};

TEST_F(MainWindowSettings, CtrlAAddsALocationAndTheListIsSearchedAgainAfterOk) {
    const fs::path extra = home.Home() / "extra";
    testing::WriteSampleBackup(extra / "b", Named("On the extra disk", 600000000));
    SetFolderPicker([&extra](QWidget*, const QString&) { return QString::fromStdString(extra.string()); });
    CMarrowickDlg window;
    ASSERT_EQ(window.BackupList()->rowCount(), 0);

    const auto seen = RunCommand(window, QStringLiteral("Add/Delete Other iTunes Backup Location"),
                                 QStringLiteral("Add"), QStringLiteral("OK"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].ClassName, QStringLiteral("marrowick::CDlgSetBackupPath"));
    ASSERT_EQ(window.BackupList()->rowCount(), 1);
    EXPECT_EQ(window.BackupList()->item(0, 0)->text(), QStringLiteral("On the extra disk"));
}

TEST_F(MainWindowSettings, CtrlMRelocatesAndTheListShowsOnlyTheNewLocationsBackups) {
    testing::WriteSampleBackup(home.ProfileBackupFolder() / "old", Named("Before the move", 500000000));
    const fs::path store = home.Home() / "store";
    testing::WriteSampleBackup(store / "new", Named("In the new place", 600000000));
    SetFolderPicker([&store](QWidget*, const QString&) { return QString::fromStdString(store.string()); });
    CMarrowickDlg window;
    ASSERT_EQ(window.BackupList()->rowCount(), 1);

    const auto seen = RunCommand(window, QStringLiteral("Change iTunes Backup Location"), QStringLiteral("Change"),
                                 QStringLiteral("OK"));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().ClassName, QStringLiteral("marrowick::CDlgModifyItunesBackupPath"));
    ASSERT_EQ(window.BackupList()->rowCount(), 1);
    EXPECT_EQ(window.BackupList()->item(0, 0)->text(), QStringLiteral("In the new place"));
    EXPECT_TRUE(fs::is_symlink(home.ProfileBackupFolder()));
    EXPECT_TRUE(fs::exists(home.ProfileBackupFolder().parent_path() / "Backup_old" / "old" / "Info.plist"))
        << "the former backups are kept";
}

TEST_F(MainWindowSettings, KeyboardFocusComesBackToTheListAfterTheRelocationFailureBox) {
    const fs::path store = home.Home() / "store";
    fs::create_directories(store);
    fs::create_directories(home.ProfileBackupFolder());
    fs::create_directories(home.ProfileBackupFolder().parent_path() / "Backup_old");
    SetFolderPicker([&store](QWidget*, const QString&) { return QString::fromStdString(store.string()); });
    CMarrowickDlg window;
    ASSERT_TRUE(testing::ShowAndActivate(window));

    const auto seen = RunCommand(window, QStringLiteral("Change iTunes Backup Location"), QStringLiteral("Change"),
                                 QStringLiteral("OK"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].Icon, QMessageBox::Warning);
    EXPECT_TRUE(QTest::qWaitFor([&window] { return QApplication::focusWidget() == window.BackupList(); }));
    EXPECT_EQ(QApplication::activeWindow(), &window);
}

} // namespace
} // namespace marrowick
