#pragma once

#include "core/backup/ContentPresence.h"
#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace marrowick {

// The pictures shared by the folder tree and the lists; the index of each is fixed.
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

// A list of a backup's entries, one a row, under the headings a subclass gives: the first column shows the entry's
// picture, the rows are marked as EntryMarks says, and a row can be dragged out, which exports it.
class EntryRowsModel : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EntryRowsModel)

public:
    ~EntryRowsModel() override;

    // The node of a row, or null when there is no such row.
    [[nodiscard]] const FileNode* EntryAt(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const final;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const final;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const final;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const final;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const final;

protected:
    // headings outlive the model; backupFolder (ending with "/") holds the stored files of the entries shown.
    EntryRowsModel(FileManagerIcons icons, std::span<const char* const> headings, const std::string& backupFolder,
                   ManifestKind manifestKind, QObject* parent);

    // What node's row shows in column.
    [[nodiscard]] virtual QString CellText(const FileNode& node, int column) const = 0;

    // The rows become entries.
    void ResetRows(std::vector<const FileNode*> entries);
    // entries follow the last row.
    void AppendRows(std::span<const FileNode* const> entries);
    [[nodiscard]] bool Empty() const { return entries_.empty(); }

private:
    FileManagerIcons icons_;
    std::span<const char* const> headings_;
    // Rows reach their node in constant time.
    std::vector<const FileNode*> entries_;
    mutable EntryMarks marks_;
};

} // namespace marrowick
