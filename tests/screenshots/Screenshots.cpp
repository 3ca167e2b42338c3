// Renders the windows with sample backups to PNG files, offscreen: `make screenshots` writes docs/screenshots.
#include "core/backup/BackupTreeCache.h"
#include "core/platform/FileCopy.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/MarrowickDlg.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/DlgProgress.h"
#include "gui/browser/EntrySearch.h"
#include "gui/browser/SearchBar.h"
#include "support/SampleBackup.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
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

BackupRecord WriteBackups(const TempHome& home) {
    SampleBackup phone;
    phone.DisplayName = "Kim's iPhone";
    phone.Date = 600000000;
    phone.Files = {
        File("HomeDomain", "Library/SMS/sms.db", 3211264),
        File("HomeDomain", "Library/SMS/sms.db-wal", 41200),
        File("HomeDomain", "Library/SMS/prewarm.db", 512),
        File("MediaDomain", "Library/SMS/Attachments/0a/10/IMG_2041.HEIC", 1843200),
        File("HomeDomain", "Library/SMS/Drafts/draft.plist", 300),
        File("HomeDomain", "Library/Notes/notes.sqlite", 90112),
        File("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", 204800),
        File("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", 2400000),
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
    saved &= ShootProgress(phone, output / "progress.png");
    {
        CAboutDlg about;
        saved &= Save(about, output / "about.png");
    }
    ClearBackupTreeCache();
    return saved ? 0 : 1;
}
