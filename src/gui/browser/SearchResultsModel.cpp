#include "gui/browser/SearchResultsModel.h"

#include <QString>

#include <array>
#include <utility>

namespace marrowick {

SearchResultsModel::SearchResultsModel(FileManagerIcons icons, const std::string& backupFolder,
                                       ManifestKind manifestKind, QObject* parent)
    : QAbstractTableModel(parent), icons_(std::move(icons)), marks_(backupFolder, manifestKind) {}

void SearchResultsModel::Append(std::span<const FileNode* const> entries) {
    if (entries.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
    entries_.insert(entries_.end(), entries.begin(), entries.end());
    marks_.Resize(entries_.size(), entries_.size());
    endInsertRows();
}

void SearchResultsModel::Clear() {
    if (entries_.empty()) {
        return;
    }
    beginResetModel();
    entries_.clear();
    marks_.Resize(0, 0);
    endResetModel();
}

const FileNode* SearchResultsModel::EntryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= entries_.size()) {
        return nullptr;
    }
    return entries_[static_cast<std::size_t>(row)];
}

int SearchResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int SearchResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const {
    const FileNode* node = index.isValid() ? EntryAt(index.row()) : nullptr;
    if (node == nullptr) {
        return {};
    }
    if (role == Qt::DecorationRole) {
        return index.column() == NameColumn ? QVariant(EntryIcon(icons_, *node)) : QVariant();
    }
    if (role == Qt::ForegroundRole || role == Qt::ToolTipRole) {
        return marks_.Data(static_cast<std::size_t>(index.row()), *node, role);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case NameColumn:
        return QString::fromUtf8(node->Name());
    case FolderColumn:
        return node->Parent() != nullptr ? QString::fromUtf8(node->Parent()->Path()) : QString();
    case SizeColumn:
        return EntrySizeText(*node);
    case TimeColumn:
        return EntryTimeText(*node);
    default:
        return {};
    }
}

QVariant SearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static constexpr std::array<const char*, ColumnCount> Headings{"Name", "Folder", "Size", "Time"};
    return ListHeading(Headings, section, orientation, role);
}

Qt::ItemFlags SearchResultsModel::flags(const QModelIndex& index) const {
    return DraggableRowFlags(QAbstractTableModel::flags(index), index);
}

} // namespace marrowick
