#include "GuiTestSupport.h"

#include "gui/app/AboutDlg.h"
#include "gui/controls/ImageButton.h"
#include "support/SampleBackup.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <ctime>

namespace marrowick {
namespace {

using testing::ModalRecord;
using testing::TempHome;

int LocalYearNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// Runs a fresh About box modally, lets act close it, and returns exec's result.
int RunAboutBox(const std::function<void(CAboutDlg&)>& act) {
    CAboutDlg dialog;
    int result = -1;
    const std::vector<ModalRecord> modals = testing::CaptureModals([&] { result = dialog.exec(); },
                                                                   [&](testing::ModalWatcher& watcher) {
                                                                       watcher.Handle([&](QWidget& modal) {
                                                                           EXPECT_EQ(&modal, &dialog);
                                                                           act(dialog);
                                                                       });
                                                                   });
    EXPECT_EQ(modals.size(), 1U);
    return result;
}

TEST(AboutBox, ShowsNameVersionContactAndTheLocalYearAtTheEndOfTheRightsLine) {
    // Far ahead of UTC, so a year read from a UTC clock is wrong around the turn of the year.
    TempHome home("Pacific/Kiritimati");
    CAboutDlg dialog;

    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Marrowick"));
    EXPECT_EQ(dialog.ProductLine()->text(), QStringLiteral("Marrowick V" MARROWICK_VERSION)); // CMake's version
    const QString rights = dialog.RightsLine()->text();
    const QString year = QString::number(LocalYearNow());
    ASSERT_EQ(year.size(), 4);
    EXPECT_TRUE(rights.endsWith(year)) << rights.toStdString();
    EXPECT_GT(rights.size(), year.size());
    EXPECT_TRUE(dialog.ContactLine()->text().startsWith(QStringLiteral("Contact us: ")));
    EXPECT_TRUE(dialog.ContactLine()->text().contains(u'@'));
    EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_TRUE(dialog.OkButton()->HasImage());
    EXPECT_TRUE(dialog.OkButton()->isDefault());
}

TEST(AboutBox, OkAndEnterAcceptAndEscapeRejects) {
    EXPECT_EQ(RunAboutBox([](CAboutDlg& dialog) { QTest::mouseClick(dialog.OkButton(), Qt::LeftButton); }),
              QDialog::Accepted);
    EXPECT_EQ(RunAboutBox([](CAboutDlg& dialog) { QTest::keyClick(&dialog, Qt::Key_Return); }), QDialog::Accepted);
    EXPECT_EQ(RunAboutBox([](CAboutDlg& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); }), QDialog::Rejected);
}

TEST(AboutBox, OkButtonHasItsEdgesOnlyWithoutVisualStyles) {
    {
        testing::ScopedAppStyle classic(QStringLiteral("windows"));
        CAboutDlg dialog;
        EXPECT_TRUE(dialog.OkButton()->HasBorder());
        EXPECT_FALSE(dialog.OkButton()->IsThemedLook());
    }
    {
        testing::ScopedAppStyle themed(QStringLiteral("fusion"));
        CAboutDlg dialog;
        EXPECT_FALSE(dialog.OkButton()->HasBorder());
        EXPECT_TRUE(dialog.OkButton()->IsThemedLook());
    }
}

} // namespace
} // namespace marrowick
