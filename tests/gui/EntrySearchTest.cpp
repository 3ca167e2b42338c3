#include "gui/browser/EntrySearch.h"

#include "core/backup/BackupTree.h"
#include "core/backup/BackupTreeCache.h"
#include "support/SampleBackup.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace marrowick {
namespace {

std::vector<QString> Column(const SearchResultsModel& model, int column) {
    std::vector<QString> texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts.push_back(model.data(model.index(row, column)).toString());
    }
    return texts;
}

TEST(EntrySearch, ListsTheMatchesOfASampleBackupWithTheirFolderSizeTimeAndMissingContent) {
    const testing::TempHome home("UTC");
    testing::SampleBackup backup;
    backup.Files = {
        {.RelativePath = "Media/DCIM/100APPLE/IMG_0002.JPG", .StoredFileMissing = true, .RecordedSize = 2},
        {.RelativePath = "Media/DCIM/100APPLE/IMG_0001.JPG", .Content = "1", .MTime = 1600000000},
        {.RelativePath = "Library/Notes/notes.sqlite", .Content = "n"},
        {.RelativePath = "Library/MyImgs", .IsFolder = true},
    };
    const std::string folder = testing::WriteSampleBackup(home.Home() / "backup", backup).string() + "/";
    const CachedBackupTree tree = ReadBackupTree(folder, ManifestKindDb);
    ASSERT_EQ(tree.Status, TreeStatus::Ok);

    CEntrySearch search(new SearchResultsModel(LoadFileManagerIcons(), folder, ManifestKindDb, nullptr));
    QAbstractItemModelTester tester(search.Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy finished(&search, &CEntrySearch::Finished);
    search.Start(tree.Tree->Root(), QStringLiteral(" img"));
    EXPECT_TRUE(search.Searching());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(search.Searching());
    EXPECT_EQ(finished.front(), (QVariantList{qsizetype{3}, false}));
    const SearchResultsModel& model = *search.Model();
    using Texts = std::vector<QString>;
    EXPECT_EQ(Column(model, SearchResultsModel::NameColumn), (Texts{"MyImgs", "IMG_0001.JPG", "IMG_0002.JPG"}));
    EXPECT_EQ(Column(model, SearchResultsModel::FolderColumn),
              (Texts{"/var/mobile/Library", "/var/mobile/Media/DCIM/100APPLE", "/var/mobile/Media/DCIM/100APPLE"}));
    EXPECT_EQ(Column(model, SearchResultsModel::SizeColumn), (Texts{"", "1 bytes", "2 bytes"}));
    EXPECT_EQ(Column(model, SearchResultsModel::TimeColumn).at(1), "2020-09-13 12:26");
    EXPECT_EQ(model.EntryAt(2)->Path(), "/var/mobile/Media/DCIM/100APPLE/IMG_0002.JPG");
    EXPECT_FALSE(model.index(1, SearchResultsModel::NameColumn).data(Qt::ForegroundRole).isValid());
    EXPECT_EQ(model.index(2, SearchResultsModel::TimeColumn).data(Qt::ToolTipRole).toString(),
              "The backup does not hold this file's content");
    EXPECT_EQ(model.EntryAt(3), nullptr);

    search.Start(tree.Tree->Root(), QStringLiteral("   "));
    EXPECT_EQ(finished.size(), 2);
    EXPECT_EQ(finished.back(), (QVariantList{qsizetype{0}, false}));
    EXPECT_EQ(model.rowCount(), 0);
}

class EntrySearchReplaced : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 50000; ++i) {
            tree.InsertIntoTree(
                FileEntry{"/var/mobile/f" + std::to_string(i / 1000) + "/IMG_" + std::to_string(i), "", "1"});
        }
    }
    BackupTree tree{"/nonexistent/", ManifestKindMbdb};
};

TEST_F(EntrySearchReplaced, OnlyTheLatestSearchReachesTheModel) {
    CEntrySearch search(new SearchResultsModel(LoadFileManagerIcons(), "/nonexistent/", ManifestKindMbdb, nullptr));
    QAbstractItemModelTester tester(search.Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy finished(&search, &CEntrySearch::Finished);
    search.Prepare(tree.Root());
    search.Start(tree.Root(), QStringLiteral("img"));
    // The first search's batches wait in the queue, and it may still run, when the second starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    search.Start(tree.Root(), QStringLiteral("IMG_1999?"));
    ASSERT_TRUE(finished.wait(10000));
    QTest::qWait(100);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.front(), (QVariantList{qsizetype{10}, false}));
    std::vector<QString> expected;
    for (int i = 0; i < 10; ++i) {
        expected.push_back(QStringLiteral("IMG_1999%1").arg(i));
    }
    EXPECT_EQ(Column(*search.Model(), SearchResultsModel::NameColumn), expected);

    search.Start(tree.Root(), QStringLiteral("img"));
    search.Cancel();
    EXPECT_FALSE(search.Searching());
    QTest::qWait(100);
    EXPECT_EQ(finished.size(), 1) << "a cancelled search gives no Finished";
    EXPECT_EQ(search.Model()->rowCount(), 0);
}

} // namespace
} // namespace marrowick
