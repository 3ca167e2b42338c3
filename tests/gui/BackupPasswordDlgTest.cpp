#include "gui/browser/DlgBackupPassword.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marrowick {
namespace {

// A check that takes its time on the worker, so that the dialog is seen while it runs.
struct SlowCheck {
    std::vector<std::string> Tried;
    PasswordCheck::Verdict ForOther = PasswordCheck::Verdict::WrongPassword;

    PasswordCheckFunction Function() {
        return [this](const SecretBytes& password) {
            Tried.emplace_back(password.View());
            QTest::qSleep(150);
            if (password.View() == "open sesame") {
                return PasswordCheck{PasswordCheck::Verdict::Unlocked, {}};
            }
            return PasswordCheck{ForOther, "the backup's keybag is damaged"};
        };
    }
};

void Submit(CDlgBackupPassword& dialog, const QString& password) {
    dialog.PasswordBox()->setText(password);
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
}

TEST(BackupPasswordDialog, AsksAgainAfterAWrongPasswordAndIsAcceptedByTheRightOne) {
    SlowCheck check;
    CDlgBackupPassword dialog(QStringLiteral("Anna's iPhone"), check.Function());
    dialog.show();
    EXPECT_EQ(dialog.PasswordBox()->echoMode(), QLineEdit::Password);

    Submit(dialog, QStringLiteral("guess"));
    // While the key is derived nothing can be typed, pressed or cancelled, and the busy bar moves.
    EXPECT_TRUE(dialog.BusyBar()->isVisible());
    EXPECT_FALSE(dialog.PasswordBox()->isEnabled());
    EXPECT_FALSE(dialog.CancelButton()->isEnabled());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.ProblemText()->isVisible(); }, 5000));
    EXPECT_EQ(dialog.ProblemText()->text(), QStringLiteral("Wrong password"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.BusyBar()->isVisible());
    EXPECT_TRUE(dialog.OkButton()->isEnabled());

    Submit(dialog, QStringLiteral("open sesame"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 5000));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(check.Tried, (std::vector<std::string>{"guess", "open sesame"}));
    EXPECT_TRUE(dialog.PasswordBox()->text().isEmpty());
}

TEST(BackupPasswordDialog, ShowRevealsThePasswordAndAFailureNoPasswordMendsRejectsWithItsReason) {
    SlowCheck check;
    check.ForOther = PasswordCheck::Verdict::Failed;
    CDlgBackupPassword dialog(QStringLiteral("iPad"), check.Function());
    dialog.show();
    QTest::mouseClick(dialog.ShowButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.PasswordBox()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(dialog.ShowButton()->text(), QStringLiteral("Hide"));
    QTest::mouseClick(dialog.ShowButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.PasswordBox()->echoMode(), QLineEdit::Password);

    Submit(dialog, QStringLiteral("anything"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 5000));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.FailureReason(), QStringLiteral("the backup's keybag is damaged"));
}

} // namespace
} // namespace marrowick
