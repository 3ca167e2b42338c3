#include "GuiTestSupport.h"

#include "gui/controls/DialogWidgets.h"

#include <QDialog>
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

} // namespace
} // namespace marrowick
