#include "GuiTestSupport.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace marrowick::testing {
namespace {

TEST(ModalWatcher, RecordsEachMessageBoxAndPressesTheQueuedButtons) {
    QWidget owner;
    QMessageBox::StandardButton first = QMessageBox::NoButton;
    QMessageBox::StandardButton second = QMessageBox::NoButton;
    const auto seen = CaptureModals(
        [&] {
            first = QMessageBox::warning(&owner, QStringLiteral("Marrowick"), QStringLiteral("Disk full"),
                                         QMessageBox::Ok | QMessageBox::Cancel);
            second = QMessageBox::question(&owner, QString(), QStringLiteral("Go on?"));
        },
        [](ModalWatcher& watcher) { watcher.Press(QMessageBox::Ok).Press(QStringLiteral("No")); });

    EXPECT_EQ(first, QMessageBox::Ok);
    EXPECT_EQ(second, QMessageBox::No);
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_TRUE(seen[0].IsMessageBox);
    EXPECT_EQ(seen[0].Title, QStringLiteral("Marrowick"));
    EXPECT_EQ(seen[0].Text, QStringLiteral("Disk full"));
    EXPECT_EQ(seen[0].Icon, QMessageBox::Warning);
    EXPECT_TRUE(seen[0].Buttons.contains(QStringLiteral("OK")));
    EXPECT_EQ(seen[1].Text, QStringLiteral("Go on?"));
    EXPECT_EQ(seen[1].Icon, QMessageBox::Question);
}

TEST(ModalWatcher, UnqueuedBoxesGetTheHarmlessAnswerAndNestedOrRepeatedModalsAreAnsweredToo) {
    QDialog dialog;
    auto* inner = new QPushButton(QStringLiteral("Ask"), &dialog);
    QMessageBox::StandardButton innerAnswer = QMessageBox::NoButton;
    QObject::connect(inner, &QPushButton::clicked, &dialog, [&] {
        innerAnswer = QMessageBox::question(&dialog, QString(), QStringLiteral("Sure?"));
        dialog.accept();
    });

    ModalWatcher watcher;
    watcher.Handle([inner](QWidget&) { inner->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(innerAnswer, QMessageBox::No);
    // A second exec of the same dialog is a new modal, answered by default.
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);

    ASSERT_EQ(watcher.Count(), 3U);
    EXPECT_EQ(watcher.Seen()[0].ClassName, QStringLiteral("QDialog"));
    EXPECT_EQ(watcher.Seen()[0].Answer, QStringLiteral("handler"));
    EXPECT_EQ(watcher.Seen()[1].Answer, QStringLiteral("No"));
    EXPECT_EQ(watcher.Seen()[2].Answer, QStringLiteral("reject"));
}

TEST(ModalWatcher, LeavesAModalOpenBeforeItAloneAndOnlyTheNewestWatcherAnswers) {
    QDialog dialog;
    bool closedUnderInner = true;
    QMessageBox::StandardButton innerAnswer = QMessageBox::NoButton;
    ModalWatcher outer;
    outer.Handle([&](QWidget&) {
        ModalWatcher inner;
        // The dialog stays the active modal while the inner watcher polls many times: it must not answer it.
        closedUnderInner = QTest::qWaitFor([&] { return !dialog.isVisible(); }, 300);
        inner.Press(QMessageBox::Yes);
        innerAnswer = QMessageBox::question(&dialog, QString(), QStringLiteral("Sure?"));
        EXPECT_EQ(inner.Count(), 1U);
        dialog.accept();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_FALSE(closedUnderInner);
    EXPECT_EQ(innerAnswer, QMessageBox::Yes);
    EXPECT_EQ(outer.Count(), 1U);
}

} // namespace
} // namespace marrowick::testing
