#include "gui/browser/FileListModel.h"

#include <array>
#include <utility>
#include <vector>

namespace marrowick {
namespace {

constexpr std::array<const char*, FileListModel::ColumnCount> Headings{"Name", "Size", "Type", "Time"};

} // namespace

FileListModel::FileListModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind,
                             QObject* parent)
    : EntryRowsModel(std::move(icons), Headings, backupFolder, manifestKind, parent) {}

FileListModel::~FileListModel() = default;

void FileListModel::SetFolder(const FileNode* folder) {
    folder_ = folder;
    std::vector<const FileNode*> entries;
    if (folder != nullptr) {
        for (const FileNode* child = folder->FirstChild(); child != nullptr; child = child->NextSibling()) {
            entries.push_back(child);
        }
    }
    ResetRows(std::move(entries));
}

QString FileListModel::CellText(const FileNode& node, int column) const {
    switch (column) {
    case NameColumn:
        return QString::fromUtf8(node.Name());
    case SizeColumn:
        return EntrySizeText(node);
    case TypeColumn:
        return node.IsFolder() ? QStringLiteral("Folder") : node.IsLink() ? QStringLiteral("Link") : QString();
    case TimeColumn:
        return EntryTimeText(node);
    default:
        return {};
    }
}

} // namespace marrowick
