#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/export/ExportEngine.h"

#include "gui/browser/BackgroundTask.h"
#include "gui/controls/ThemeHelper.h"

#include <QDialog>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <string>

class QLabel;
class QProgressBar;
class QTimer;

namespace marrowick {

class CThemedButton;

// Runs one export on a CBackgroundTask and shows its file, share of bytes and Cancel. The dialog ends by itself when
// the worker is done; a close cancels and ends it once the worker has stopped, so the worker never outlives what
// it reads.
class CDlgProgress final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDlgProgress)

public:
    explicit CDlgProgress(QWidget* parent);
    ~CDlgProgress() override;

    // Set by the caller before the dialog runs.
    std::string TargetFolder;
    const FileNode* SelectedNode = nullptr;
    std::string BackupFolder;
    marrowick::ManifestKind ManifestKind = ManifestKindDb;
    // The copy of one file; empty means the engine's own.
    ExportFileCopier Copier;

    // The file text as the engine gave it; the label shows it fitted to its size, with the whole as its tooltip.
    [[nodiscard]] QString FileText() const { return fileText_; }
    [[nodiscard]] QLabel* FileLabel() const { return fileLabel_; }
    [[nodiscard]] QString StatusText() const;
    [[nodiscard]] QProgressBar* ProgressBar() const { return progressBar_; }
    [[nodiscard]] CThemedButton* CancelButton() const { return cancelButton_; }
    // What the export did; complete once the dialog has ended.
    [[nodiscard]] const ExportResult& Result() const { return result_; }
    [[nodiscard]] bool ExportStarted() const { return started_; }

Q_SIGNALS:
    // The texts and the bar have been brought on screen, in the order the export gave them.
    void TextsShown(const QString& fileText, const QString& statusText, int percent);
    // From the worker: the texts before a file's copy, and what the export did.
    void ProgressReported(const QString& fileText, const QString& statusText, int percent, QPrivateSignal);
    void ExportEnded(const marrowick::ExportResult& result, QPrivateSignal);

public Q_SLOTS:
    // Every ending (Cancel's close, the close box, the worker's end) cancels first and waits for the worker.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StartExport();
    void ReportProgress(const ExportProgress& progress);
    void OnCancelClicked();
    void ShowProgress(const QString& fileText, const QString& statusText, int percent);
    void ShowDiskFull(const std::string& message);
    void OnExportEnded(const ExportResult& result);
    void OnWorkerFailed(const QString& what);
    void OnWorkerFinished();
    void ShowTexts(const QString& fileText, const QString& statusText);
    void FitFileText();
    void StopWorker();

    CThemeHelper themeHelper_;
    QString fileText_;
    QLabel* fileLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    CThemedButton* cancelButton_ = nullptr;
    QTimer* startTimer_ = nullptr;

    bool started_ = false;
    ExportResult result_;

    // At most one progress report waits to be shown, so the texts keep pace with the copy and the reports of a
    // million small files never pile up; stopping opens the gate for good.
    std::mutex gateMutex_;
    std::condition_variable gateFree_;
    bool reportWaiting_ = false;
    bool gateOpen_ = false;
    // Last, so that it is destroyed first: the worker never outlives what it uses.
    CBackgroundTask task_;
};

} // namespace marrowick
