#include "gui/browser/DlgFileManager.h"

#include "gui/browser/CatalogShortcuts.h"
#include "gui/browser/DragExport.h"
#include "gui/browser/EntryExports.h"
#include "gui/browser/EntrySearch.h"
#include "gui/browser/FileListModel.h"
#include "gui/browser/FolderTreeModel.h"
#include "gui/browser/SearchBar.h"
#include "gui/browser/SearchResultsModel.h"
#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/EnterEscape.h"
#include "gui/controls/ImageButton.h"
#include "gui/preview/PreviewPane.h"
#include "gui/preview/PreviewWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QTreeView>
#include <QVBoxLayout>

#include <array>
#include <numeric>
#include <string>

namespace marrowick {

namespace {

constexpr std::array<int, FileListModel::ColumnCount> ListColumnWidths{250, 90, 115, 125};
constexpr std::array<int, SearchResultsModel::ColumnCount> ResultColumnWidths{150, 230, 80, 115};

} // namespace

CDlgFileManager::CDlgFileManager(const BackupRecord& backup, const BackupTreeResult& tree, QWidget* parent)
    : QDialog(parent, MinimizableDialogFlags), backupName_(QString::fromStdString(backup.Name)),
      backupFolder_(backup.FolderPath), manifestKind_(backup.ManifestKind),
      exports_(backup.FolderPath, backup.ManifestKind, *this) {
    setWindowTitle(backupName_ + QStringLiteral(" - Marrowick"));

    root_ = tree.Root;
    status_ = tree.Status;
    statusReason_ = QString::fromStdString(TreeProblemText(tree.Status, tree.Problem));
    // The files of an encrypted backup cannot be read, so none are offered.
    browsable_ = status_ != TreeStatus::Encrypted;

    BuildWindow();
    currentFolder_ = root_;
    FillFileList(browsable_ ? root_ : nullptr);
    pathBox_->setText(QStringLiteral("/var/"));
}

CDlgFileManager::CDlgFileManager(const BackupRecord& backup, QWidget* parent)
    : CDlgFileManager(backup, OpenBackupTree(backup.FolderPath, backup.ManifestKind), parent) {}

CDlgFileManager::~CDlgFileManager() = default;

void CDlgFileManager::BuildWindow() {
    const FileManagerIcons icons = LoadFileManagerIcons();

    pathBox_ = new QLineEdit(this);
    pathBox_->setReadOnly(true);

    upButton_ = new CThemedButton(QStringLiteral("Up"), QStringLiteral(":/icons/up.svg"), &themeHelper_, this);
    upButton_->UseToolbarLook(true);
    upButton_->setAutoDefault(false);
    exportButton_ =
        new CThemedButton(QStringLiteral("Export"), QStringLiteral(":/icons/export.svg"), &themeHelper_, this);
    exportButton_->UseToolbarLook(true);
    exportButton_->setAutoDefault(false);
    previewButton_ =
        new CThemedButton(QStringLiteral("Preview"), QStringLiteral(":/icons/preview.svg"), &themeHelper_, this);
    previewButton_->UseToolbarLook(true);
    previewButton_->setAutoDefault(false);
    preview_ = new CPreviewWindow(this);

    folderModel_ = new FolderTreeModel(backupName_, root_, browsable_, icons, this);
    folderTree_ = new QTreeView(this);
    folderTree_->setHeaderHidden(true);
    folderTree_->setUniformRowHeights(true);
    folderTree_->setSelectionMode(QAbstractItemView::SingleSelection);
    folderTree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderTree_->setModel(folderModel_);
    folderTree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    folderTree_->header()->setStretchLastSection(false);
    folderTree_->expand(folderModel_->TopIndex());
    folderTree_->expand(folderModel_->CatalogIndex());

    listModel_ = new FileListModel(icons, backupFolder_, manifestKind_, this);
    searchBar_ = new CSearchBar(browsable_ ? root_ : nullptr,
                                new SearchResultsModel(icons, backupFolder_, manifestKind_, this), this);
    fileList_ = new CFileListView(this);
    fileList_->setRootIsDecorated(false);
    fileList_->setItemsExpandable(false);
    fileList_->setExpandsOnDoubleClick(false);
    fileList_->setUniformRowHeights(true);
    fileList_->setAllColumnsShowFocus(true);
    fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList_->setSortingEnabled(false);
    fileList_->setDragEnabled(true);
    fileList_->setDragDropMode(QAbstractItemView::DragOnly);
    fileList_->setModel(listModel_);
    QHeaderView* header = fileList_->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < FileListModel::ColumnCount; ++column) {
        header->resizeSection(column, ListColumnWidths[static_cast<std::size_t>(column)]);
    }

    // Proportions of the original 477 x 282 dialog-unit window.
    folderTree_->setFixedWidth(DialogUnitsX(*this, 111));
    upButton_->setMinimumSize(DialogUnits(*this, 47, 15));
    exportButton_->setMinimumSize(DialogUnits(*this, 47, 15));
    previewButton_->setMinimumSize(DialogUnits(*this, 47, 15));
    fileList_->setMinimumWidth(
        std::max(DialogUnitsX(*this, 348), std::accumulate(ListColumnWidths.begin(), ListColumnWidths.end(), 0) + 4));

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(DialogUnitsX(*this, 2));
    buttons->addWidget(upButton_);
    buttons->addWidget(exportButton_);
    buttons->addWidget(previewButton_);
    buttons->addSpacing(DialogUnitsX(*this, 8));
    buttons->addWidget(searchBar_, 1);
    auto* right = new QVBoxLayout;
    right->addLayout(buttons);
    right->addWidget(fileList_, 1);
    auto* body = new QHBoxLayout;
    body->setSpacing(DialogUnitsX(*this, 4));
    body->addWidget(folderTree_);
    body->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->setSpacing(DialogUnitsY(*this, 4));
    layout->addWidget(pathBox_);
    layout->addLayout(body, 1);
    setFixedSize(DialogUnits(*this, 477, 282).expandedTo(layout->sizeHint()));

    connect(folderTree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CDlgFileManager::OnTreeSelChanged);
    connect(fileList_, &QAbstractItemView::doubleClicked, this, &CDlgFileManager::OnListDblClk);
    connect(upButton_, &QPushButton::clicked, this, &CDlgFileManager::OnUpClicked);
    connect(exportButton_, &QPushButton::clicked, this, &CDlgFileManager::OnExportClicked);
    connect(fileList_, &CFileListView::DragRequested, this, &CDlgFileManager::DragSelectedEntryOut);
    connect(previewButton_, &QPushButton::clicked, this, &CDlgFileManager::TogglePreview);
    connect(new QShortcut(QKeySequence(Qt::Key_Space), this), &QShortcut::activated, this,
            &CDlgFileManager::TogglePreview);
    connect(preview_->OpenWithButton(), &QPushButton::clicked, this, &CDlgFileManager::OpenSelectedEntry);
    WatchSelection();
    connect(searchBar_, &CSearchBar::ShowResults, this, [this] { ShowListOf(searchBar_->Results()); });
    connect(searchBar_, &CSearchBar::Left, this, [this] { ShowListOf(listModel_); });
    fileList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(fileList_, &QWidget::customContextMenuRequested, this, &CDlgFileManager::ShowEntryMenu);
    // A file manager's keys for the folder above; text boxes keep Backspace for themselves.
    for (const QKeySequence& keys : {QKeySequence(Qt::ALT | Qt::Key_Up), QKeySequence(Qt::Key_Backspace)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &CDlgFileManager::OnUpClicked);
    }
    SwallowEnterAndEscape(*this);
}

QString CDlgFileManager::PathText() const {
    return pathBox_->text();
}

QModelIndex CDlgFileManager::TopItem() const {
    return folderModel_->TopIndex();
}

QModelIndex CDlgFileManager::CatalogItem() const {
    return folderModel_->CatalogIndex();
}

QModelIndex CDlgFileManager::ShortcutItem(int order) const {
    return folderModel_->ShortcutIndex(order);
}

QModelIndex CDlgFileManager::FolderItem(const FileNode* folder) const {
    return folderModel_->FolderIndex(folder);
}

void CDlgFileManager::FillFileList(const FileNode* folder) {
    searchBar_->Leave();
    ShowListOf(listModel_);
    listModel_->SetFolder(folder);
    fileList_->scrollToTop();
}

// The list shows a folder's entries or the search's matches, each with its columns' widths.
void CDlgFileManager::ShowListOf(QAbstractItemModel* model) {
    if (fileList_->model() == model) {
        return;
    }
    QItemSelectionModel* previous = fileList_->selectionModel();
    fileList_->setModel(model);
    previous->deleteLater();
    WatchSelection();
    PreviewSelected();
    const bool folder = model == listModel_;
    // A match's folder is a long path whose both ends count.
    fileList_->setTextElideMode(folder ? Qt::ElideRight : Qt::ElideMiddle);
    for (int column = 0; column < model->columnCount(); ++column) {
        const auto at = static_cast<std::size_t>(column);
        fileList_->header()->resizeSection(column, folder ? ListColumnWidths[at] : ResultColumnWidths[at]);
    }
    fileList_->scrollToTop();
}

void CDlgFileManager::WatchSelection() {
    connect(fileList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CDlgFileManager::PreviewSelected);
}

void CDlgFileManager::TogglePreview() {
    if (preview_->isVisible()) {
        preview_->hide();
        return;
    }
    preview_->PlaceBeside(*this);
    preview_->show();
    PreviewSelected();
}

void CDlgFileManager::PreviewSelected() {
    if (!preview_->isVisible()) {
        return;
    }
    const FileNode* entry = SelectedEntry();
    preview_->setWindowTitle(entry != nullptr ? QStringLiteral("Preview - %1").arg(QString::fromUtf8(entry->Name()))
                                              : QStringLiteral("Preview"));
    preview_->OpenWithButton()->setEnabled(entry != nullptr && !entry->IsFolder());
    preview_->Pane()->ShowEntry(entry, backupFolder_, manifestKind_);
}

bool CDlgFileManager::ShowsSearchResults() const {
    return fileList_->model() == searchBar_->Results();
}

void CDlgFileManager::SelectTreeItem(const QModelIndex& item) {
    folderTree_->selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
}

const FileNode* CDlgFileManager::FindFolder(const std::string& path) const {
    if (!browsable_) {
        return root_ != nullptr && root_->Path() == path ? root_ : nullptr;
    }
    return FindNode(root_, path);
}

void CDlgFileManager::OnTreeSelChanged(const QItemSelection& selected, const QItemSelection& /*deselected*/) {
    if (selected.indexes().isEmpty()) {
        return;
    }
    const QModelIndex item = selected.indexes().front();
    switch (folderModel_->KindOf(item)) {
    case FolderTreeModel::ItemKind::Shortcut:
        OnShortcutSelected(folderModel_->ShortcutOrder(item));
        return;
    case FolderTreeModel::ItemKind::Top:
    case FolderTreeModel::ItemKind::Catalog:
        return;
    case FolderTreeModel::ItemKind::Folder:
        break;
    }
    // The path is made of the items' texts, without the top item's (the backup's name).
    QString path;
    for (QModelIndex at = item; at.parent().isValid(); at = at.parent()) {
        path.prepend(u'/' + at.data(Qt::DisplayRole).toString());
    }
    ShowFolderAt(path);
}

void CDlgFileManager::OnShortcutSelected(int order) {
    ShowFolderAt(QString::fromUtf8(CatalogShortcuts()[static_cast<std::size_t>(order)].DevicePath));
}

void CDlgFileManager::ShowFolderAt(const QString& path) {
    pathBox_->setText(path);
    if (const FileNode* node = FindFolder(path.toStdString())) {
        currentFolder_ = node;
        FillFileList(node);
        return;
    }
    ShowProgramMessage(this, QStringLiteral("This path does not exist!"));
    SelectTreeItem(CatalogItem());
    pathBox_->setText(currentFolder_ != nullptr ? QString::fromUtf8(currentFolder_->Path()) : QString());
}

int CDlgFileManager::SelectedRow() const {
    const QModelIndexList rows = fileList_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

const FileNode* CDlgFileManager::SelectedEntry() const {
    const int row = SelectedRow();
    return ShowsSearchResults() ? searchBar_->Results()->EntryAt(row) : listModel_->EntryAt(row);
}

void CDlgFileManager::OnListDblClk(const QModelIndex& /*index*/) {
    const FileNode* entry = SelectedEntry();
    if (entry != nullptr && ShowsSearchResults()) {
        ShowInItsFolder(entry);
        return;
    }
    if (entry == nullptr || !entry->IsFolder()) {
        return;
    }
    OpenFolderFromList(entry);
}

// A match double-clicked: its folder is shown, the match selected in it.
void CDlgFileManager::ShowInItsFolder(const FileNode* entry) {
    if (entry->Parent() == nullptr) {
        return;
    }
    OpenFolderFromList(entry->Parent());
    for (int row = 0; row < listModel_->rowCount(); ++row) {
        if (listModel_->EntryAt(row) == entry) {
            const QModelIndex index = listModel_->index(row, 0);
            fileList_->setCurrentIndex(index);
            fileList_->scrollTo(index);
            return;
        }
    }
}

void CDlgFileManager::OnUpClicked() {
    if (currentFolder_ == nullptr || currentFolder_->Parent() == nullptr) {
        return;
    }
    OpenFolderFromList(currentFolder_->Parent());
}

void CDlgFileManager::OpenFolderFromList(const FileNode* folder) {
    // The top item takes the selection, so that a click on the item selected before answers again.
    SelectTreeItem(TopItem());
    currentFolder_ = folder;
    FillFileList(folder);
    pathBox_->setText(QString::fromUtf8(folder->Path()));
}

void CDlgFileManager::OnExportClicked() {
    exports_.ExportToChosenFolder(SelectedEntry());
}

void CDlgFileManager::ShowEntryMenu(const QPoint& position) {
    const FileNode* entry = SelectedEntry();
    if (entry == nullptr || !fileList_->indexAt(position).isValid()) {
        return;
    }
    QMenu menu(this);
    QAction* open = menu.addAction(QStringLiteral("Open with..."));
    open->setEnabled(!entry->IsFolder());
    connect(open, &QAction::triggered, this, &CDlgFileManager::OpenSelectedEntry);
    connect(menu.addAction(QStringLiteral("Export")), &QAction::triggered, this, &CDlgFileManager::OnExportClicked);
    menu.exec(fileList_->viewport()->mapToGlobal(position));
}

void CDlgFileManager::OpenSelectedEntry() {
    if (const FileNode* entry = SelectedEntry(); entry != nullptr && !entry->IsFolder()) {
        exports_.OpenWithDesktop(*entry);
    }
}

void CDlgFileManager::DragSelectedEntryOut() {
    if (const FileNode* entry = SelectedEntry()) {
        const QIcon icon = fileList_->model()->index(SelectedRow(), 0).data(Qt::DecorationRole).value<QIcon>();
        exports_.DragOut(*entry, *fileList_, icon.pixmap(16));
    }
}

void CDlgFileManager::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The names are read for searching while the person looks around, so that the first search answers at once.
    if (browsable_ && root_ != nullptr && !event->spontaneous()) {
        searchBar_->Search()->Prepare(root_);
    }
    if (!statusTold_ && status_ != TreeStatus::Ok) {
        statusTold_ = true;
        QMetaObject::invokeMethod(this, &CDlgFileManager::TellWhyListIsEmpty, Qt::QueuedConnection);
    }
}

void CDlgFileManager::TellWhyListIsEmpty() {
    QString text;
    if (status_ == TreeStatus::Encrypted) {
        text = QStringLiteral("This backup is encrypted and cannot be browsed yet, so its file list is empty.");
    } else {
        text = QStringLiteral("The file index of this backup cannot be read, so its file list is empty or "
                              "incomplete.");
    }
    if (!statusReason_.isEmpty()) {
        text += QStringLiteral("\n\n") + statusReason_;
    }
    ShowProgramMessage(this, text, QMessageBox::Warning);
}

} // namespace marrowick
