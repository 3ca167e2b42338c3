#include "GuiTestSupport.h"

#include "gui/controls/DialogWidgets.h"
#include "gui/controls/FolderPicker.h"
#include "support/SampleBackup.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>

#include <gtest/gtest.h>

#include <vector>

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

// The home folder first, whatever the working folder; then where the last pick ended, while it exists.
TEST(FolderPicker, StartsInTheHomeFolderThenInTheFolderLastChosen) {
    const testing::TempHome home("UTC");
    const QString homeFolder = QDir(QString::fromStdString(home.Home().string())).absolutePath();
    const QString chosen = homeFolder + QStringLiteral("/exports");
    ASSERT_TRUE(QDir().mkpath(chosen));
    const QString working = QDir::currentPath();
    QDir::setCurrent(QDir::tempPath());
    std::vector<QString> shown;
    const auto answer = [&shown](const QString& folder) {
        return [&shown, folder](QWidget& modal) {
            auto* dialog = qobject_cast<QFileDialog*>(&modal);
            ASSERT_NE(dialog, nullptr);
            shown.push_back(dialog->directory().absolutePath());
            if (folder.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(folder);
            static_cast<QDialog*>(dialog)->accept();
        };
    };
    testing::ModalWatcher watcher;
    watcher.Handle(answer(chosen)).Handle(answer({})).Handle(answer({}));
    EXPECT_EQ(PickFolder(nullptr, QStringLiteral("Choose")), chosen);
    EXPECT_TRUE(PickFolder(nullptr, QStringLiteral("Choose")).isEmpty());
    ASSERT_TRUE(QDir(chosen).removeRecursively());
    EXPECT_TRUE(PickFolder(nullptr, QStringLiteral("Choose")).isEmpty());
    QDir::setCurrent(working);
    EXPECT_EQ(shown, (std::vector<QString>{homeFolder, chosen, homeFolder}));
}

} // namespace
} // namespace marrowick
