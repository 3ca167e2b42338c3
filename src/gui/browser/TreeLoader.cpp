#include "gui/browser/TreeLoader.h"

#include "core/platform/Files.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QTimer>

#include <exception>
#include <memory>
#include <string>
#include <thread>

namespace marrowick {
namespace {

// Reading faster than this shows no busy box at all.
constexpr int BusyBoxDelayMs = 400;

CachedBackupTree ReadOffTheWindowThread(const BackupRecord& backup, const std::string& folder, QWidget* parent) {
    QProgressDialog busy(QStringLiteral("Reading the file list of %1...").arg(QString::fromStdString(backup.Name)),
                         QString(), 0, 0, parent);
    busy.setWindowTitle(QStringLiteral("Marrowick"));
    busy.setWindowModality(Qt::ApplicationModal);
    busy.setCancelButton(nullptr);
    busy.setMinimumDuration(0);
    busy.reset();
    QTimer::singleShot(BusyBoxDelayMs, &busy, &QProgressDialog::show);

    CachedBackupTree read;
    QEventLoop loop;
    std::thread worker([&read, &loop, &folder, kind = backup.ManifestKind] {
        // Nothing may leave the thread: an exception there would end the program.
        try {
            read = ReadBackupTree(folder, kind);
        } catch (const std::exception& error) {
            read.Status = TreeStatus::Unreadable;
            read.Problem = Failure::Because(FailureStep::Read, {}, FailureCause::Exception);
            read.Problem->Detail = error.what();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return read;
}

} // namespace

BackupTreeResult OpenBackupTreeResponsive(const BackupRecord& backup, QWidget* parent) {
    const std::string folder = WithTrailingSlash(backup.FolderPath);
    if (BackupTreeCache.find(folder) == BackupTreeCache.end()) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        CachedBackupTree read = ReadOffTheWindowThread(backup, folder, parent);
        QGuiApplication::restoreOverrideCursor();
        if (!read.Tree) {
            read.Tree = std::make_unique<BackupTree>(folder, backup.ManifestKind);
        }
        BackupTreeCache.emplace(folder, std::move(read));
    }
    return OpenBackupTree(folder, backup.ManifestKind);
}

} // namespace marrowick
