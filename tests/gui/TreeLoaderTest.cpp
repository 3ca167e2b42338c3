#include "GuiTestSupport.h"

#include "core/backup/FileNode.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/TreeLoader.h"
#include "support/SampleBackup.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace marrowick {
namespace {

using testing::TempHome;

bool WaitUntil(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// Puts a read in the loaders' place for one test.
class ScopedTreeRead {
public:
    explicit ScopedTreeRead(TreeReadFunction read) { SetTreeReadFunction(std::move(read)); }
    ~ScopedTreeRead() { SetTreeReadFunction({}); }
    ScopedTreeRead(const ScopedTreeRead&) = delete;
    ScopedTreeRead& operator=(const ScopedTreeRead&) = delete;
};

// A read that waits on the worker until the test lets it go, then reads for real. Made after the loader, so that
// it lets the read go before the loader waits for it.
class HeldRead {
public:
    HeldRead() = default;
    ~HeldRead() { Release(); }
    HeldRead(const HeldRead&) = delete;
    HeldRead& operator=(const HeldRead&) = delete;

    TreeReadFunction Function() {
        return [this](const std::string& folder, ManifestKind kind) {
            {
                std::unique_lock lock(mutex_);
                entered_ = true;
                released_.wait(lock, [this] { return release_; });
            }
            return ReadBackupTree(folder, kind);
        };
    }
    void Release() {
        {
            const std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
    }
    bool Entered() {
        const std::lock_guard lock(mutex_);
        return entered_;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool entered_ = false;
    bool release_ = false;
};

class TreeLoading : public ::testing::Test {
protected:
    void SetUp() override { ClearBackupTreeCache(); }
    void TearDown() override { ClearBackupTreeCache(); }

    BackupRecord Write(const std::string& name, const std::vector<testing::ManifestDbRow>& rows = {}) {
        testing::SampleBackup sample;
        sample.DisplayName = "Kim's iPhone";
        sample.Files = {testing::SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "sms"}};
        const std::filesystem::path folder = testing::WriteSampleBackup(home.AppDataBackupFolder() / name, sample);
        if (!rows.empty()) {
            testing::WriteManifestDb(folder / "Manifest.db", rows);
        }
        BackupRecord backup;
        EXPECT_TRUE(ReadBackupSummary(backup, folder.string()));
        backup.FolderPath = folder.string() + "/";
        return backup;
    }

    // Counts what the loader opens.
    void Watch(CTreeLoader& loader) {
        QObject::connect(&loader, &CTreeLoader::Opened, &loader,
                         [this](const BackupRecord& backup, const BackupTreeResult& tree) {
                             openedName = backup.Name;
                             opened = tree;
                         });
    }

    TempHome home;
    std::optional<BackupTreeResult> opened;
    std::string openedName;
};

TEST_F(TreeLoading, WindowsKeepRunningWhileAManifestIsReadAndNotWhenItIsCached) {
    std::vector<testing::ManifestDbRow> rows;
    for (int i = 0; i < 30000; ++i) {
        testing::ManifestDbRow row;
        row.FileID = testing::Sha1Hex(std::to_string(i));
        row.Domain = "HomeDomain";
        row.RelativePath = "Library/Caches/f" + std::to_string(i);
        rows.push_back(row);
    }
    const BackupRecord backup = Write("big", rows);
    CTreeLoader loader(nullptr);
    Watch(loader);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&ticks] { ++ticks; });
    timer.start(0);
    ASSERT_TRUE(loader.Open(backup));
    EXPECT_FALSE(opened.has_value()) << "Open returns before the manifest is read";
    EXPECT_TRUE(loader.Reading());
    EXPECT_FALSE(loader.Open(backup)) << "no second read while one runs";
    ASSERT_TRUE(WaitUntil([&] { return opened.has_value(); }));
    EXPECT_GT(ticks, 0) << "the event loop ran while the manifest was read";
    EXPECT_FALSE(loader.Reading());
    EXPECT_EQ(openedName, "Kim's iPhone");
    const BackupTreeResult first = *opened;
    EXPECT_EQ(first.Status, TreeStatus::Ok);
    EXPECT_NE(FindNode(first.Root, "/var/mobile/Library/Caches/f29999"), nullptr);
    EXPECT_EQ(CurrentRoot, first.Root);
    EXPECT_EQ(CurrentBackupPath, backup.FolderPath);

    ticks = 0;
    opened.reset();
    CurrentRoot = nullptr;
    ASSERT_TRUE(loader.Open(backup));
    ASSERT_TRUE(opened.has_value()) << "a cached tree opens before Open returns";
    EXPECT_EQ(opened->Root, first.Root);
    EXPECT_EQ(CurrentRoot, first.Root);
    EXPECT_EQ(ticks, 0) << "a cached tree is taken without running the event loop";
}

TEST_F(TreeLoading, SlowReadShowsABusyBoxNamingTheBackupAndTheWindowsTakeNoInputUntilItEnds) {
    const BackupRecord backup = Write("slow");
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("Press"), &window);
    int presses = 0;
    QObject::connect(button, &QPushButton::clicked, &window, [&presses] { ++presses; });
    ASSERT_TRUE(testing::ShowAndActivate(window));
    CTreeLoader loader(&window);
    Watch(loader);
    HeldRead held;
    const ScopedTreeRead seam(held.Function());

    ASSERT_TRUE(loader.Open(backup));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(presses, 0);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);

    ASSERT_TRUE(WaitUntil([&] { return loader.BusyBox() != nullptr && loader.BusyBox()->isVisible(); }));
    EXPECT_TRUE(held.Entered());
    const QProgressDialog& busy = *loader.BusyBox();
    EXPECT_EQ(busy.labelText(), QStringLiteral("Reading the file list of Kim's iPhone..."));
    EXPECT_EQ(busy.windowTitle(), QStringLiteral("Marrowick"));
    EXPECT_EQ(busy.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(busy.parentWidget(), &window);
    EXPECT_FALSE(opened.has_value());

    held.Release();
    ASSERT_TRUE(WaitUntil([&] { return opened.has_value(); }));
    EXPECT_EQ(opened->Status, TreeStatus::Ok);
    EXPECT_NE(FindNode(opened->Root, "/var/mobile/Library/SMS/sms.db"), nullptr);
    EXPECT_EQ(loader.BusyBox(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(presses, 1) << "input reaches the windows again";
}

struct Thrown {
    std::function<void()> Throw;
    QString Said; // in the file manager's message
};

// Whatever the worker meets, the program goes on and the file manager says what failed.
TEST_F(TreeLoading, ExceptionInTheReadIsToldByTheFileManagerOfAnEmptyTree) {
    const std::vector<Thrown> cases{
        {[] { throw std::runtime_error("injected failure"); }, QStringLiteral("an unexpected error: injected failure")},
        {[] { throw 42; }, QStringLiteral("an unexpected error")},
    };
    for (const Thrown& thrown : cases) {
        ClearBackupTreeCache();
        opened.reset();
        const BackupRecord backup = Write("throws");
        CTreeLoader loader(nullptr);
        Watch(loader);
        const ScopedTreeRead seam([&thrown](const std::string&, ManifestKind) -> CachedBackupTree {
            thrown.Throw();
            return {};
        });
        ASSERT_TRUE(loader.Open(backup));
        ASSERT_TRUE(WaitUntil([&] { return opened.has_value(); }));
        EXPECT_EQ(opened->Status, TreeStatus::Unreadable);
        ASSERT_NE(opened->Root, nullptr);
        EXPECT_EQ(opened->Root->FirstChild(), nullptr);

        testing::ModalWatcher watcher;
        CDlgFileManager dialog(backup, *opened, nullptr);
        dialog.show();
        ASSERT_TRUE(WaitUntil([&] { return watcher.Count() > 0 && QApplication::activeModalWidget() == nullptr; }));
        ASSERT_EQ(watcher.Count(), 1U);
        const testing::ModalRecord& said = watcher.Seen().front();
        EXPECT_TRUE(said.IsMessageBox);
        EXPECT_TRUE(said.Text.startsWith(QStringLiteral("The file index of this backup cannot be read")))
            << said.Text.toStdString();
        EXPECT_TRUE(said.Text.endsWith(QStringLiteral("\n\n") + thrown.Said)) << said.Text.toStdString();
        EXPECT_EQ(dialog.Status(), TreeStatus::Unreadable);
    }
}

} // namespace
} // namespace marrowick
