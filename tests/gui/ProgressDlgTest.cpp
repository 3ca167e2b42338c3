#include "GuiTestSupport.h"

#include "core/backup/BackupTreeCache.h"
#include "core/export/ExportEngine.h"
#include "gui/browser/DlgProgress.h"
#include "gui/controls/ImageButton.h"
#include "support/SampleBackup.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace marrowick {
namespace {

using testing::ReadFile;

namespace fs = std::filesystem;
using testing::SampleBackup;
using testing::SampleFile;

const std::string ThreeMegabytesA(3145728, 'a');
const std::string ThreeMegabytesB(3145728, 'b');
// 12 bytes of "/var/mobile/" + 63 give a device path of 75 bytes.
const std::string LongName = std::string(63 - std::string("Library/Long/").size(), 'n');
// A device path of 160 bytes, far wider than the window, that ends with a short file name.
const std::string DeepFile =
    "Library/Deep/" + std::string(40, 'd') + "/" + std::string(40, 'e') + "/" + std::string(40, 'f') + "/IMG_0042.JPG";

bool WaitUntil(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// An export starts from a timer; none pending means a show has started all it was going to.
bool StartPending(const CDlgProgress& dialog) {
    const auto timers = dialog.findChildren<QTimer*>();
    return std::any_of(timers.begin(), timers.end(), [](const QTimer* timer) { return timer->isActive(); });
}

struct Shown {
    QString File;
    QString Status;
    int Percent = 0;
};

// A copier that can hold the worker inside a file's copy until the test lets it go.
struct HeldCopier {
    std::atomic<int> Calls{0};
    std::atomic<bool> Entered{false};
    std::atomic<bool> Release{false};
    std::atomic<bool> Returned{false};
    int HoldOnCall = 1;
    int DiskFullOnCall = 0;

    ExportFileCopier Function() {
        return [this](int source, int folderFd, const std::string& name, std::int64_t mtime) -> Result<void> {
            const int call = ++Calls;
            if (call == DiskFullOnCall) {
                return Failure::System(FailureStep::Write, name, ENOSPC);
            }
            if (call == HoldOnCall) {
                Entered = true;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (!Release && std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            Result<void> result = CopyWholeFile(source, folderFd, name, mtime);
            if (call == HoldOnCall) {
                Returned = true;
            }
            return result;
        };
    }
};

class ProgressDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ClearBackupTreeCache();
        SampleBackup backup;
        backup.Files = {
            SampleFile{.RelativePath = "Library/Big/a.bin", .Content = ThreeMegabytesA},
            SampleFile{.RelativePath = "Library/Big/b.bin", .Content = ThreeMegabytesB},
            SampleFile{.RelativePath = "Library/Three/1.txt", .Content = "one"},
            SampleFile{.RelativePath = "Library/Three/2.txt", .Content = "two"},
            SampleFile{.RelativePath = "Library/Three/3.txt", .Content = "three"},
            SampleFile{.RelativePath = "Library/Empty/x", .Content = ""},
            SampleFile{.RelativePath = "Library/Empty/y", .Content = ""},
            SampleFile{.RelativePath = "Library/Long/" + LongName, .Content = "long"},
            SampleFile{.RelativePath = DeepFile, .Content = "deep"},
        };
        folder = testing::WriteSampleBackup(dir.Path() / "backup", backup).string() + "/";
        root = OpenBackupTree(folder, ManifestKindDb).Root;
    }
    void TearDown() override {
        ClearBackupTreeCache();
        ExportCancelled = 0;
    }

    std::unique_ptr<CDlgProgress> Make(const std::string& path, ExportFileCopier copier = {}) {
        auto dialog = std::make_unique<CDlgProgress>(nullptr);
        dialog->BackupFolder = folder;
        dialog->SelectedNode = FindNode(root, path);
        EXPECT_NE(dialog->SelectedNode, nullptr) << path;
        dialog->TargetFolder = target.Path().string() + "/";
        dialog->ManifestKind = ManifestKindDb;
        dialog->Copier = std::move(copier);
        QObject::connect(dialog.get(), &CDlgProgress::TextsShown, dialog.get(),
                         [this](const QString& file, const QString& status, int percent) {
                             shown.push_back({file, status, percent});
                         });
        return dialog;
    }

    // Shows the dialog and waits until it has ended by itself.
    static bool RunToEnd(CDlgProgress& dialog) {
        dialog.show();
        return WaitUntil([&] { return dialog.ExportStarted() && !dialog.isVisible(); });
    }

    testing::TempDir dir;
    testing::TempDir target;
    std::string folder;
    const FileNode* root = nullptr;
    std::vector<Shown> shown;
};

TEST_F(ProgressDialog, ShowsEachFileAndTheShareBeforeItThenClosesByItself) {
    const auto dialog = Make("/var/mobile/Library/Big");
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Exporting..."));
    EXPECT_EQ(dialog->CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_TRUE(dialog->CancelButton()->HasImage());
    EXPECT_EQ(dialog->ProgressBar()->minimum(), 0);
    EXPECT_EQ(dialog->ProgressBar()->maximum(), 100);
    EXPECT_EQ(dialog->ProgressBar()->value(), 0);

    ASSERT_TRUE(RunToEnd(*dialog));
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    ASSERT_EQ(shown.size(), 3U);
    EXPECT_EQ(shown[0].Status, QStringLiteral("Calculating files size..."));
    EXPECT_EQ(shown[1].File, QStringLiteral("Exporting: /var/mobile/Library/Big/a.bin\n"));
    EXPECT_EQ(shown[1].Status, QStringLiteral("Finished:  0% (  0MB/  6MB)"));
    EXPECT_EQ(shown[1].Percent, 0);
    EXPECT_EQ(shown[2].File, QStringLiteral("Exporting: /var/mobile/Library/Big/b.bin\n"));
    EXPECT_EQ(shown[2].Status, QStringLiteral("Finished: 50% (  3MB/  6MB)"));
    EXPECT_EQ(shown[2].Percent, 50);
    // What was last shown stays on screen: no update follows the last file.
    EXPECT_EQ(dialog->FileText(), shown[2].File);
    EXPECT_EQ(dialog->StatusText(), shown[2].Status);
    EXPECT_EQ(dialog->ProgressBar()->value(), 50);

    EXPECT_EQ(ReadFile(target.Path() / "Big/a.bin"), ThreeMegabytesA);
    EXPECT_EQ(ReadFile(target.Path() / "Big/b.bin"), ThreeMegabytesB);
    EXPECT_EQ(dialog->Result().FilesCopied, 2U);
    EXPECT_TRUE(dialog->Result().Succeeded());
    EXPECT_EQ(ExportCancelled.load(), 1);
}

TEST_F(ProgressDialog, LongPathRunsOverTwoLinesAndEmptyFilesLeaveTheTexts) {
    const auto longFile = Make("/var/mobile/Library/Long/" + LongName);
    ASSERT_TRUE(RunToEnd(*longFile));
    const std::string path = "/var/mobile/Library/Long/" + LongName;
    ASSERT_EQ(path.size(), 75U);
    ASSERT_EQ(shown.size(), 2U);
    EXPECT_EQ(shown[1].File.toStdString(), "Exporting: " + path.substr(0, 70) + "\n" + path.substr(70));

    shown.clear();
    const auto empty = Make("/var/mobile/Library/Empty");
    ASSERT_TRUE(RunToEnd(*empty));
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_EQ(shown[0].Status, QStringLiteral("Calculating files size..."));
    EXPECT_EQ(empty->ProgressBar()->value(), 0);
    EXPECT_TRUE(fs::exists(target.Path() / "Empty/x"));
    EXPECT_TRUE(fs::exists(target.Path() / "Empty/y"));
}

TEST_F(ProgressDialog, ALongPathIsElidedInItsMiddleSoTheFileNameStaysInView) {
    const auto dialog = Make("/var/mobile/" + DeepFile);
    ASSERT_TRUE(RunToEnd(*dialog));
    QLabel& label = *dialog->FileLabel();
    EXPECT_EQ(label.toolTip(), dialog->FileText());
    const auto expectFitted = [&label] {
        const QStringList lines = label.text().split(u'\n');
        EXPECT_LE(lines.size() * label.fontMetrics().lineSpacing(), label.contentsRect().height());
        for (const QString& line : lines) {
            EXPECT_LE(label.fontMetrics().horizontalAdvance(line), label.contentsRect().width()) << line.toStdString();
        }
        EXPECT_TRUE(label.text().endsWith(QStringLiteral("/IMG_0042.JPG"))) << label.text().toStdString();
        EXPECT_TRUE(label.text().contains(QChar(0x2026))); // the middle is left out, not the end
    };
    expectFitted();
    dialog->show(); // a hidden label gets its resize only when shown
    label.resize(label.width() / 2, label.height());
    expectFitted();
}

TEST_F(ProgressDialog, CancelLetsTheCurrentFileFinishStopsTheRestAndANextExportRunsAgain) {
    HeldCopier copier;
    const auto dialog = Make("/var/mobile/Library/Three", copier.Function());
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return copier.Entered.load(); }));

    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
    EXPECT_EQ(ExportCancelled.load(), 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->isVisible());
    copier.Release = true;
    ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_TRUE(dialog->Result().Cancelled);
    EXPECT_EQ(copier.Calls.load(), 1);
    EXPECT_EQ(ReadFile(target.Path() / "Three/1.txt"), "one");
    EXPECT_FALSE(fs::exists(target.Path() / "Three/2.txt"));
    EXPECT_FALSE(fs::exists(target.Path() / "Three/3.txt"));

    const auto again = Make("/var/mobile/Library/Three");
    ASSERT_TRUE(RunToEnd(*again));
    EXPECT_FALSE(again->Result().Cancelled);
    EXPECT_EQ(again->Result().FilesCopied, 3U);
    EXPECT_EQ(ReadFile(target.Path() / "Three/3.txt"), "three");
}

TEST_F(ProgressDialog, ClosingDuringACopyWaitsForTheWorker) {
    HeldCopier copier;
    const auto dialog = Make("/var/mobile/Library/Three", copier.Function());
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return copier.Entered.load(); }));
    dialog->close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ExportCancelled.load(), 1);
    copier.Release = true;
    ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_TRUE(dialog->Result().Cancelled);
    EXPECT_EQ(copier.Calls.load(), 1);
}

TEST_F(ProgressDialog, DestroyingDuringACopyWaitsForTheWorker) {
    HeldCopier copier;
    auto dialog = Make("/var/mobile/Library/Three", copier.Function());
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return copier.Entered.load(); }));
    std::thread release([&copier] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        copier.Release = true;
    });
    dialog.reset();
    EXPECT_TRUE(copier.Returned.load());
    release.join();
    EXPECT_EQ(copier.Calls.load(), 1);
}

// The worker waits to report the next file until the last one is on screen; a dialog destroyed meanwhile lets it go.
TEST_F(ProgressDialog, DestroyingWhileTheWorkerWaitsToReportEndsIt) {
    HeldCopier copier;
    std::atomic<int> copied{0};
    auto dialog =
        Make("/var/mobile/Library/Three", [&](int source, int folderFd, const std::string& name, std::int64_t mtime) {
            Result<void> result = copier.Function()(source, folderFd, name, mtime);
            ++copied;
            return result;
        });
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return copier.Entered.load() && shown.size() == 2; }));
    // From here this thread takes no events, so the report of the second file stays unshown and the worker stops
    // before the third file's report.
    copier.Release = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (copied.load() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(copied.load(), 2);
    EXPECT_EQ(shown.size(), 2U);
    dialog.reset();
    EXPECT_LE(copier.Calls.load(), 3);
    EXPECT_EQ(ReadFile(target.Path() / "Three/2.txt"), "two");
}

TEST_F(ProgressDialog, ASecondShowStartsNoSecondWorker) {
    HeldCopier copier;
    const auto dialog = Make("/var/mobile/Library/Three", copier.Function());
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return copier.Entered.load(); }));
    dialog->hide();
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return !StartPending(*dialog); }));
    copier.Release = true;
    ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(copier.Calls.load(), 3);
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return !StartPending(*dialog); }));
    EXPECT_EQ(copier.Calls.load(), 3);
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](const Shown& s) { return s.File.isEmpty(); }), 1);
}

TEST_F(ProgressDialog, FullDiskShowsTheReasonUnderMarrowickAndStops) {
    HeldCopier copier;
    copier.HoldOnCall = 0;
    copier.DiskFullOnCall = 2;
    const auto dialog = Make("/var/mobile/Library/Three", copier.Function());
    const auto seen = testing::CaptureModals([&] { ASSERT_TRUE(RunToEnd(*dialog)); });
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_TRUE(seen[0].IsMessageBox);
    EXPECT_EQ(seen[0].Title, QStringLiteral("Marrowick"));
    EXPECT_EQ(seen[0].Text, QStringLiteral("Failed to export file!\nReason: No space left on device"));
    EXPECT_EQ(seen[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(seen[0].Buttons, QStringList{"OK"});
    EXPECT_EQ(copier.Calls.load(), 2);
    EXPECT_TRUE(dialog->Result().DiskFull);
    EXPECT_EQ(ReadFile(target.Path() / "Three/1.txt"), "one");
    EXPECT_FALSE(fs::exists(target.Path() / "Three/3.txt"));
}

// Whatever the worker meets ends the export with its reason, not the program.
TEST_F(ProgressDialog, ExceptionInTheWorkerEndsTheExportWithItsReason) {
    const auto dialog =
        Make("/var/mobile/Library/Three", [](int, int, const std::string&, std::int64_t) -> Result<void> {
            throw std::runtime_error("injected failure");
        });

    ASSERT_TRUE(RunToEnd(*dialog));

    ASSERT_TRUE(dialog->Result().Stopped.has_value());
    EXPECT_EQ(dialog->Result().Stopped->Detail, "injected failure");
    EXPECT_FALSE(dialog->Result().Succeeded());
    EXPECT_NE(ExportFailureSummary(dialog->Result()).find("injected failure"), std::string::npos);
}

TEST_F(ProgressDialog, EnterAndEscapeNeitherCancelNorClose) {
    HeldCopier copier;
    const auto dialog = Make("/var/mobile/Library/Three", copier.Function());
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return copier.Entered.load(); }));
    for (QWidget* widget : {static_cast<QWidget*>(dialog.get()), static_cast<QWidget*>(dialog->CancelButton())}) {
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Escape);
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter);
    }
    EXPECT_EQ(ExportCancelled.load(), 0);
    EXPECT_TRUE(dialog->isVisible());
    copier.Release = true;
    ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(dialog->Result().FilesCopied, 3U);
}

} // namespace
} // namespace marrowick
