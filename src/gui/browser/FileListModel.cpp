#include "gui/browser/FileListModel.h"

#include "core/backup/EntryText.h"

#include <QPalette>
#include <QString>

#include <algorithm>
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

EntryMarks::EntryMarks(const std::string& backupFolder, ManifestKind manifestKind)
    : presence_(backupFolder, manifestKind) {}

void EntryMarks::Resize(std::size_t rows, std::size_t keepFirst) {
    presenceOfRow_.resize(std::min(keepFirst, presenceOfRow_.size()));
    presenceOfRow_.resize(rows, Presence::Unknown);
}

QVariant EntryMarks::Data(std::size_t row, const FileNode& node, int role) {
    switch (role) {
    case Qt::ForegroundRole:
        return ContentMissing(row, node) ? QPalette().brush(QPalette::Disabled, QPalette::Text) : QVariant();
    case Qt::ToolTipRole:
        if (node.IsLink()) {
            return QStringLiteral("A link to %1").arg(QString::fromUtf8(node.LinkTarget()));
        }
        return ContentMissing(row, node) ? QStringLiteral("The backup does not hold this file's content") : QVariant();
    default:
        return {};
    }
}

bool EntryMarks::ContentMissing(std::size_t row, const FileNode& node) {
    if (node.IsFolder() || node.IsLink() || row >= presenceOfRow_.size()) {
        return false;
    }
    Presence& presence = presenceOfRow_[row];
    if (presence == Presence::Unknown) {
        presence = presence_.Holds(node) ? Presence::Held : Presence::Missing;
    }
    return presence == Presence::Missing;
}

FileListModel::FileListModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind,
                             QObject* parent)
    : QAbstractTableModel(parent), icons_(std::move(icons)), marks_(backupFolder, manifestKind) {}

void FileListModel::SetFolder(const FileNode* folder) {
    beginResetModel();
    folder_ = folder;
    entries_.clear();
    if (folder != nullptr) {
        for (const FileNode* child = folder->FirstChild(); child != nullptr; child = child->NextSibling()) {
            entries_.push_back(child);
        }
    }
    marks_.Resize(entries_.size(), 0);
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
    const bool link = node->IsLink();
    switch (role) {
    case Qt::DecorationRole:
        if (index.column() != NameColumn) {
            return {};
        }
        return EntryIcon(icons_, *node);
    case Qt::ForegroundRole:
    case Qt::ToolTipRole:
        return marks_.Data(static_cast<std::size_t>(index.row()), *node, role);
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
