#include "GuiTestSupport.h"

#include "gui/controls/DialogWidgets.h"
#include "gui/controls/FolderPicker.h"
#include "support/SampleBackup.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>

#include <gtest/gtest.h>

namespace marrowick {
namespace {

TEST(ProgramMessage, IsWideEnoughForAPathOnOneLine) {
    const QString details = QStringLiteral("\"/home/anna/.config/Marrowick/backuppath.txt\": Is a directory.");
    testing::ModalWatcher watcher;
    watcher.Handle([&](QWidget& modal) {
        const auto* label = modal.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        ASSERT_NE(label, nullptr);
        // The path fits on one line, so it breaks nowhere.
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(details));
        qobject_cast<QDialog*>(&modal)->accept();
    });
    ShowProgramMessage(nullptr, QStringLiteral("Failed to write file."), QMessageBox::NoIcon, details);
    EXPECT_EQ(watcher.Count(), 1U);
}

TEST(FolderPicker, StartsInTheHomeFolderWhateverTheWorkingFolder) {
    const testing::TempHome home("UTC");
    const QString working = QDir::currentPath();
    QDir::setCurrent(QDir::tempPath());
    QString shown;
    testing::ModalWatcher watcher;
    watcher.Handle([&](QWidget& modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(&modal)) {
            shown = dialog->directory().absolutePath();
        }
        qobject_cast<QDialog*>(&modal)->reject();
    });
    EXPECT_TRUE(PickFolder(nullptr, QStringLiteral("Choose")).isEmpty());
    QDir::setCurrent(working);
    EXPECT_EQ(shown, QDir(QString::fromStdString(home.Home().string())).absolutePath());
}

} // namespace
} // namespace marrowick
