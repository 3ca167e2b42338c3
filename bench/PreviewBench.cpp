// Times the preview pane from the request to a result a person sees (read, decoded, on screen and painted) for the
// large files of a phone: a 20 MB JPEG, a 12-megapixel HEIC and a 100 MB database.

#include "gui/HeicEncoding.h"
#include "gui/HeicGrid.h"
#include "support/SampleBackup.h"

#include "core/backup/BackupTreeCache.h"
#include "core/preview/EntryContent.h"
#include "gui/preview/PreviewPane.h"

#include <QApplication>
#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace marrowick;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double TargetJpegBytes = 20e6;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A photo-like picture: smooth colour gradients with noise of the given strength over them.
QImage NoisyImage(int width, int height, int noise) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(2017);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const auto wobble = [&random, noise] { return static_cast<int>(random.bounded(2 * noise + 1)) - noise; };
            line[x] = qRgb(std::clamp(x * 255 / width + wobble(), 0, 255),
                           std::clamp(y * 255 / height + wobble(), 0, 255), std::clamp(128 + wobble(), 0, 255));
        }
    }
    return image;
}

QByteArray Jpeg(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 100);
    return bytes;
}

// A JPEG of pure noise at the highest quality, its sides scaled until it is about 20 MB.
QByteArray LargeJpeg(QSize& size) {
    size = QSize(4000, 3000);
    QByteArray bytes = Jpeg(NoisyImage(size.width(), size.height(), 127));
    const double scale = std::sqrt(TargetJpegBytes / static_cast<double>(bytes.size()));
    size = QSize(static_cast<int>(size.width() * scale), static_cast<int>(size.height() * scale));
    return Jpeg(NoisyImage(size.width(), size.height(), 127));
}

// About 100 MB: 100,000 messages with a kilobyte of attachment each, and a few smaller tables.
std::string LargeDatabase(const fs::path& scratch) {
    const fs::path file = scratch / "sms.db";
    fs::remove(file);
    const std::string failed = testing::RunSql(
        file, "CREATE TABLE handle(id INTEGER PRIMARY KEY, address TEXT);"
              "CREATE TABLE chat(id INTEGER PRIMARY KEY, name TEXT);"
              "CREATE TABLE message(id INTEGER PRIMARY KEY, handle INTEGER, date INTEGER, text TEXT, body BLOB);"
              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
              "INSERT INTO message SELECT i, i % 300, 600000000 + i * 60, 'message number ' || i, randomblob(960) "
              "FROM n;"
              "INSERT INTO handle SELECT DISTINCT handle, '+1555' || handle FROM message;");
    if (!failed.empty()) {
        std::fprintf(stderr, "database: %s\n", failed.c_str());
    }
    std::string bytes = testing::ReadFile(file);
    fs::remove(file);
    return bytes;
}

struct Sample {
    const char* Label;
    std::string RelativePath;
    std::string Description;
};

// Writes the backup into folder, and says what each sample is.
std::vector<Sample> WriteBackup(const fs::path& folder) {
    std::vector<Sample> samples;
    testing::SampleBackup backup;
    QSize jpegSize;
    const QByteArray jpeg = LargeJpeg(jpegSize);
    backup.Files.push_back({.RelativePath = "Media/DCIM/100APPLE/IMG_0001.JPG", .Content = jpeg.toStdString()});
    samples.push_back({"JPEG", "Media/DCIM/100APPLE/IMG_0001.JPG",
                       QStringLiteral("%1 bytes, %2x%3")
                           .arg(jpeg.size())
                           .arg(jpegSize.width())
                           .arg(jpegSize.height())
                           .toStdString()});
    if (testing::CanEncodeHeic()) {
        // With a thumbnail of 320 pixels, as phones store one.
        const QByteArray heic = testing::EncodeHeic(NoisyImage(4000, 3000, 12), 60, 320);
        backup.Files.push_back({.RelativePath = "Media/DCIM/100APPLE/IMG_0002.HEIC", .Content = heic.toStdString()});
        samples.push_back({"HEIC", "Media/DCIM/100APPLE/IMG_0002.HEIC",
                           QStringLiteral("%1 bytes, 4000x3000").arg(heic.size()).toStdString()});
        // As a phone's camera stores it: 48 tiles of 512x512 in a grid, cut to 4032x3024, and a thumbnail.
        const QByteArray grid =
            testing::EncodeHeicGrid(NoisyImage(512, 512, 13), 8, 6, QSize(4032, 3024), 60, NoisyImage(320, 240, 13));
        backup.Files.push_back({.RelativePath = "Media/DCIM/100APPLE/IMG_0003.HEIC", .Content = grid.toStdString()});
        samples.push_back({"HEIC grid", "Media/DCIM/100APPLE/IMG_0003.HEIC",
                           QStringLiteral("%1 bytes, 4032x3024 in 8x6 tiles").arg(grid.size()).toStdString()});
    } else {
        std::printf("this libheif has no HEVC encoder: no HEIC is timed\n");
    }
    const std::string database = LargeDatabase(folder.parent_path());
    backup.Files.push_back({.RelativePath = "Library/SMS/sms.db", .Content = database});
    samples.push_back({"SQLite", "Library/SMS/sms.db", std::to_string(database.size()) + " bytes"});
    testing::WriteSampleBackup(folder, backup);
    return samples;
}

struct Timing {
    double First = 0; // something of the file on screen: a photo's thumbnail, or the result itself
    double Shown = 0; // the result on screen
};

// One request: from ShowEntry until the result is on screen and painted.
Timing TimeShowing(CPreviewPane& pane, const FileNode& node, const std::string& folder) {
    const auto start = Clock::now();
    Timing timing;
    QEventLoop loop;
    const QMetaObject::Connection thumbnail = QObject::connect(&pane, &CPreviewPane::ThumbnailShown, &loop, [&] {
        pane.repaint();
        timing.First = SecondsSince(start);
    });
    const QMetaObject::Connection shown = QObject::connect(&pane, &CPreviewPane::Shown, &loop, &QEventLoop::quit);
    pane.ShowEntry(&node, folder, ManifestKindDb);
    if (pane.Loading()) {
        loop.exec();
    }
    QObject::disconnect(thumbnail);
    QObject::disconnect(shown);
    pane.repaint();
    timing.Shown = SecondsSince(start);
    timing.First = timing.First > 0 ? timing.First : timing.Shown;
    return timing;
}

// Arrowing from one photo to the next: the grid photo asked for once the single-picture one shows its thumbnail,
// while its decoding, which cannot be stopped, goes on.
void TimeRightAfter(CPreviewPane& pane, const CachedBackupTree& tree, const std::vector<Sample>& samples,
                    const std::string& folder, int runs) {
    const auto find = [&](const char* label) -> const FileNode* {
        const auto sample = std::find_if(samples.begin(), samples.end(),
                                         [label](const Sample& each) { return std::string(each.Label) == label; });
        return sample == samples.end() ? nullptr : FindNode(tree.Tree->Root(), "/var/mobile/" + sample->RelativePath);
    };
    const FileNode* before = find("HEIC");
    const FileNode* grid = find("HEIC grid");
    if (before == nullptr || grid == nullptr) {
        return;
    }
    std::vector<double> first;
    std::vector<double> shown;
    for (int round = 0; round <= runs; ++round) {
        QEventLoop thumbnail;
        QObject::connect(&pane, &CPreviewPane::ThumbnailShown, &thumbnail, &QEventLoop::quit);
        pane.ShowEntry(before, folder, ManifestKindDb);
        thumbnail.exec();
        const Timing timing = TimeShowing(pane, *grid, folder);
        // The photo before ends before the next round.
        QEventLoop pause;
        QTimer::singleShot(1500, &pause, &QEventLoop::quit);
        pause.exec();
        pane.ShowEntry(nullptr, folder, ManifestKindDb);
        if (round > 0) {
            first.push_back(timing.First);
            shown.push_back(timing.Shown);
        }
    }
    std::printf("  %-46s %24s first on screen %6.3f s   shown (image) %6.3f s\n",
                "HEIC grid while the 4000x3000 HEIC decodes", "", Median(first), Median(shown));
}

const char* PageName(CPreviewPane::Page page) {
    switch (page) {
    case CPreviewPane::Page::Image:
        return "image";
    case CPreviewPane::Page::Table:
        return "table";
    case CPreviewPane::Page::Text:
        return "text";
    case CPreviewPane::Page::Bytes:
        return "bytes";
    default:
        return "message";
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    fs::path root = "/tmp/marrowick-bench";
    int runs = 5;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--folder")) {
            root = args[i + 1].toStdString();
        } else if (args[i] == QStringLiteral("--runs")) {
            runs = std::max(1, args[i + 1].toInt());
        }
    }
    const fs::path folder = root / "preview";
    fs::remove_all(folder);
    fs::create_directories(root);
    const std::vector<Sample> samples = WriteBackup(folder);
    const std::string backupFolder = folder.string() + "/";
    const CachedBackupTree tree = ReadBackupTree(backupFolder, ManifestKindDb);

    CPreviewPane pane;
    pane.resize(800, 600);
    pane.show();
    QApplication::processEvents();
    std::printf("preview pane 800x600, median of %d rounds after one unmeasured, page cache warm\n", runs);
    for (const Sample& sample : samples) {
        const FileNode* node = FindNode(tree.Tree->Root(), "/var/mobile/" + sample.RelativePath);
        if (node == nullptr) {
            std::fprintf(stderr, "%s is not in the backup\n", sample.RelativePath.c_str());
            return 1;
        }
        std::vector<double> read;
        std::vector<double> first;
        std::vector<double> shown;
        for (int round = 0; round <= runs; ++round) {
            const auto start = Clock::now();
            const Result<std::string> bytes = ReadEntryContent(EntryToRead::Of(*node), backupFolder, ManifestKindDb);
            const double readTime = SecondsSince(start);
            const Timing timing = TimeShowing(pane, *node, backupFolder);
            pane.ShowEntry(nullptr, backupFolder, ManifestKindDb);
            if (round > 0) {
                read.push_back(readTime);
                first.push_back(timing.First);
                shown.push_back(timing.Shown);
            }
        }
        pane.ShowEntry(node, backupFolder, ManifestKindDb);
        QEventLoop loop;
        QObject::connect(&pane, &CPreviewPane::Shown, &loop, &QEventLoop::quit);
        loop.exec();
        std::printf("  %-9s %-36s read alone %6.3f s   first on screen %6.3f s   shown (%s) %6.3f s\n", sample.Label,
                    sample.Description.c_str(), Median(read), Median(first), PageName(pane.CurrentPage()),
                    Median(shown));
    }
    TimeRightAfter(pane, tree, samples, backupFolder, runs);
    fs::remove_all(folder);
    return 0;
}
