#pragma once

#include "core/backup/ContentPresence.h"
#include "core/backup/FileNode.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace marrowick {

// The pictures shared by the folder tree and the file list; the index of each is fixed.
inline constexpr int FileIcon = 0;
inline constexpr int FolderIcon = 1;
inline constexpr int LinkIcon = 9;
using FileManagerIcons = std::array<QIcon, 10>;
[[nodiscard]] FileManagerIcons LoadFileManagerIcons();

// What the lists show of a node: its picture (folder, link or file), and its size and time texts, which are empty
// for folders (and a link's size).
[[nodiscard]] const QIcon& EntryIcon(const FileManagerIcons& icons, const FileNode& node);
[[nodiscard]] QString EntrySizeText(const FileNode& node);
[[nodiscard]] QString EntryTimeText(const FileNode& node);
// The headings of a list's columns, for headerData: headings[section] across, nothing else.
[[nodiscard]] QVariant ListHeading(std::span<const char* const> headings, int section, Qt::Orientation orientation,
                                   int role);
// A list row's flags: a row can be dragged out, which exports it.
[[nodiscard]] Qt::ItemFlags DraggableRowFlags(Qt::ItemFlags flags, const QModelIndex& index);

// How a list's rows tell what the backup lacks: a file whose content the backup does not hold is greyed, with a
// tip that says so, and a link's tip names its target. Whether a file is held is looked up when its row is first
// drawn, so that a large list's rows out of sight cost nothing.
class EntryMarks final {
public:
    // backupFolder (ending with "/") holds the stored files of the entries shown.
    EntryMarks(const std::string& backupFolder, ManifestKind manifestKind);

    // The list now has rows rows; keepFirst of them show the entries they showed before.
    void Resize(std::size_t rows, std::size_t keepFirst);
    // Qt::ForegroundRole and Qt::ToolTipRole data of row, which shows node; nothing for other roles.
    [[nodiscard]] QVariant Data(std::size_t row, const FileNode& node, int role);

private:
    enum class Presence : std::uint8_t { Unknown, Held, Missing };
    [[nodiscard]] bool ContentMissing(std::size_t row, const FileNode& node);

    ContentPresence presence_;
    std::vector<Presence> presenceOfRow_;
};

// The entries of one folder: row i is the folder's i-th child, in the tree's order; nothing sorts them. The rows
// are marked as EntryMarks says.
class FileListModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileListModel)

public:
    enum Column { NameColumn, SizeColumn, TypeColumn, TimeColumn, ColumnCount };

    // backupFolder (ending with "/") holds the stored files of the entries shown.
    FileListModel(FileManagerIcons icons, const std::string& backupFolder, ManifestKind manifestKind, QObject* parent);

    // Shows folder's children; null shows nothing.
    void SetFolder(const FileNode* folder);
    [[nodiscard]] const FileNode* Folder() const { return folder_; }
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
    const FileNode* folder_ = nullptr;
    // Rows reach their node in constant time; walking the sibling list per row would be quadratic.
    std::vector<const FileNode*> entries_;
    mutable EntryMarks marks_;
};

} // namespace marrowick
