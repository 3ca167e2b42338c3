#pragma once

#include "core/backup/FileNode.h"
#include "gui/browser/FileListModel.h"

#include <QAbstractTableModel>

#include <span>
#include <string>
#include <vector>

namespace marrowick {

// The entries a search found, in the order they came: each with its name and picture, the device path of its
// folder, and the file list's size and time texts, marked as EntryMarks says. The nodes' tree must outlive the rows
// (Clear first).
class SearchResultsModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchResultsModel)

public:
    enum Column { NameColumn, FolderColumn, SizeColumn, TimeColumn, ColumnCount };

    // backupFolder (ending with "/") holds the stored files of the entries found.
    SearchResultsModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind,
                       QObject* parent);

    // Adds rows after the last one.
    void Append(std::span<const FileNode* const> entries);
    void Clear();
    // The node of a row, or null when there is no such row.
    [[nodiscard]] const FileNode* EntryAt(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;
    // Rows can be dragged out, which exports them.
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    FileManagerIcons icons_;
    std::vector<const FileNode*> entries_;
    mutable EntryMarks marks_;
};

} // namespace marrowick
