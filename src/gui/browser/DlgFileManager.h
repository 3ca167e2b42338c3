#pragma once

#include "core/backup/BackupTreeCache.h"
#include "core/backup/FileNode.h"
#include "core/backup/SummaryReader.h"

#include "gui/browser/DragExport.h"
#include "gui/browser/EntryExports.h"
#include "gui/controls/ThemeHelper.h"

#include <QDialog>
#include <QModelIndex>
#include <QString>

#include <string>

class QAbstractItemModel;
class QLineEdit;
class QPoint;
class QTreeView;
class QItemSelection;

namespace marrowick {

class CPreviewWindow;
class CSearchBar;
class CThemedButton;
class FileListModel;
class FolderTreeModel;

// Browses one backup as the device's folder hierarchy and exports the selected entry.
class CDlgFileManager final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDlgFileManager)

public:
    // Shows the entries below /var of tree, the backup's tree as CTreeLoader (or OpenBackupTree) opened it.
    CDlgFileManager(const BackupRecord& backup, const BackupTreeResult& tree, QWidget* parent);
    // Takes the tree from OpenBackupTree, which reads it on this thread when it is not cached: for tools that
    // show the window without a running event loop. The program opens the window through CTreeLoader.
    CDlgFileManager(const BackupRecord& backup, QWidget* parent);
    ~CDlgFileManager() override;

    [[nodiscard]] const QString& BackupName() const { return backupName_; }
    [[nodiscard]] QString PathText() const;
    [[nodiscard]] const FileNode* CurrentFolder() const { return currentFolder_; }
    [[nodiscard]] TreeStatus Status() const { return status_; }

    [[nodiscard]] QLineEdit* PathBox() const { return pathBox_; }
    [[nodiscard]] QTreeView* FolderTree() const { return folderTree_; }
    [[nodiscard]] QTreeView* FileList() const { return fileList_; }
    [[nodiscard]] CThemedButton* UpButton() const { return upButton_; }
    [[nodiscard]] CThemedButton* ExportButton() const { return exportButton_; }
    [[nodiscard]] CSearchBar* SearchBar() const { return searchBar_; }
    [[nodiscard]] CThemedButton* PreviewButton() const { return previewButton_; }
    [[nodiscard]] CPreviewWindow* Preview() const { return preview_; }
    [[nodiscard]] QModelIndex TopItem() const;
    [[nodiscard]] QModelIndex CatalogItem() const;
    [[nodiscard]] QModelIndex ShortcutItem(int order) const;
    // The tree item of a folder of the backup; invalid when there is none.
    [[nodiscard]] QModelIndex FolderItem(const FileNode* folder) const;

    // Shows folder's children in the list.
    void FillFileList(const FileNode* folder);
    // "Open with...": the selected file, exported to a private folder of the run, opened by the desktop.
    void OpenSelectedEntry();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildWindow();
    void OnTreeSelChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void OnShortcutSelected(int order);
    void ShowFolderAt(const QString& path);
    [[nodiscard]] const FileNode* FindFolder(const std::string& path) const;
    void OnListDblClk(const QModelIndex& index);
    void OnUpClicked();
    void OnExportClicked();
    void ShowEntryMenu(const QPoint& position);
    void DragSelectedEntryOut();
    void OpenFolderFromList(const FileNode* folder);
    void ShowInItsFolder(const FileNode* entry);
    void ShowListOf(QAbstractItemModel* model);
    [[nodiscard]] bool ShowsSearchResults() const;
    void WatchSelection();
    void TogglePreview();
    void PreviewSelected();
    void SelectTreeItem(const QModelIndex& item);
    void TellWhyListIsEmpty();
    [[nodiscard]] const FileNode* SelectedEntry() const;
    [[nodiscard]] int SelectedRow() const;

    QString backupName_;
    std::string backupFolder_; // as the file system names it, which need not be UTF-8
    ManifestKind manifestKind_ = ManifestKindDb;
    const FileNode* root_ = nullptr;
    const FileNode* currentFolder_ = nullptr;
    TreeStatus status_ = TreeStatus::Ok;
    QString statusReason_;
    bool statusTold_ = false;
    bool browsable_ = true;
    EntryExports exports_;

    CThemeHelper themeHelper_;
    QLineEdit* pathBox_ = nullptr;
    QTreeView* folderTree_ = nullptr;
    CFileListView* fileList_ = nullptr;
    CThemedButton* upButton_ = nullptr;
    CThemedButton* exportButton_ = nullptr;
    CThemedButton* previewButton_ = nullptr;
    CPreviewWindow* preview_ = nullptr;
    FolderTreeModel* folderModel_ = nullptr;
    FileListModel* listModel_ = nullptr;
    CSearchBar* searchBar_ = nullptr;
};

} // namespace marrowick
