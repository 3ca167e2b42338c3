#include "gui/browser/EntryExports.h"

#include "core/export/PrivateExport.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Files.h"
#include "gui/browser/DlgProgress.h"
#include "gui/browser/DragExport.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/FolderPicker.h"
#include "gui/controls/LocalPath.h"

#include <QDesktopServices>
#include <QDrag>
#include <QUrl>

#include <utility>

namespace marrowick {

EntryExports::EntryExports(std::string backupFolder, ManifestKind manifestKind, QWidget& window)
    : backupFolder_(std::move(backupFolder)), manifestKind_(manifestKind), window_(window) {}

void EntryExports::ExportToChosenFolder(const FileNode* entry) {
    if (entry == nullptr) {
        ShowProgramMessage(&window_,
                           QStringLiteral("Please select the folder or file which you want to export at first."));
        return;
    }
    const QString target = BrowseForExportFolder(&window_, QString());
    if (target.isEmpty()) {
        return;
    }
    if (LiesWithin(target.toStdString(), backupFolder_)) {
        ShowProgramMessage(&window_, QString::fromUtf8(TargetInsideBackupText), QMessageBox::Warning);
        return;
    }
    TellFailures(ExportWithProgress(*entry, target.toStdString()));
}

void EntryExports::OpenWithDesktop(const FileNode& file) {
    const Result<std::string> folder = NewPrivateExportFolder();
    if (!folder) {
        ShowProgramMessage(&window_, QString::fromStdString(FailureText(folder.Error())), QMessageBox::Warning);
        return;
    }
    const ExportResult result = ExportWithProgress(file, *folder);
    TellFailures(result);
    if (result.Succeeded()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(LocalPathText(ExportedPath(*folder, file))));
    }
}

void EntryExports::DragOut(const FileNode& entry, QWidget& source, const QPixmap& picture) {
    auto* dragged = new CDragExportData(entry, backupFolder_, manifestKind_);
    QDrag drag(&source);
    drag.setMimeData(dragged);
    drag.setPixmap(picture);
    drag.exec(Qt::CopyAction);
    if (dragged->Exported()) {
        TellFailures(*dragged->Exported());
    }
}

ExportResult EntryExports::ExportWithProgress(const FileNode& entry, const std::string& targetFolder) {
    CDlgProgress progress(&window_);
    progress.BackupFolder = backupFolder_;
    progress.SelectedNode = &entry;
    progress.TargetFolder = targetFolder;
    progress.ManifestKind = manifestKind_;
    progress.exec();
    return progress.Result();
}

void EntryExports::TellFailures(const ExportResult& result) {
    // Nothing that failed passes for exported.
    const std::string summary = ExportFailureSummary(result);
    if (!summary.empty()) {
        ShowProgramMessage(&window_, QString::fromStdString(summary), QMessageBox::Warning);
    }
}

} // namespace marrowick
