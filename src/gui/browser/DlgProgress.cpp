#include "gui/browser/DlgProgress.h"

#include "core/platform/ErrorText.h"
#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/EnterEscape.h"
#include "gui/controls/ImageButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace marrowick {

namespace {

// Windows shows "\r\n" as one line break; a Qt label would show a stray character.
QString ShownText(std::string_view text) {
    QString shown = QString::fromUtf8(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace

CDlgProgress::CDlgProgress(QWidget* parent) : QDialog(parent, MinimizableDialogFlags) {
    setWindowTitle(QStringLiteral("Exporting..."));
    fileLabel_ = NewPlainLabel(QString(), this);
    fileLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fileLabel_->installEventFilter(this);
    progressBar_ = new QProgressBar(this);
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    statusLabel_ = NewPlainLabel(QString(), this);
    cancelButton_ = NewCancelButton(&themeHelper_, this);
    cancelButton_->setAutoDefault(false);

    // Proportions of the original 316 x 74 dialog-unit window.
    const QFontMetrics metrics(font());
    fileLabel_->setFixedHeight(std::max(DialogUnitsY(*this, 17), 2 * metrics.lineSpacing()));
    progressBar_->setFixedHeight(DialogUnitsY(*this, 14));
    cancelButton_->setMinimumSize(DialogUnits(*this, 67, 21));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statusLabel_, 1);
    bottom->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->addWidget(fileLabel_);
    layout->addWidget(progressBar_);
    layout->addLayout(bottom);
    setFixedSize(DialogUnits(*this, 316, 74).expandedTo(layout->sizeHint()));

    startTimer_ = new QTimer(this);
    startTimer_->setSingleShot(true);
    startTimer_->setInterval(10);
    connect(startTimer_, &QTimer::timeout, this, &CDlgProgress::StartExport);
    connect(cancelButton_, &QPushButton::clicked, this, &CDlgProgress::OnCancelClicked);
    connect(this, &CDlgProgress::ProgressReported, this, &CDlgProgress::ShowProgress, Qt::QueuedConnection);
    connect(this, &CDlgProgress::ExportEnded, this, &CDlgProgress::OnExportEnded, Qt::QueuedConnection);
    connect(&task_, &CBackgroundTask::Failed, this, &CDlgProgress::OnWorkerFailed);
    connect(&task_, &CBackgroundTask::Finished, this, &CDlgProgress::OnWorkerFinished);
    SwallowEnterAndEscape(*this);
}

CDlgProgress::~CDlgProgress() {
    StopWorker();
}

QString CDlgProgress::StatusText() const {
    return statusLabel_->text();
}

void CDlgProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Only the first show starts an export; a later one must not start a second worker.
    if (!started_ && !startTimer_->isActive()) {
        startTimer_->start();
    }
}

bool CDlgProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileLabel_ && event->type() == QEvent::Resize) {
        FitFileText();
    }
    return QDialog::eventFilter(watched, event);
}

void CDlgProgress::StartExport() {
    if (started_ || !isVisible()) {
        return;
    }
    started_ = true;
    result_ = ExportResult{};
    ShowTexts(FileText(), QString::fromUtf8(CalculatingSizeText));
    ExportCancelled = 0;

    ExportParameters parameters;
    parameters.SelectedNode = SelectedNode;
    parameters.BackupFolder = BackupFolder;
    parameters.ManifestKind = ManifestKind;
    parameters.TargetFolder = TargetFolder;
    parameters.Copier = Copier;
    parameters.Progress = [this](const ExportProgress& progress) { ReportProgress(progress); };
    // No DiskFull callback: the box is shown from the result, once the worker has ended. The worker owns its
    // parameters; the dialog only ends, and is only destroyed, after it has stopped.
    task_.Start(
        [this, parameters = std::move(parameters)] { Q_EMIT ExportEnded(RunExport(parameters), QPrivateSignal()); });
}

void CDlgProgress::ReportProgress(const ExportProgress& progress) {
    if (!progress.TextsUpdated) {
        return;
    }
    {
        std::unique_lock lock(gateMutex_);
        gateFree_.wait(lock, [this] { return !reportWaiting_ || gateOpen_; });
        if (gateOpen_) {
            return;
        }
        reportWaiting_ = true;
    }
    Q_EMIT ProgressReported(ShownText(ExportingFileText(progress.Node->Path())),
                            ShownText(FinishedStatusText(progress.Percent, progress.DoneBytes, progress.TotalBytes)),
                            progress.Percent, QPrivateSignal());
}

void CDlgProgress::ShowProgress(const QString& fileText, const QString& statusText, int percent) {
    progressBar_->setValue(percent);
    ShowTexts(fileText, statusText);
    {
        const std::lock_guard lock(gateMutex_);
        reportWaiting_ = false;
    }
    gateFree_.notify_one();
}

void CDlgProgress::ShowTexts(const QString& fileText, const QString& statusText) {
    fileText_ = fileText;
    fileLabel_->setToolTip(fileText);
    fileLabel_->setAccessibleName(fileText);
    FitFileText();
    statusLabel_->setText(statusText);
    Q_EMIT TextsShown(fileText, statusText, progressBar_->value());
}

// The engine breaks the line after 70 bytes wherever that falls; the label breaks where its width ends instead,
// and elides the middle of a path too long for it, so the file's name at the end stays in view.
void CDlgProgress::FitFileText() {
    const QRect room = fileLabel_->contentsRect();
    const int lines = std::max(1, room.height() / fileLabel_->fontMetrics().lineSpacing());
    QString oneLine = fileText_;
    oneLine.remove(u'\n');
    fileLabel_->setText(FitTextInLines(oneLine, fileLabel_->font(), room.width(), lines));
}

void CDlgProgress::ShowDiskFull(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Marrowick"), ShownText(message), QMessageBox::Ok, this);
    box.exec();
}

void CDlgProgress::OnCancelClicked() {
    ExportCancelled = 1;
}

void CDlgProgress::done(int result) {
    ExportCancelled = 1;
    startTimer_->stop();
    if (task_.Running()) {
        // Ends when the worker reports back, after the file being copied is complete.
        return;
    }
    QDialog::done(result);
}

void CDlgProgress::OnExportEnded(const ExportResult& result) {
    result_ = result;
}

void CDlgProgress::OnWorkerFailed(const QString& what) {
    result_ = ExportResult{};
    result_.Stopped = Failure::Unexpected(FailureStep::Write, what.toStdString());
}

void CDlgProgress::OnWorkerFinished() {
    if (result_.DiskFull) {
        ShowDiskFull(DiskFullMessage(result_.DiskFullError));
    }
    reject();
}

void CDlgProgress::StopWorker() {
    if (!task_.Running()) {
        return;
    }
    ExportCancelled = 1;
    {
        const std::lock_guard lock(gateMutex_);
        gateOpen_ = true;
    }
    gateFree_.notify_all();
    task_.Wait();
}

} // namespace marrowick
