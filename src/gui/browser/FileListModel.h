#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "gui/browser/EntryRowsModel.h"

#include <string>

namespace marrowick {

// The entries of one folder: row i is the folder's i-th child, in the tree's order; nothing sorts them.
class FileListModel final : public EntryRowsModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileListModel)

public:
    enum Column { NameColumn, SizeColumn, TypeColumn, TimeColumn, ColumnCount };

    // backupFolder (ending with "/") holds the stored files of the entries shown.
    FileListModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind, QObject* parent);
    ~FileListModel() override;

    // Shows folder's children; null shows nothing.
    void SetFolder(const FileNode* folder);
    [[nodiscard]] const FileNode* Folder() const { return folder_; }

private:
    [[nodiscard]] QString CellText(const FileNode& node, int column) const override;

    const FileNode* folder_ = nullptr;
};

} // namespace marrowick
