#include "gui/browser/DragExport.h"

#include "core/export/PrivateExport.h"
#include "gui/controls/LocalPath.h"

namespace marrowick {
namespace {

const QString UriList = QStringLiteral("text/uri-list");

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

void CDragExportData::Export() const {
    PrivateExportResult exported = ExportPrivately(entry_, backupFolder_, manifestKind_);
    exported_ = std::move(exported.Export);
    if (!exported.Path.empty()) {
        urls_.append(QUrl::fromLocalFile(LocalPathText(exported.Path)));
    }
}

CFileListView::~CFileListView() = default;

void CFileListView::startDrag(Qt::DropActions /*supportedActions*/) {
    Q_EMIT DragRequested();
}

} // namespace marrowick
