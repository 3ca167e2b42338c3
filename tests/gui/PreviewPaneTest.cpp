#include "HeicEncoding.h"
#include "HeicGrid.h"

#include "core/backup/BackupTreeCache.h"
#include "gui/preview/PreviewImage.h"
#include "gui/preview/PreviewPane.h"
#include "support/SampleBackup.h"

#include <QBuffer>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::SampleFile;

// An 800 by 500 picture, larger than the pane: red on the left half, blue on the right.
QImage HalvesImage() {
    QImage image(800, 500, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width() / 2; ++x) {
            image.setPixel(x, y, qRgb(255, 0, 0));
        }
    }
    return image;
}

std::string PngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string DatabaseBytes() {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "sms.db";
    EXPECT_EQ(testing::RunSql(file, "PRAGMA journal_mode=WAL;"
                                    "CREATE TABLE handle(id TEXT); INSERT INTO handle VALUES ('+15550100');"
                                    "CREATE TABLE message(text TEXT, attachment BLOB);"
                                    "INSERT INTO message VALUES ('hello', x'00112233'), ('bye', NULL);"),
              "");
    return testing::ReadFile(file);
}

bool IsReddish(QRgb pixel) {
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}
bool IsBluish(QRgb pixel) {
    return qBlue(pixel) > 200 && qRed(pixel) < 60 && qGreen(pixel) < 60;
}

// A sample backup holding one file of each kind, read into a tree, and a pane to show them in.
class PreviewPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::SampleBackup sample;
        sample.Files = {
            SampleFile{.RelativePath = "Media/DCIM/IMG_0001.PNG", .Content = PngBytes(HalvesImage())},
            SampleFile{.RelativePath = "Library/Preferences/com.example.plist",
                       .Content = testing::MakeBinaryPlist({{"Name", std::string("Kim")}, {"Count", 3}})},
            SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = DatabaseBytes()},
            SampleFile{.RelativePath = "Library/blob.bin", .Content = std::string("\x01\x02MAGIC\x7F", 8)},
            SampleFile{.RelativePath = "Library/big.txt", .Content = std::string(8 << 20, 'b')},
            SampleFile{.RelativePath = "Library/gone.txt", .StoredFileMissing = true},
        };
        if (testing::CanEncodeHeic()) {
            sample.Files.push_back(SampleFile{.RelativePath = "Media/DCIM/IMG_0002.HEIC",
                                              .Content = testing::EncodeHeic(HalvesImage(), 90).toStdString()});
            sample.Files.push_back(SampleFile{.RelativePath = "Media/DCIM/IMG_0003.HEIC",
                                              .Content = testing::EncodeHeic(HalvesImage(), 90, 64).toStdString()});
        }
        folder_ = testing::WriteSampleBackup(dir_.Path() / "backup", sample).string() + "/";
        tree_ = ReadBackupTree(folder_, ManifestKindDb);
        ASSERT_EQ(tree_.Status, TreeStatus::Ok);
        pane_.resize(400, 300);
        pane_.show();
    }

    // Shows the entry at the path below /var/mobile and waits for its result.
    void Show(const std::string& path) {
        const FileNode* node = FindNode(tree_.Tree->Root(), "/var/mobile/" + path);
        ASSERT_NE(node, nullptr) << path;
        pane_.ShowEntry(node, folder_, ManifestKindDb);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !pane_.Loading(); }, 20000));
    }

    template <class Widget>
    Widget& Child(const char* name) {
        auto* widget = pane_.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }

    void ExpectHalvesShown() {
        ASSERT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Image);
        const QImage shown = Child<QLabel>("previewImage").pixmap().toImage();
        ASSERT_FALSE(shown.isNull());
        EXPECT_GE(shown.width(), 390);
        EXPECT_LE(shown.width(), 400);
        EXPECT_NEAR(shown.width() * 500.0 / 800.0, shown.height(), 2.0);
        EXPECT_TRUE(IsReddish(shown.pixel(shown.width() / 4, shown.height() / 2)));
        EXPECT_TRUE(IsBluish(shown.pixel(shown.width() * 3 / 4, shown.height() / 2)));
    }

    testing::TempDir dir_;
    std::string folder_;
    CachedBackupTree tree_;
    CPreviewPane pane_;
};

TEST_F(PreviewPaneTest, PngIsShownFittedIntoThePane) {
    Show("Media/DCIM/IMG_0001.PNG");
    ExpectHalvesShown();
}

TEST_F(PreviewPaneTest, HeicIsDecodedThroughLibheif) {
    if (!testing::CanEncodeHeic()) {
        GTEST_SKIP() << "this libheif has no HEVC encoder to make a HEIC file with";
    }
    QSignalSpy thumbnails(&pane_, &CPreviewPane::ThumbnailShown);
    Show("Media/DCIM/IMG_0002.HEIC");
    ExpectHalvesShown();
    EXPECT_EQ(thumbnails.count(), 0);
}

TEST_F(PreviewPaneTest, HeicThumbnailIsShownWhileThePhotoIsDecoded) {
    if (!testing::CanEncodeHeic()) {
        GTEST_SKIP() << "this libheif has no HEVC encoder to make a HEIC file with";
    }
    QSignalSpy thumbnails(&pane_, &CPreviewPane::ThumbnailShown);
    QSignalSpy shown(&pane_, &CPreviewPane::Shown);
    // The pane shows the thumbnail enlarged, and never says it is done with it.
    QObject::connect(&pane_, &CPreviewPane::ThumbnailShown, &pane_, [this] {
        EXPECT_TRUE(pane_.Loading());
        EXPECT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Image);
        EXPECT_GE(Child<QLabel>("previewImage").pixmap().width(), 390);
    });
    Show("Media/DCIM/IMG_0003.HEIC");
    EXPECT_EQ(thumbnails.count(), 1);
    EXPECT_EQ(shown.count(), 1);
    ExpectHalvesShown();
}

TEST_F(PreviewPaneTest, BinaryPlistIsShownAsXml) {
    Show("Library/Preferences/com.example.plist");
    ASSERT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Text);
    const QString text = Child<QPlainTextEdit>("previewText").toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("<key>Name</key>\n\t<string>Kim</string>"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<key>Count</key>\n\t<integer>3</integer>"))) << text.toStdString();
}

TEST_F(PreviewPaneTest, DatabaseShowsItsTablesAndTheChosenTablesRows) {
    Show("Library/SMS/sms.db");
    ASSERT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Table);
    auto& tables = Child<QComboBox>("previewTables");
    auto& rows = Child<QTableWidget>("previewRows");
    ASSERT_EQ(tables.count(), 2);
    EXPECT_EQ(tables.currentText(), QStringLiteral("handle"));
    ASSERT_EQ(rows.rowCount(), 1);
    EXPECT_EQ(rows.item(0, 0)->text(), QStringLiteral("+15550100"));

    tables.setCurrentIndex(1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !pane_.Loading(); }, 20000));
    ASSERT_EQ(rows.rowCount(), 2);
    EXPECT_EQ(rows.horizontalHeaderItem(1)->text(), QStringLiteral("attachment"));
    EXPECT_EQ(rows.item(0, 1)->text(), QStringLiteral("<blob 4 bytes>"));
    EXPECT_EQ(rows.item(1, 1)->text(), QStringLiteral("NULL"));
}

TEST_F(PreviewPaneTest, UnknownBytesAreDumpedAndAMissingFileSaysWhy) {
    Show("Library/blob.bin");
    ASSERT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Bytes);
    EXPECT_TRUE(Child<QPlainTextEdit>("previewBytes").toPlainText().startsWith(QStringLiteral("00000000  01 02 4d")));
    EXPECT_TRUE(Child<QLabel>("previewNote").text().startsWith(QStringLiteral("8 bytes")));

    Show("Library/gone.txt");
    ASSERT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Message);
    EXPECT_TRUE(Child<QLabel>("previewMessage").text().contains(QStringLiteral("No such file")))
        << Child<QLabel>("previewMessage").text().toStdString();
}

TEST_F(PreviewPaneTest, OnlyTheNewestEntryIsShown) {
    QSignalSpy shown(&pane_, &CPreviewPane::Shown);
    const FileNode* big = FindNode(tree_.Tree->Root(), "/var/mobile/Library/big.txt");
    pane_.ShowEntry(big, folder_, ManifestKindDb);
    Show("Library/Preferences/com.example.plist");
    // Whatever was left of the large file's read, its result never reaches the screen.
    QTest::qWait(200);
    EXPECT_EQ(shown.count(), 1);
    EXPECT_TRUE(Child<QPlainTextEdit>("previewText").toPlainText().contains(QStringLiteral("Kim")));
}

TEST_F(PreviewPaneTest, ATableChosenOfTheEntryBeforeLeavesTheNewEntryShown) {
    Show("Library/SMS/sms.db");
    const FileNode* plist = FindNode(tree_.Tree->Root(), "/var/mobile/Library/Preferences/com.example.plist");
    pane_.ShowEntry(plist, folder_, ManifestKindDb);
    Child<QComboBox>("previewTables").setCurrentIndex(1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !pane_.Loading(); }, 20000));
    EXPECT_EQ(pane_.CurrentPage(), CPreviewPane::Page::Text);
}

TEST(PreviewImage, BytesNoReaderDecodesGiveANullImageAndAReason) {
    QString problem;
    EXPECT_TRUE(LoadPreviewImage(QByteArray("\xFF\xD8\xFF\xE0garbage", 11), QSize(100, 100), &problem).isNull());
    EXPECT_FALSE(problem.isEmpty());
    problem.clear();
    const QByteArray cutHeif("\0\0\0\x18"
                             "ftypheic\0\0\0\0mif1heic",
                             24);
    EXPECT_TRUE(LoadPreviewImage(cutHeif, QSize(100, 100), &problem).isNull());
    EXPECT_FALSE(problem.isEmpty());
}

// As phones store photos: the tiles are laid row by row and the grid's edge cuts the last column; the stored
// thumbnail is the grid's.
TEST(PreviewImage, AGridPhotoIsPutTogetherFromItsTilesAndItsThumbnailFound) {
    if (!testing::CanEncodeHeic()) {
        GTEST_SKIP() << "this libheif has no HEVC encoder to make a HEIC file with";
    }
    const QImage halves = HalvesImage();
    const QByteArray grid =
        testing::EncodeHeicGrid(halves.scaled(400, 250), 2, 2, QSize(700, 500), 90, halves.scaled(128, 80));
    QString problem;
    const QImage image = LoadPreviewImage(grid, QSize(700, 500), &problem);
    ASSERT_EQ(image.size(), QSize(700, 500)) << problem.toStdString();
    for (const int y : {125, 375}) {
        EXPECT_TRUE(IsReddish(image.pixel(100, y)));
        EXPECT_TRUE(IsBluish(image.pixel(300, y)));
        EXPECT_TRUE(IsReddish(image.pixel(500, y)));
        EXPECT_TRUE(IsBluish(image.pixel(650, y)));
    }
    const QImage thumbnail = LoadPreviewThumbnail(grid, QSize(128, 80));
    ASSERT_EQ(thumbnail.size(), QSize(128, 80));
    EXPECT_TRUE(IsReddish(thumbnail.pixel(30, 40)));
    EXPECT_TRUE(IsBluish(thumbnail.pixel(100, 40)));
}

} // namespace
} // namespace marrowick
