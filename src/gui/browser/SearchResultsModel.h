#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "gui/browser/EntryRowsModel.h"

#include <span>
#include <string>

namespace marrowick {

// The entries a search found, in the order they came: each with its name and picture, the device path of its
// folder, and the file list's size and time texts. The nodes' tree must outlive the rows (Clear first).
class SearchResultsModel final : public EntryRowsModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchResultsModel)

public:
    enum Column { NameColumn, FolderColumn, SizeColumn, TimeColumn, ColumnCount };

    // backupFolder (ending with "/") holds the stored files of the entries found.
    SearchResultsModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind,
                       QObject* parent);
    ~SearchResultsModel() override;

    // Adds rows after the last one.
    void Append(std::span<const FileNode* const> entries);
    void Clear();

private:
    [[nodiscard]] QString CellText(const FileNode& node, int column) const override;
};

} // namespace marrowick
