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

    ModalWatcher watcher;
    watcher.Handle([](QWidget& dialog) {
        Click(dialog, QStringLiteral("Add"));
        Click(dialog, QStringLiteral("OK"));
    });
    QAction* command = MenuCommand(window, QStringLiteral("Add/Delete Other iTunes Backup Location"));
    ASSERT_NE(command, nullptr);
    command->trigger();
    ASSERT_EQ(watcher.Count(), 1u);
    EXPECT_EQ(watcher.Seen()[0].ClassName, QStringLiteral("marrowick::CDlgSetBackupPath"));
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

    ModalWatcher watcher;
    watcher.Handle([](QWidget& dialog) {
        Click(dialog, QStringLiteral("Change"));
        Click(dialog, QStringLiteral("OK"));
    });
    QAction* command = MenuCommand(window, QStringLiteral("Change iTunes Backup Location"));
    ASSERT_NE(command, nullptr);
    command->trigger();
    EXPECT_EQ(watcher.Seen().front().ClassName, QStringLiteral("marrowick::CDlgModifyItunesBackupPath"));
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

    ModalWatcher watcher;
    watcher.Handle([](QWidget& dialog) {
        Click(dialog, QStringLiteral("Change"));
        Click(dialog, QStringLiteral("OK"));
    });
    QAction* command = MenuCommand(window, QStringLiteral("Change iTunes Backup Location"));
    ASSERT_NE(command, nullptr);
    command->trigger();
    ASSERT_EQ(watcher.Count(), 2u);
    EXPECT_EQ(watcher.Seen()[1].Icon, QMessageBox::Warning);
    EXPECT_TRUE(QTest::qWaitFor([&window] { return QApplication::focusWidget() == window.BackupList(); }));
    EXPECT_EQ(QApplication::activeWindow(), &window);
}

} // namespace
} // namespace marrowick
