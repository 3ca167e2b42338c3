#pragma once

#include "core/backup/FileNode.h"
#include "gui/browser/EntryRowsModel.h"

#include <QAbstractItemModel>
#include <QString>

#include <memory>
#include <vector>

namespace marrowick {

// The folder tree of the file manager: the backup's top item with every folder of the backup below it, then
// "Common Catalog" with its shortcuts. A folder's items are made when a view first asks for them, so a backup
// of a million entries opens at once; what the view shows is the same as with every item made up front.
class FolderTreeModel final : public QAbstractItemModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderTreeModel)

public:
    enum class ItemKind { Top, Folder, Catalog, Shortcut };

    // root may be null (no folders); showBelowRoot false shows the root folder without its children.
    FolderTreeModel(QString backupName, const FileNode* root, bool showBelowRoot, FileManagerIcons icons,
                    QObject* parent);
    ~FolderTreeModel() override;

    [[nodiscard]] QModelIndex TopIndex() const;
    [[nodiscard]] QModelIndex CatalogIndex() const;
    [[nodiscard]] QModelIndex ShortcutIndex(int order) const;
    // The item of a folder node of the tree, its ancestors made on the way; invalid when there is none.
    [[nodiscard]] QModelIndex FolderIndex(const FileNode* folder) const;

    [[nodiscard]] ItemKind KindOf(const QModelIndex& index) const;
    // 0 to 6 for a shortcut item, else -1.
    [[nodiscard]] int ShortcutOrder(const QModelIndex& index) const;

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Item;

    [[nodiscard]] Item* ItemOf(const QModelIndex& index) const;
    [[nodiscard]] QModelIndex IndexOf(const Item* item) const;
    [[nodiscard]] const std::vector<std::unique_ptr<Item>>& ChildrenOf(Item& item) const;
    [[nodiscard]] bool HasFolderChildren(Item& item) const;

    QString backupName_;
    FileManagerIcons icons_;
    std::unique_ptr<Item> top_;
    std::unique_ptr<Item> catalog_;
};

} // namespace marrowick
