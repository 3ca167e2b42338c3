#include "gui/browser/DlgProgress.h"

#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/EnterEscape.h"
#include "gui/controls/ImageButton.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <exception>
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
    parameters.Progress = [this](const ExportProgress& progress) {
        if (progress.TextsUpdated) {
            QMetaObject::invokeMethod(
                this, [this, &progress] { ShowProgress(progress); }, Qt::BlockingQueuedConnection);
        }
    };
    parameters.DiskFull = [this](int error) {
        const std::string message = DiskFullMessage(error);
        QMetaObject::invokeMethod(
            this, [this, &message] { ShowDiskFull(message); }, Qt::BlockingQueuedConnection);
    };
    running_ = true;
    workerDone_ = false;
    // The worker owns its parameters; the dialog only ends, and is only destroyed, after joining it.
    worker_ = std::thread([this, parameters = std::move(parameters)] {
        // Nothing may leave the thread: an exception there would end the program.
        ExportResult result;
        try {
            result = RunExport(parameters);
        } catch (const std::exception& error) {
            result.Stopped = Failure::Because(FailureStep::Write, {}, FailureCause::Exception);
            result.Stopped->Detail = error.what();
        }
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { OnWorkerFinished(std::move(result)); },
            Qt::QueuedConnection);
        workerDone_ = true;
    });
}

void CDlgProgress::ShowProgress(const ExportProgress& progress) {
    progressBar_->setValue(progress.Percent);
    ShowTexts(ShownText(progress.FileText), ShownText(progress.StatusText));
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
    if (running_) {
        // Ends when the worker reports back, after the file being copied is complete.
        return;
    }
    QDialog::done(result);
}

void CDlgProgress::OnWorkerFinished(ExportResult result) {
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
    result_ = std::move(result);
    reject();
}

void CDlgProgress::StopWorker() {
    if (!worker_.joinable()) {
        return;
    }
    ExportCancelled = 1;
    // The worker may be waiting for this thread to show its texts; answer it until it has returned.
    while (!workerDone_) {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
}

} // namespace marrowick
