#include "gui/browser/FileListModel.h"

#include "core/backup/EntryText.h"

#include <QString>

#include <utility>

namespace marrowick {

FileManagerIcons LoadFileManagerIcons() {
    static constexpr std::array<const char*, 9> Names{
        ":/icons/file.svg",   ":/icons/folder.svg",   ":/icons/messages.svg",    ":/icons/wechat.svg", ":/icons/qq.svg",
        ":/icons/photos.svg", ":/icons/contacts.svg", ":/icons/callhistory.svg", ":/icons/notes.svg",
    };
    FileManagerIcons icons;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        icons[i] = QIcon(QString::fromLatin1(Names[i]));
    }
    return icons;
}

FileListModel::FileListModel(FileManagerIcons icons, QObject* parent)
    : QAbstractTableModel(parent), icons_(std::move(icons)) {}

void FileListModel::SetFolder(const FileNode* folder) {
    beginResetModel();
    folder_ = folder;
    entries_.clear();
    if (folder != nullptr) {
        for (const FileNode* child = folder->FirstChild(); child != nullptr; child = child->NextSibling()) {
            entries_.push_back(child);
        }
    }
    endResetModel();
}

const FileNode* FileListModel::EntryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= entries_.size()) {
        return nullptr;
    }
    return entries_[static_cast<std::size_t>(row)];
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    const FileNode* node = index.isValid() ? EntryAt(index.row()) : nullptr;
    if (node == nullptr) {
        return {};
    }
    const bool folder = node->IsFolder();
    if (role == Qt::DecorationRole && index.column() == NameColumn) {
        return icons_[folder ? FolderIcon : FileIcon];
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case NameColumn:
        return QString::fromUtf8(node->Name());
    case SizeColumn:
        return folder ? QString() : QString::fromStdString(SizeText(node->Size()));
    case TypeColumn:
        return folder ? QStringLiteral("Folder") : QString();
    case TimeColumn:
        return folder ? QString() : QString::fromStdString(TimeText(node->MTime()));
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case SizeColumn:
        return QStringLiteral("Size");
    case TypeColumn:
        return QStringLiteral("Type");
    case TimeColumn:
        return QStringLiteral("Time");
    default:
        return {};
    }
}

} // namespace marrowick
