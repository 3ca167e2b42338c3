#include "gui/browser/FolderTreeModel.h"

#include "gui/browser/CatalogShortcuts.h"

#include <utility>

namespace marrowick {

struct FolderTreeModel::Item {
    ItemKind Kind = ItemKind::Folder;
    Item* Parent = nullptr;
    int Row = 0;
    const FileNode* Node = nullptr; // the folder of a Folder item
    int Shortcut = -1;
    bool ChildrenMade = false;
    signed char HasFolders = -1; // unknown until asked; remembered so that a folder of many files is scanned once
    std::vector<std::unique_ptr<Item>> Children;
};

FolderTreeModel::FolderTreeModel(QString backupName, const FileNode* root, bool showBelowRoot, FileManagerIcons icons,
                                 QObject* parent)
    : QAbstractItemModel(parent), backupName_(std::move(backupName)), icons_(std::move(icons)),
      top_(std::make_unique<Item>()), catalog_(std::make_unique<Item>()) {
    top_->Kind = ItemKind::Top;
    top_->ChildrenMade = true;
    if (root != nullptr && root->IsFolder()) {
        auto rootItem = std::make_unique<Item>();
        rootItem->Parent = top_.get();
        rootItem->Node = root;
        rootItem->ChildrenMade = !showBelowRoot;
        top_->Children.push_back(std::move(rootItem));
    }
    catalog_->Kind = ItemKind::Catalog;
    catalog_->Row = 1;
    catalog_->ChildrenMade = true;
    for (int order = 0; order < static_cast<int>(CatalogShortcuts().size()); ++order) {
        auto shortcut = std::make_unique<Item>();
        shortcut->Kind = ItemKind::Shortcut;
        shortcut->Parent = catalog_.get();
        shortcut->Row = order;
        shortcut->Shortcut = order;
        shortcut->ChildrenMade = true;
        catalog_->Children.push_back(std::move(shortcut));
    }
}

FolderTreeModel::~FolderTreeModel() = default;

QModelIndex FolderTreeModel::TopIndex() const {
    return IndexOf(top_.get());
}

QModelIndex FolderTreeModel::CatalogIndex() const {
    return IndexOf(catalog_.get());
}

QModelIndex FolderTreeModel::ShortcutIndex(int order) const {
    if (order < 0 || static_cast<std::size_t>(order) >= catalog_->Children.size()) {
        return {};
    }
    return IndexOf(catalog_->Children[static_cast<std::size_t>(order)].get());
}

QModelIndex FolderTreeModel::FolderIndex(const FileNode* folder) const {
    if (folder == nullptr || top_->Children.empty()) {
        return {};
    }
    std::vector<const FileNode*> chain;
    for (const FileNode* node = folder; node != nullptr; node = node->Parent()) {
        chain.push_back(node);
    }
    Item* item = top_->Children.front().get();
    if (chain.back() != item->Node) {
        return {};
    }
    chain.pop_back();
    while (!chain.empty()) {
        const FileNode* wanted = chain.back();
        chain.pop_back();
        Item* next = nullptr;
        for (const auto& child : ChildrenOf(*item)) {
            if (child->Node == wanted) {
                next = child.get();
                break;
            }
        }
        if (next == nullptr) {
            return {};
        }
        item = next;
    }
    return IndexOf(item);
}

FolderTreeModel::ItemKind FolderTreeModel::KindOf(const QModelIndex& index) const {
    const Item* item = ItemOf(index);
    return item != nullptr ? item->Kind : ItemKind::Top;
}

int FolderTreeModel::ShortcutOrder(const QModelIndex& index) const {
    const Item* item = ItemOf(index);
    return item != nullptr ? item->Shortcut : -1;
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) {
        return {};
    }
    if (!parent.isValid()) {
        return row == 0 ? IndexOf(top_.get()) : row == 1 ? IndexOf(catalog_.get()) : QModelIndex();
    }
    Item* item = ItemOf(parent);
    if (item == nullptr || parent.column() != 0) {
        return {};
    }
    const auto& children = ChildrenOf(*item);
    if (static_cast<std::size_t>(row) >= children.size()) {
        return {};
    }
    return createIndex(row, 0, children[static_cast<std::size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
    const Item* item = ItemOf(child);
    return item != nullptr ? IndexOf(item->Parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return 2;
    }
    Item* item = ItemOf(parent);
    if (item == nullptr || parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(ChildrenOf(*item).size());
}

int FolderTreeModel::columnCount(const QModelIndex& /*parent*/) const {
    return 1;
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return true;
    }
    Item* item = ItemOf(parent);
    if (item == nullptr || parent.column() != 0) {
        return false;
    }
    return item->ChildrenMade ? !item->Children.empty() : HasFolderChildren(*item);
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
    const Item* item = ItemOf(index);
    if (item == nullptr) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        switch (item->Kind) {
        case ItemKind::Top:
            return backupName_;
        case ItemKind::Folder:
            return QString::fromUtf8(item->Node->Name());
        case ItemKind::Catalog:
            return QString::fromUtf8(CatalogLabel);
        case ItemKind::Shortcut:
            return QString::fromUtf8(CatalogShortcuts()[static_cast<std::size_t>(item->Shortcut)].Label);
        }
    }
    if (role == Qt::DecorationRole) {
        switch (item->Kind) {
        case ItemKind::Top:
        case ItemKind::Folder:
            return icons_[FolderIcon];
        case ItemKind::Catalog:
            return icons_[FileIcon];
        case ItemKind::Shortcut:
            return icons_[static_cast<std::size_t>(
                CatalogShortcuts()[static_cast<std::size_t>(item->Shortcut)].ImageIndex)];
        }
    }
    return {};
}

FolderTreeModel::Item* FolderTreeModel::ItemOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    return static_cast<Item*>(index.internalPointer());
}

QModelIndex FolderTreeModel::IndexOf(const Item* item) const {
    if (item == nullptr) {
        return {};
    }
    return createIndex(item->Row, 0, const_cast<Item*>(item));
}

const std::vector<std::unique_ptr<FolderTreeModel::Item>>& FolderTreeModel::ChildrenOf(Item& item) const {
    if (!item.ChildrenMade) {
        item.ChildrenMade = true;
        for (const FileNode* child = item.Node->FirstChild(); child != nullptr; child = child->NextSibling()) {
            if (child->IsFolder()) {
                auto made = std::make_unique<Item>();
                made->Parent = &item;
                made->Row = static_cast<int>(item.Children.size());
                made->Node = child;
                item.Children.push_back(std::move(made));
            }
        }
    }
    return item.Children;
}

bool FolderTreeModel::HasFolderChildren(Item& item) const {
    if (item.HasFolders < 0) {
        item.HasFolders = 0;
        for (const FileNode* child = item.Node->FirstChild(); child != nullptr; child = child->NextSibling()) {
            if (child->IsFolder()) {
                item.HasFolders = 1;
                break;
            }
        }
    }
    return item.HasFolders != 0;
}

} // namespace marrowick
