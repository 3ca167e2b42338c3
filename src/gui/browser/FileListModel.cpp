#include "gui/browser/FileListModel.h"

#include "core/backup/EntryText.h"

#include <QPalette>
#include <QString>

#include <array>
#include <utility>

namespace marrowick {

FileManagerIcons LoadFileManagerIcons() {
    static constexpr std::array<const char*, 10> Names{
        ":/icons/file.svg",  ":/icons/folder.svg", ":/icons/messages.svg", ":/icons/wechat.svg",
        ":/icons/qq.svg",    ":/icons/photos.svg", ":/icons/contacts.svg", ":/icons/callhistory.svg",
        ":/icons/notes.svg", ":/icons/link.svg",
    };
    FileManagerIcons icons;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        icons[i] = QIcon(QString::fromLatin1(Names[i]));
    }
    return icons;
}

const QIcon& EntryIcon(const FileManagerIcons& icons, const FileNode& node) {
    return icons[node.IsFolder() ? FolderIcon : node.IsLink() ? LinkIcon : FileIcon];
}

QString EntrySizeText(const FileNode& node) {
    return node.IsFolder() || node.IsLink() ? QString() : QString::fromStdString(SizeText(node.Size()));
}

QString EntryTimeText(const FileNode& node) {
    return node.IsFolder() ? QString() : QString::fromStdString(TimeText(node.MTime()));
}

FileListModel::FileListModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind,
                             QObject* parent)
    : QAbstractTableModel(parent), icons_(std::move(icons)), presence_(backupFolder, manifestKind) {}

void FileListModel::SetFolder(const FileNode* folder) {
    beginResetModel();
    folder_ = folder;
    entries_.clear();
    if (folder != nullptr) {
        for (const FileNode* child = folder->FirstChild(); child != nullptr; child = child->NextSibling()) {
            entries_.push_back(child);
        }
    }
    presenceOfRow_.assign(entries_.size(), Presence::Unknown);
    endResetModel();
}

const FileNode* FileListModel::EntryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= entries_.size()) {
        return nullptr;
    }
    return entries_[static_cast<std::size_t>(row)];
}

bool FileListModel::ContentMissing(int row) const {
    const FileNode* node = EntryAt(row);
    if (node == nullptr || node->IsFolder() || node->IsLink()) {
        return false;
    }
    Presence& presence = presenceOfRow_[static_cast<std::size_t>(row)];
    if (presence == Presence::Unknown) {
        presence = presence_.Holds(*node) ? Presence::Held : Presence::Missing;
    }
    return presence == Presence::Missing;
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
    const bool link = node->IsLink();
    switch (role) {
    case Qt::DecorationRole:
        if (index.column() != NameColumn) {
            return {};
        }
        return EntryIcon(icons_, *node);
    case Qt::ForegroundRole:
        return ContentMissing(index.row()) ? QPalette().brush(QPalette::Disabled, QPalette::Text) : QVariant();
    case Qt::ToolTipRole:
        if (link) {
            return QStringLiteral("A link to %1").arg(QString::fromUtf8(node->LinkTarget()));
        }
        return ContentMissing(index.row()) ? QStringLiteral("The backup does not hold this file's content")
                                           : QVariant();
    case Qt::DisplayRole:
        break;
    default:
        return {};
    }
    switch (index.column()) {
    case NameColumn:
        return QString::fromUtf8(node->Name());
    case SizeColumn:
        return EntrySizeText(*node);
    case TypeColumn:
        return folder ? QStringLiteral("Folder") : link ? QStringLiteral("Link") : QString();
    case TimeColumn:
        return EntryTimeText(*node);
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static constexpr std::array<const char*, ColumnCount> Headings{"Name", "Size", "Type", "Time"};
    return ListHeading(Headings, section, orientation, role);
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    return DraggableRowFlags(QAbstractTableModel::flags(index), index);
}

QVariant ListHeading(std::span<const char* const> headings, int section, Qt::Orientation orientation, int role) {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        static_cast<std::size_t>(section) >= headings.size()) {
        return {};
    }
    return QString::fromLatin1(headings[static_cast<std::size_t>(section)]);
}

Qt::ItemFlags DraggableRowFlags(Qt::ItemFlags flags, const QModelIndex& index) {
    return index.isValid() ? flags | Qt::ItemIsDragEnabled : flags;
}

} // namespace marrowick
