#include "gui/browser/SearchResultsModel.h"

#include <array>
#include <utility>

namespace marrowick {
namespace {

constexpr std::array<const char*, SearchResultsModel::ColumnCount> Headings{"Name", "Folder", "Size", "Time"};

} // namespace

SearchResultsModel::SearchResultsModel(FileManagerIcons icons, const std::string& backupFolder,
                                       ManifestKind manifestKind, QObject* parent)
    : EntryRowsModel(std::move(icons), Headings, backupFolder, manifestKind, parent) {}

SearchResultsModel::~SearchResultsModel() = default;

void SearchResultsModel::Append(std::span<const FileNode* const> entries) {
    AppendRows(entries);
}

void SearchResultsModel::Clear() {
    if (!Empty()) {
        ResetRows({});
    }
}

QString SearchResultsModel::CellText(const FileNode& node, int column) const {
    switch (column) {
    case NameColumn:
        return QString::fromUtf8(node.Name());
    case FolderColumn:
        return node.Parent() != nullptr ? QString::fromUtf8(node.Parent()->Path()) : QString();
    case SizeColumn:
        return EntrySizeText(node);
    case TimeColumn:
        return EntryTimeText(node);
    default:
        return {};
    }
}

} // namespace marrowick
