// Renders the windows with sample backups to PNG files, offscreen: `make screenshots` writes docs/screenshots.
#include "core/backup/BackupTreeCache.h"
#include "core/platform/FileCopy.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/MarrowickDlg.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/DlgProgress.h"
#include "gui/browser/EntrySearch.h"
#include "gui/browser/SearchBar.h"
#include "gui/controls/ImageButton.h"
#include "gui/preview/PreviewPane.h"
#include "gui/preview/PreviewWindow.h"
#include "support/SampleBackup.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <cstdio>
#include <filesystem>

namespace {

using namespace marrowick;
using namespace marrowick::testing;

SampleFile File(const std::string& domain, const std::string& path, std::size_t size) {
    SampleFile file;
    file.Domain = domain;
    file.RelativePath = path;
    file.Content = std::string(size, 'x');
    return file;
}

// A picture of a sunset, as a photo to preview.
std::string PhotoBytes() {
    QImage image(1200, 900, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 900);
    sky.setColorAt(0, QColor(40, 70, 150));
    sky.setColorAt(0.65, QColor(250, 160, 90));
    sky.setColorAt(1, QColor(60, 40, 60));
    painter.fillRect(image.rect(), sky);
    painter.setBrush(QColor(255, 220, 120));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(600, 600), 110, 110);
    painter.fillRect(0, 640, 1200, 260, QColor(30, 40, 70));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes.toStdString();
}

std::string MessagesDatabase() {
    const TempDir dir;
    const std::filesystem::path file = dir.Path() / "sms.db";
    (void)RunSql(file, "CREATE TABLE handle(ROWID INTEGER PRIMARY KEY, id TEXT, service TEXT);"
                       "INSERT INTO handle VALUES (1, '+15550100', 'iMessage'), (2, 'kim@example.com', 'iMessage');"
                       "CREATE TABLE message(ROWID INTEGER PRIMARY KEY, handle_id INTEGER, text TEXT, date INTEGER);"
                       "INSERT INTO message VALUES (1, 1, 'Running late, 10 minutes', 599990000),"
                       "(2, 2, 'Photos from Saturday attached', 599991200), (3, 1, 'See you there!', 599993400);");
    return ReadFile(file);
}

BackupRecord WriteBackups(const TempHome& home) {
    SampleBackup phone;
    phone.DisplayName = "Kim's iPhone";
    phone.Date = 600000000;
    phone.Files = {
        SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = MessagesDatabase()},
        File("HomeDomain", "Library/SMS/sms.db-wal", 41200),
        File("HomeDomain", "Library/SMS/prewarm.db", 512),
        File("MediaDomain", "Library/SMS/Attachments/0a/10/IMG_2041.HEIC", 1843200),
        File("HomeDomain", "Library/SMS/Drafts/draft.plist", 300),
        File("HomeDomain", "Library/Notes/notes.sqlite", 90112),
        File("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", 204800),
        SampleFile{
            .Domain = "CameraRollDomain", .RelativePath = "Media/DCIM/100APPLE/IMG_0001.JPG", .Content = PhotoBytes()},
        SampleFile{.RelativePath = "Library/Preferences/com.apple.springboard.plist",
                   .Content = MakeBinaryPlist({{"SBShowBatteryPercentage", true},
                                               {"SBAutoLockTime", 60},
                                               {"SBDefaultWallpaper", std::string("Sunset")}})},
    };
    const auto folder = WriteSampleBackup(home.AppDataBackupFolder() / "00008101-000A1B2C3D4E", phone);

    SampleBackup pad;
    pad.DisplayName = "Work iPad";
    pad.Date = 500000000;
    pad.ProductVersion = "10.3.1";
    pad.ProductName = "iPad Pro";
    pad.SerialNumber = "DMPQR1XYZ9AB";
    pad.Manifest = SampleManifest::Mbdb;
    WriteSampleBackup(home.ProfileBackupFolder() / "4f1e2d3c4b5a69788796a5b4c3d2e1f001234567", pad);

    BackupRecord record;
    if (!ReadBackupSummary(record, folder.string())) {
        std::fprintf(stderr, "the sample backup cannot be read\n");
    }
    record.FolderPath = folder.string() + "/";
    return record;
}

bool Save(QWidget& window, const std::filesystem::path& file) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        return false;
    }
    QTest::qWait(50);
    const bool saved = window.grab().save(QString::fromStdString(file.string()));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", file.c_str());
    return saved;
}

// The file manager's preview window showing one file of folder.
bool ShootPreview(const BackupRecord& backup, const std::string& folder, const QString& name,
                  const std::filesystem::path& file) {
    CDlgFileManager files(backup, nullptr);
    files.show();
    files.FillFileList(FindNode(CurrentRoot, folder));
    const QAbstractItemModel& list = *files.FileList()->model();
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.index(row, 0).data().toString() == name) {
            files.FileList()->setCurrentIndex(list.index(row, 0));
        }
    }
    files.PreviewButton()->click();
    CPreviewWindow& preview = *files.Preview();
    if (!QTest::qWaitFor([&] { return !preview.Pane()->Loading(); }, 5000)) {
        return false;
    }
    // A database shows its last table, the messages.
    if (auto* tables = preview.findChild<QComboBox*>(QStringLiteral("previewTables")); tables->isVisible()) {
        tables->setCurrentIndex(tables->count() - 1);
        (void)QTest::qWaitFor([&] { return !preview.Pane()->Loading(); }, 5000);
    }
    return Save(preview, file);
}

bool ShootProgress(const BackupRecord& backup, const std::filesystem::path& file) {
    TempDir target;
    CDlgProgress progress(nullptr);
    progress.SelectedNode = FindNode(CurrentRoot, "/var/mobile/Library/SMS");
    progress.BackupFolder = backup.FolderPath;
    progress.ManifestKind = backup.ManifestKind;
    progress.TargetFolder = target.Path().string() + "/";
    // Slowed down so that the picture catches the export half-way.
    progress.Copier = [](int source, int folder, const std::string& name, std::int64_t mtime) {
        QThread::msleep(300);
        return CopyWholeFile(source, folder, name, mtime);
    };
    progress.show();
    for (int i = 0; i < 300 && !progress.StatusText().contains(QStringLiteral("Finished: 3")); ++i) {
        QTest::qWait(10);
    }
    const bool saved = Save(progress, file);
    for (int i = 0; i < 500 && progress.isVisible(); ++i) {
        QTest::qWait(10);
    }
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::filesystem::path output = std::filesystem::absolute(argv[1]);
    std::filesystem::create_directories(output);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("marrowick"));
    bool saved = true;
    {
        const TempHome nothingYet("UTC");
        CMarrowickDlg main;
        saved &= Save(main, output / "first-run.png");
    }
    const TempHome home("UTC");
    const BackupRecord phone = WriteBackups(home);
    {
        CMarrowickDlg main;
        saved &= Save(main, output / "main-window.png");
    }
    {
        CDlgFileManager files(phone, nullptr);
        files.FolderTree()->selectionModel()->setCurrentIndex(files.ShortcutItem(0),
                                                              QItemSelectionModel::ClearAndSelect);
        saved &= Save(files, output / "file-manager.png");
    }
    {
        CDlgFileManager files(phone, nullptr);
        files.show();
        QSignalSpy finished(files.SearchBar()->Search(), &CEntrySearch::Finished);
        files.SearchBar()->Box()->setText(QStringLiteral("img"));
        finished.wait(5000);
        saved &= Save(files, output / "search.png");
    }
    saved &= ShootPreview(phone, "/var/mobile/Media/DCIM/100APPLE", "IMG_0001.JPG", output / "preview-image.png");
    saved &= ShootPreview(phone, "/var/mobile/Library/Preferences", "com.apple.springboard.plist",
                          output / "preview-plist.png");
    saved &= ShootPreview(phone, "/var/mobile/Library/SMS", "sms.db", output / "preview-database.png");
    saved &= ShootProgress(phone, output / "progress.png");
    {
        CAboutDlg about;
        saved &= Save(about, output / "about.png");
    }
    ClearBackupTreeCache();
    return saved ? 0 : 1;
}
