#include "gui/browser/DlgFileManager.h"

#include "gui/browser/CatalogShortcuts.h"
#include "gui/browser/DlgProgress.h"
#include "gui/browser/FileListModel.h"
#include "gui/browser/FolderPicker.h"
#include "gui/browser/FolderTreeModel.h"
#include "gui/browser/TreeLoader.h"
#include "gui/controls/DialogUnits.h"
#include "gui/controls/EnterEscape.h"
#include "gui/controls/ImageButton.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeView>
#include <QVBoxLayout>

#include <string>

namespace marrowick {

namespace {

QString FromBytes(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Errors of this window carry the program file's name as caption, as a message box without a caption does.
void ShowMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon) {
    QMessageBox box(icon, QStringLiteral("marrowick"), text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

CDlgFileManager::CDlgFileManager(const BackupRecord& backup, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      backupName_(QString::fromStdString(backup.Name)), backupFolder_(QString::fromStdString(backup.FolderPath)),
      manifestKind_(backup.ManifestKind) {
    setWindowTitle(backupName_ + QStringLiteral(" - Marrowick"));
    pathText_ = QStringLiteral("/var/");

    const BackupTreeResult tree = OpenBackupTreeResponsive(backup, parent);
    root_ = tree.Root;
    status_ = tree.Status;
    statusReason_ = QString::fromStdString(tree.Reason);
    // The files of an encrypted backup cannot be read, so none are offered.
    browsable_ = status_ != TreeStatus::Encrypted;

    BuildWindow();
    currentFolder_ = root_;
    FillFileList(browsable_ ? root_ : nullptr);
    UpdatePathBox();
}

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

    listModel_ = new FileListModel(icons, this);
    fileList_ = new QTreeView(this);
    fileList_->setRootIsDecorated(false);
    fileList_->setItemsExpandable(false);
    fileList_->setExpandsOnDoubleClick(false);
    fileList_->setUniformRowHeights(true);
    fileList_->setAllColumnsShowFocus(true);
    fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList_->setSortingEnabled(false);
    fileList_->setModel(listModel_);
    QHeaderView* header = fileList_->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->resizeSection(FileListModel::NameColumn, 250);
    header->resizeSection(FileListModel::SizeColumn, 90);
    header->resizeSection(FileListModel::TypeColumn, 115);
    header->resizeSection(FileListModel::TimeColumn, 125);

    // Proportions of the original 477 x 282 dialog-unit window.
    const QFontMetrics metrics(font());
    const auto unitsX = [this](int units) { return DialogUnits(*this, units, 0).width(); };
    const auto unitsY = [this](int units) { return DialogUnits(*this, 0, units).height(); };
    folderTree_->setFixedWidth(unitsX(111));
    upButton_->setMinimumSize(unitsX(47), unitsY(15));
    exportButton_->setMinimumSize(unitsX(47), unitsY(15));
    fileList_->setMinimumWidth(std::max(unitsX(348), 250 + 90 + 115 + 125 + 4));

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(unitsX(2));
    buttons->addWidget(upButton_);
    buttons->addWidget(exportButton_);
    buttons->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addLayout(buttons);
    right->addWidget(fileList_, 1);
    auto* body = new QHBoxLayout;
    body->setSpacing(unitsX(4));
    body->addWidget(folderTree_);
    body->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(unitsX(7), unitsY(7), unitsX(7), unitsY(7));
    layout->setSpacing(unitsY(4));
    layout->addWidget(pathBox_);
    layout->addLayout(body, 1);
    setFixedSize(std::max(unitsX(477), layout->sizeHint().width()), std::max(unitsY(282), layout->sizeHint().height()));

    connect(folderTree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CDlgFileManager::OnTreeSelChanged);
    connect(fileList_, &QAbstractItemView::doubleClicked, this, &CDlgFileManager::OnListDblClk);
    connect(upButton_, &QPushButton::clicked, this, &CDlgFileManager::OnUpClicked);
    connect(exportButton_, &QPushButton::clicked, this, &CDlgFileManager::OnExportClicked);
    SwallowEnterAndEscape(*this);
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
    listModel_->SetFolder(folder);
    fileList_->scrollToTop();
}

void CDlgFileManager::UpdatePathBox() {
    pathBox_->setText(pathText_);
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
    ShowFolderAt(FromBytes(CatalogShortcuts()[static_cast<std::size_t>(order)].DevicePath));
}

void CDlgFileManager::ShowFolderAt(const QString& path) {
    pathText_ = path;
    UpdatePathBox();
    if (const FileNode* node = FindFolder(path.toStdString())) {
        currentFolder_ = node;
        FillFileList(node);
        return;
    }
    ShowMessage(this, QStringLiteral("This path does not exist!"));
    SelectTreeItem(CatalogItem());
    pathText_ = currentFolder_ != nullptr ? FromBytes(currentFolder_->Path()) : QString();
    UpdatePathBox();
}

int CDlgFileManager::SelectedRow() const {
    const QModelIndexList rows = fileList_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

const FileNode* CDlgFileManager::SelectedEntry() const {
    return listModel_->EntryAt(SelectedRow());
}

void CDlgFileManager::OnListDblClk(const QModelIndex& /*index*/) {
    const FileNode* entry = SelectedEntry();
    if (entry == nullptr || !entry->IsFolder()) {
        return;
    }
    SelectTreeItem(TopItem());
    currentFolder_ = entry;
    pathText_ = FromBytes(entry->Path());
    FillFileList(entry);
    UpdatePathBox();
}

void CDlgFileManager::OnUpClicked() {
    if (currentFolder_ == nullptr || currentFolder_->Parent() == nullptr) {
        return;
    }
    SelectTreeItem(TopItem());
    currentFolder_ = currentFolder_->Parent();
    FillFileList(currentFolder_);
    pathText_ = FromBytes(currentFolder_->Path());
    UpdatePathBox();
}

void CDlgFileManager::OnExportClicked() {
    const FileNode* entry = SelectedEntry();
    if (entry == nullptr) {
        ShowMessage(this, QStringLiteral("Please select the folder or file which you want to export at first."));
        return;
    }
    const QString target = BrowseForExportFolder(this, QString());
    if (target.isEmpty()) {
        return;
    }
    CDlgProgress progress(this);
    progress.BackupFolder = backupFolder_.toStdString();
    progress.SelectedNode = entry;
    progress.TargetFolder = target.toStdString();
    progress.ManifestKind = manifestKind_;
    progress.exec();
    // Nothing that failed passes for exported.
    const std::string summary = ExportFailureSummary(progress.Result());
    if (!summary.empty()) {
        ShowMessage(this, QString::fromStdString(summary), QMessageBox::Warning);
    }
}

void CDlgFileManager::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
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
    ShowMessage(this, text, QMessageBox::Warning);
}

} // namespace marrowick
