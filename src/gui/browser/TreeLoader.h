#pragma once

#include "core/backup/BackupTreeCache.h"
#include "core/backup/SummaryReader.h"
#include "gui/browser/BackgroundTask.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace marrowick {

// Reads a backup's tree; ReadBackupTree unless a test puts another in.
using TreeReadFunction = std::function<CachedBackupTree(const std::string& backupFolder, ManifestKind manifestKind)>;

// Replaces the tree's read for every loader made afterwards (tests make it fail); an empty function restores
// ReadBackupTree.
void SetTreeReadFunction(TreeReadFunction read);

// Opens backups' trees for the windows: a cached tree at once, any other read on a CBackgroundTask while the
// windows keep painting (input waits, and a busy box names the backup when the read takes a while), so that a
// manifest of a million entries never freezes the program.
class CTreeLoader final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTreeLoader)

public:
    // window: the one the busy box stands over; may be null.
    explicit CTreeLoader(QWidget* window, QObject* parent = nullptr);
    // Waits for a read in progress.
    ~CTreeLoader() override;

    // Opened comes before Open returns when the tree is cached, else once it has been read. False, and nothing
    // done, while a read runs.
    bool Open(const BackupRecord& backup);
    [[nodiscard]] bool Reading() const { return reading_.has_value(); }
    // The busy box while it is shown; null otherwise.
    [[nodiscard]] QProgressDialog* BusyBox() const { return busyBox_; }

Q_SIGNALS:
    // The backup's tree is in the core's cache and current. A read that failed gives an empty tree whose Problem
    // says why.
    void Opened(const marrowick::BackupRecord& backup, const marrowick::BackupTreeResult& tree);
    // From the worker: the tree it read.
    void TreeRead(const std::shared_ptr<marrowick::CachedBackupTree>& tree, QPrivateSignal);

private:
    void OnTreeRead(const std::shared_ptr<CachedBackupTree>& tree);
    void OnReadFailed(const QString& what);
    void OnReadFinished();
    void ShowBusyBox();
    void EndBusyState();

    QPointer<QWidget> window_;
    std::optional<BackupRecord> reading_;
    std::shared_ptr<CachedBackupTree> read_;
    std::optional<QString> failure_;
    QTimer busyTimer_;
    QPointer<QProgressDialog> busyBox_;
    std::unique_ptr<QObject> inputPause_;
    // Last, so that it is destroyed first: the worker never outlives what it uses.
    CBackgroundTask task_;
};

} // namespace marrowick
