#include "gui/browser/DragExport.h"

#include "core/platform/PrivateFolder.h"

#include <QFile>

#include <cstdlib>
#include <filesystem>

namespace marrowick {
namespace {

const QString UriList = QStringLiteral("text/uri-list");

// Shared by every drag of the run: a drop target may copy its files after the drag has ended.
PrivateFolder& DragFolder() {
    static PrivateFolder folder("marrowick-drag");
    return folder;
}

} // namespace

CDragExportData::CDragExportData(const FileNode& entry, std::string backupFolder, ManifestKind manifestKind)
    : entry_(entry), backupFolder_(std::move(backupFolder)), manifestKind_(manifestKind) {}

CDragExportData::~CDragExportData() = default;

QStringList CDragExportData::formats() const {
    return {UriList};
}

bool CDragExportData::hasFormat(const QString& mimeType) const {
    return mimeType == UriList;
}

QVariant CDragExportData::retrieveData(const QString& mimeType, QMetaType /*type*/) const {
    if (mimeType != UriList) {
        return {};
    }
    if (!exported_) {
        Export();
    }
    QVariantList urls;
    for (const QUrl& url : urls_) {
        urls.append(url);
    }
    return urls;
}

// Each drag into a folder of its own, so that two drags of entries with the same name do not meet.
void CDragExportData::Export() const {
    exported_.emplace();
    if (const Result<void> made = DragFolder().Make(); !made) {
        exported_->Stopped = made.Error();
        return;
    }
    std::string folder = DragFolder().Path() + "drop-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        exported_->Stopped = Failure::System(FailureStep::Create, DragFolder().Path(), errno);
        return;
    }
    ExportParameters parameters;
    parameters.SelectedNode = &entry_;
    parameters.BackupFolder = backupFolder_;
    parameters.ManifestKind = manifestKind_;
    parameters.TargetFolder = folder;
    ExportCancelled = 0;
    *exported_ = RunExport(parameters);
    const std::string exported = folder + "/" + std::string(entry_.Name());
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(exported, error))) {
        urls_.append(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(exported))));
    }
}

CFileListView::~CFileListView() = default;

void CFileListView::startDrag(Qt::DropActions /*supportedActions*/) {
    Q_EMIT DragRequested();
}

} // namespace marrowick
