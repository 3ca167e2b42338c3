#include "gui/browser/TreeLoader.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QWidget>

#include <utility>

namespace marrowick {
namespace {

// Reading faster than this shows no busy box at all.
constexpr int BusyBoxDelayMs = 400;

TreeReadFunction& ReplacedRead() {
    static TreeReadFunction read;
    return read;
}

// While it lives, the person's input to every window is dropped; the windows still paint.
class InputPause final : public QObject {
    Q_DISABLE_COPY_MOVE(InputPause)

public:
    InputPause() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputPause() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

CachedBackupTree FailedRead(const QString& what) {
    CachedBackupTree failed;
    failed.Status = TreeStatus::Unreadable;
    failed.Problem = Failure::Unexpected(FailureStep::Read, what.toStdString());
    return failed;
}

} // namespace

void SetTreeReadFunction(TreeReadFunction read) {
    ReplacedRead() = std::move(read);
}

CTreeLoader::CTreeLoader(QWidget* window, QObject* parent) : QObject(parent), window_(window) {
    busyTimer_.setSingleShot(true);
    busyTimer_.setInterval(BusyBoxDelayMs);
    connect(&busyTimer_, &QTimer::timeout, this, &CTreeLoader::ShowBusyBox);
    connect(this, &CTreeLoader::TreeRead, this, &CTreeLoader::OnTreeRead, Qt::QueuedConnection);
    connect(&task_, &CBackgroundTask::Failed, this, &CTreeLoader::OnReadFailed);
    connect(&task_, &CBackgroundTask::Finished, this, &CTreeLoader::OnReadFinished);
}

CTreeLoader::~CTreeLoader() {
    task_.Wait();
    EndBusyState();
}

bool CTreeLoader::Open(const BackupRecord& backup) {
    if (reading_) {
        return false;
    }
    if (const std::optional<BackupTreeResult> cached = FindCachedTree(backup.FolderPath, backup.ManifestKind)) {
        Q_EMIT Opened(backup, *cached);
        return true;
    }
    TreeReadFunction read = ReplacedRead() ? ReplacedRead() : TreeReadFunction(&ReadBackupTree);
    const bool started =
        task_.Start([this, read = std::move(read), folder = backup.FolderPath, kind = backup.ManifestKind] {
            Q_EMIT TreeRead(std::make_shared<CachedBackupTree>(read(folder, kind)), QPrivateSignal());
        });
    if (!started) {
        return false;
    }
    reading_ = backup;
    read_.reset();
    failure_.reset();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    inputPause_ = std::make_unique<InputPause>();
    busyTimer_.start();
    return true;
}

void CTreeLoader::OnTreeRead(const std::shared_ptr<CachedBackupTree>& tree) {
    read_ = tree;
}

void CTreeLoader::OnReadFailed(const QString& what) {
    failure_ = what;
}

void CTreeLoader::OnReadFinished() {
    EndBusyState();
    if (!reading_) {
        return;
    }
    const BackupRecord backup = *std::exchange(reading_, std::nullopt);
    CachedBackupTree read = read_ && !failure_ ? std::move(*read_) : FailedRead(failure_.value_or(QString()));
    read_.reset();
    failure_.reset();
    const BackupTreeResult tree = CacheTree(backup.FolderPath, backup.ManifestKind, std::move(read));
    Q_EMIT Opened(backup, tree);
}

void CTreeLoader::ShowBusyBox() {
    if (!reading_ || busyBox_) {
        return;
    }
    busyBox_ = new QProgressDialog(
        QStringLiteral("Reading the file list of %1...").arg(QString::fromStdString(reading_->Name)), QString(), 0, 0,
        window_);
    busyBox_->setAttribute(Qt::WA_DeleteOnClose);
    busyBox_->setWindowTitle(QStringLiteral("Marrowick"));
    busyBox_->setWindowModality(Qt::ApplicationModal);
    busyBox_->setCancelButton(nullptr);
    busyBox_->show();
}

void CTreeLoader::EndBusyState() {
    busyTimer_.stop();
    delete busyBox_;
    if (inputPause_) {
        inputPause_.reset();
        QGuiApplication::restoreOverrideCursor();
    }
}

} // namespace marrowick
