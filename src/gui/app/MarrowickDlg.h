#pragma once

#include "core/backup/BackupTreeCache.h"
#include "core/backup/SummaryReader.h"

#include <QDialog>

#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenuBar;
class QTableWidget;
class QTextBrowser;
class QUrl;

namespace marrowick {

class CTreeLoader;

// The version is the project's, set once in CMake.
inline constexpr auto MainWindowTitle = "Marrowick V" MARROWICK_VERSION;

// The backup list: one row per backup found, oldest first; a double-click opens the row's files.
class CMarrowickDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CMarrowickDlg)

public:
    explicit CMarrowickDlg(QWidget* parent = nullptr);
    ~CMarrowickDlg() override;

    [[nodiscard]] QTableWidget* BackupList() const { return backupList_; }
    [[nodiscard]] QTextBrowser* UsageBox() const { return usageBox_; }
    // Shown over the list while it is empty: where backups were looked for, and how to add a place.
    [[nodiscard]] QLabel* EmptyListHint() const { return emptyHint_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenuBar();
    void CreateBackupList();
    void CreateUsageBox();
    void FillBackupList();
    void ShowEmptyListHint();
    void OnFolderDropped(const std::string& folder);

    void OnAddLocation();
    void OnRefresh();
    void OnChangeLocation();
    void OnAbout();
    void OnHelp();
    void OnLinkClicked(const QUrl& link);
    void OpenSelectedBackup();
    void ShowFileManager(const BackupRecord& backup, const BackupTreeResult& tree);

    QMenuBar* menuBar_ = nullptr;
    QTableWidget* backupList_ = nullptr;
    QTextBrowser* usageBox_ = nullptr;
    QLabel* emptyHint_ = nullptr;
    QAction* addLocationAction_ = nullptr;
    QAction* refreshAction_ = nullptr;
    QAction* changeLocationAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* helpAction_ = nullptr;
    CTreeLoader* treeLoader_ = nullptr;
    std::vector<BackupRecord> rows_;
    std::vector<std::string> lookedIn_; // folders of backups dropped onto the window and not remembered
};

} // namespace marrowick
