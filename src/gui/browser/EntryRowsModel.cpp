#include "gui/browser/EntryRowsModel.h"

#include "core/backup/EntryText.h"

#include <QPalette>

#include <algorithm>
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

EntryRowsModel::EntryRowsModel(FileManagerIcons icons, std::span<const char* const> headings,
                               const std::string& backupFolder, ManifestKind manifestKind, QObject* parent)
    : QAbstractTableModel(parent), icons_(std::move(icons)), headings_(headings), marks_(backupFolder, manifestKind) {}

EntryRowsModel::~EntryRowsModel() = default;

const FileNode* EntryRowsModel::EntryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= entries_.size()) {
        return nullptr;
    }
    return entries_[static_cast<std::size_t>(row)];
}

void EntryRowsModel::ResetRows(std::vector<const FileNode*> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    marks_.Resize(entries_.size(), 0);
    endResetModel();
}

void EntryRowsModel::AppendRows(std::span<const FileNode* const> entries) {
    if (entries.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
    entries_.insert(entries_.end(), entries.begin(), entries.end());
    marks_.Resize(entries_.size(), entries_.size());
    endInsertRows();
}

int EntryRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int EntryRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
}

QVariant EntryRowsModel::data(const QModelIndex& index, int role) const {
    const FileNode* node = index.isValid() ? EntryAt(index.row()) : nullptr;
    if (node == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(EntryIcon(icons_, *node)) : QVariant();
    case Qt::ForegroundRole:
    case Qt::ToolTipRole:
        return marks_.Data(static_cast<std::size_t>(index.row()), *node, role);
    case Qt::DisplayRole:
        return CellText(*node, index.column());
    default:
        return {};
    }
}

QVariant EntryRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        static_cast<std::size_t>(section) >= headings_.size()) {
        return {};
    }
    return QString::fromLatin1(headings_[static_cast<std::size_t>(section)]);
}

Qt::ItemFlags EntryRowsModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled : flags;
}

} // namespace marrowick
