#include "gui/browser/TreeLoader.h"

#include "core/backup/FileNode.h"
#include "support/SampleBackup.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace marrowick {
namespace {

using testing::TempHome;

TEST(TreeLoader, WindowsKeepRunningWhileAManifestIsReadAndNotWhenItIsCached) {
    TempHome home;
    ClearBackupTreeCache();
    const std::filesystem::path folder = home.AppDataBackupFolder() / "big";
    testing::WriteSampleBackup(folder, testing::SampleBackup());
    std::vector<testing::ManifestDbRow> rows;
    for (int i = 0; i < 30000; ++i) {
        testing::ManifestDbRow row;
        row.FileID = testing::Sha1Hex(std::to_string(i));
        row.Domain = "HomeDomain";
        row.RelativePath = "Library/Caches/f" + std::to_string(i);
        rows.push_back(row);
    }
    testing::WriteManifestDb(folder / "Manifest.db", rows);
    BackupRecord backup;
    ASSERT_TRUE(ReadBackupSummary(backup, folder.string()));
    backup.FolderPath = folder.string() + "/";

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&ticks] { ++ticks; });
    timer.start(0);
    const BackupTreeResult first = OpenBackupTreeResponsive(backup, nullptr);
    EXPECT_GT(ticks, 0) << "the event loop ran while the manifest was read";
    EXPECT_EQ(first.Status, TreeStatus::Ok);
    EXPECT_NE(FindNode(first.Root, "/var/mobile/Library/Caches/f29999"), nullptr);
    EXPECT_EQ(CurrentRoot, first.Root);

    ticks = 0;
    const BackupTreeResult again = OpenBackupTreeResponsive(backup, nullptr);
    EXPECT_EQ(again.Root, first.Root);
    EXPECT_EQ(ticks, 0) << "a cached tree is taken without running the event loop";
    ClearBackupTreeCache();
}

} // namespace
} // namespace marrowick
