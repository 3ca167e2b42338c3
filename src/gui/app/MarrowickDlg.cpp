#include "gui/app/MarrowickDlg.h"

#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/backup/BackupTreeCache.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/platform/ErrorText.h"
#include "core/settings/LocationsFile.h"
#include "gui/app/AboutDlg.h"
#include "gui/app/FolderDrop.h"
#include "gui/browser/DlgBackupPassword.h"
#include "gui/browser/DlgFileManager.h"
#include "gui/browser/TreeLoader.h"
#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/EnterEscape.h"
#include "gui/controls/LocalPath.h"
#include "gui/settings/SettingsCommands.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>

namespace marrowick {
namespace {

struct ListColumn {
    const char* Heading;
    int Width; // pixels
};

constexpr std::array<ListColumn, 5> ListColumns{{
    {"Name", 150},
    {"Time", 150},
    {"Version", 110},
    {"Device Type", 100},
    {"Serial Number", 110},
}};

struct OtherProduct {
    const char* Name;
    const char* Address; // without a scheme: a click puts "http://" in front
};

constexpr std::array<OtherProduct, 3> OtherProducts{{
    {"Marrowick Message Keeper", "www.marrowick.example/messagekeeper"},
    {"Marrowick Photo Lift", "www.marrowick.example/photolift"},
    {"Quillpond Contacts Mover", "www.quillpond.example/contacts"},
}};

constexpr auto UsageLine = "Usage: Double click any row to open and manage it. ";
constexpr auto MoreSoftwareLine = "More Software: ";

bool IsLeftButton(const QEvent* event, QEvent::Type type) {
    return event->type() == type && static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
}

// Unlocks the backup in folder with a password, for the rest of the run; runs on the password dialog's worker.
PasswordCheckFunction UnlockInBackground(const std::string& folder) {
    return [folder](const SecretBytes& password) {
        Result<UnlockedBackup> unlocked = UnlockBackup(folder, password);
        if (!unlocked) {
            return unlocked.Error().Cause == FailureCause::WrongPassword
                       ? PasswordCheck{PasswordCheck::Verdict::WrongPassword, {}}
                       : PasswordCheck{PasswordCheck::Verdict::Failed, FailureText(unlocked.Error())};
        }
        KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
        return PasswordCheck{PasswordCheck::Verdict::Unlocked, {}};
    };
}

} // namespace

CMarrowickDlg::CMarrowickDlg(QWidget* parent) : QDialog(parent, MinimizableDialogFlags) {
    setWindowTitle(QString::fromLatin1(MainWindowTitle));
    CreateMenuBar();
    CreateBackupList();
    CreateUsageBox();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->setSpacing(DialogUnitsY(*this, 2));
    layout->setMenuBar(menuBar_);
    layout->addWidget(backupList_);
    layout->addWidget(usageBox_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    treeLoader_ = new CTreeLoader(this, this);
    connect(treeLoader_, &CTreeLoader::Opened, this, &CMarrowickDlg::ShowFileManager);

    setAcceptDrops(true);
    InitBackupLocations();
    rows_ = RefreshBackupList(lookedIn_);
    FillBackupList();
    ClearBackupTreeCache();
}

CMarrowickDlg::~CMarrowickDlg() = default;

void CMarrowickDlg::CreateMenuBar() {
    menuBar_ = new QMenuBar(this);
    QMenu* file = menuBar_->addMenu(QStringLiteral("File(&F)"));
    addLocationAction_ = file->addAction(QStringLiteral("Add/Delete Other iTunes Backup Location(&A)\tCtrl+A"));
    addLocationAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    refreshAction_ = file->addAction(QStringLiteral("Refresh(&R)\tF5"));
    refreshAction_->setShortcut(QKeySequence(Qt::Key_F5));
    changeLocationAction_ = file->addAction(QStringLiteral("Change iTunes Backup Location(&M)\tCtrl+M"));
    changeLocationAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    exitAction_ = file->addAction(QStringLiteral("Exit(&A)\tCtrl+E"));
    exitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));

    QMenu* help = menuBar_->addMenu(QStringLiteral("Help(&H)"));
    aboutAction_ = help->addAction(QStringLiteral("About(&A)"));
    // Ctrl+H is only written in the text: no shortcut carries it.
    helpAction_ = help->addAction(QStringLiteral("Help(&H)\tCtrl+H"));

    // The shortcuts work wherever the focus is in the window, menu open or not.
    addActions({addLocationAction_, refreshAction_, changeLocationAction_, exitAction_});

    connect(addLocationAction_, &QAction::triggered, this, &CMarrowickDlg::OnAddLocation);
    connect(refreshAction_, &QAction::triggered, this, &CMarrowickDlg::OnRefresh);
    connect(changeLocationAction_, &QAction::triggered, this, &CMarrowickDlg::OnChangeLocation);
    connect(exitAction_, &QAction::triggered, this, &CMarrowickDlg::reject);
    connect(aboutAction_, &QAction::triggered, this, &CMarrowickDlg::OnAbout);
    connect(helpAction_, &QAction::triggered, this, &CMarrowickDlg::OnHelp);
}

void CMarrowickDlg::CreateBackupList() {
    backupList_ = new QTableWidget(0, static_cast<int>(ListColumns.size()), this);
    backupList_->setSelectionMode(QAbstractItemView::SingleSelection);
    backupList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    backupList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    backupList_->setTabKeyNavigation(false);
    backupList_->setShowGrid(true);
    backupList_->setWordWrap(false);
    backupList_->setCornerButtonEnabled(false);
    backupList_->verticalHeader()->hide();
    backupList_->verticalHeader()->setDefaultSectionSize(backupList_->fontMetrics().height() + 4);

    QHeaderView* header = backupList_->horizontalHeader();
    header->setSectionsMovable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    int columnsWidth = 0;
    for (std::size_t i = 0; i < ListColumns.size(); ++i) {
        const int column = static_cast<int>(i);
        backupList_->setHorizontalHeaderItem(column, new QTableWidgetItem(QString::fromLatin1(ListColumns[i].Heading)));
        backupList_->setColumnWidth(column, ListColumns[i].Width);
        columnsWidth += ListColumns[i].Width;
    }

    // Wide enough for the five columns and a scroll bar, whatever the font makes of the dialog units.
    const int chromeWidth = 2 * backupList_->frameWidth() + backupList_->verticalScrollBar()->sizeHint().width();
    const QSize size = DialogUnits(*this, 361, 134);
    backupList_->setFixedSize(std::max(size.width(), columnsWidth + chromeWidth), size.height());

    backupList_->installEventFilter(this);
    backupList_->viewport()->installEventFilter(this);

    emptyHint_ = new QLabel(backupList_->viewport());
    emptyHint_->setTextFormat(Qt::RichText);
    emptyHint_->setWordWrap(true);
    emptyHint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    emptyHint_->setContentsMargins(DialogUnitsX(*this, 4), DialogUnitsY(*this, 4), DialogUnitsX(*this, 4), 0);
    emptyHint_->hide();
    connect(emptyHint_, &QLabel::linkActivated, this, &CMarrowickDlg::OnAddLocation);
}

void CMarrowickDlg::CreateUsageBox() {
    usageBox_ = new QTextBrowser(this);
    usageBox_->setOpenLinks(false);
    usageBox_->setOpenExternalLinks(false);
    usageBox_->setUndoRedoEnabled(false);
    usageBox_->setFixedSize(backupList_->width(), DialogUnitsY(*this, 45));
    usageBox_->installEventFilter(this);

    QTextCharFormat plain;
    QTextCharFormat link;
    link.setAnchor(true);
    link.setFontUnderline(true);
    link.setForeground(palette().link());

    // Each address is its own link text, as automatic URL detection would mark it.
    QTextCursor cursor(usageBox_->document());
    cursor.insertText(QString::fromLatin1(UsageLine), plain);
    cursor.insertBlock(QTextBlockFormat(), plain);
    cursor.insertText(QString::fromLatin1(MoreSoftwareLine), plain);
    for (const OtherProduct& product : OtherProducts) {
        const QString address = QString::fromLatin1(product.Address);
        cursor.insertBlock(QTextBlockFormat(), plain);
        cursor.insertText(QString::fromLatin1(product.Name) + QStringLiteral(": "), plain);
        link.setAnchorHref(address);
        cursor.insertText(address, link);
    }
    usageBox_->moveCursor(QTextCursor::Start);

    connect(usageBox_, &QTextBrowser::anchorClicked, this, &CMarrowickDlg::OnLinkClicked);
}

void CMarrowickDlg::FillBackupList() {
    backupList_->setRowCount(static_cast<int>(rows_.size()));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const BackupRecord& record = rows_[i];
        const std::array<const std::string*, 5> texts{&record.Name, &record.Time, &record.Version, &record.DeviceType,
                                                      &record.SerialNumber};
        const bool encrypted = ManifestPlistSaysEncrypted(record.FolderPath);
        const QString folder = QString::fromStdString(record.FolderPath);
        for (std::size_t column = 0; column < texts.size(); ++column) {
            auto* item = new QTableWidgetItem(QString::fromStdString(*texts[column]));
            item->setToolTip(encrypted ? QStringLiteral("Encrypted backup in %1").arg(folder) : folder);
            backupList_->setItem(static_cast<int>(i), static_cast<int>(column), item);
        }
        if (encrypted) {
            backupList_->item(static_cast<int>(i), 0)->setIcon(QIcon(QStringLiteral(":/icons/lock.svg")));
        }
    }
    ShowEmptyListHint();
}

void CMarrowickDlg::ShowEmptyListHint() {
    if (!rows_.empty()) {
        emptyHint_->hide();
        return;
    }
    QString places;
    const QString home = QDir::homePath() + u'/';
    const auto addPlace = [&places, &home](const std::string& folder) {
        QString shown = LocalPathText(folder);
        if (shown.startsWith(home)) {
            shown.replace(0, home.size(), QStringLiteral("~/"));
        }
        places += QStringLiteral("<br>&nbsp;&nbsp;") + shown.toHtmlEscaped();
    };
    for (const std::vector<std::string>& locations : {SearchedBackupLocations(), lookedIn_}) {
        std::for_each(locations.begin(), locations.end(), addPlace);
    }
    emptyHint_->setText(QStringLiteral("No backup was found. Marrowick looked in:%1<br><br><a href=\"add\">Add a "
                                       "folder that holds backups...</a> (Ctrl+A), or drop a backup folder onto this "
                                       "window.")
                            .arg(places));
    emptyHint_->setGeometry(backupList_->viewport()->rect());
    emptyHint_->show();
}

void CMarrowickDlg::keyPressEvent(QKeyEvent* event) {
    if (IsEnterOrEscape(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CMarrowickDlg::eventFilter(QObject* watched, QEvent* event) {
    // Neither key closes the window, nor does anything in the list or the usage box.
    if (IsEnterOrEscape(event)) {
        return true;
    }
    if (watched == backupList_->viewport() && event->type() == QEvent::Resize) {
        emptyHint_->setGeometry(backupList_->viewport()->rect());
    }
    if (watched == backupList_->viewport() && IsLeftButton(event, QEvent::MouseButtonDblClick)) {
        OpenSelectedBackup();
        return true;
    }
    // A click beside the rows keeps the selection, so that a double-click there opens the selected row.
    if (watched == backupList_->viewport() && IsLeftButton(event, QEvent::MouseButtonPress) &&
        !backupList_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid()) {
        backupList_->setFocus(Qt::MouseFocusReason);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CMarrowickDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFolder(*event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CMarrowickDlg::dropEvent(QDropEvent* event) {
    const QString folder = DroppedFolder(*event->mimeData());
    if (folder.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // The drag's source waits until the drop returns: the questions come after it.
    QMetaObject::invokeMethod(
        this, [this, path = QFile::encodeName(folder).toStdString()] { OnFolderDropped(path); }, Qt::QueuedConnection);
}

void CMarrowickDlg::OnFolderDropped(const std::string& folder) {
    const FolderDropOutcome outcome = TakeDroppedFolder(this, folder, lookedIn_);
    if (outcome.Refresh) {
        OnRefresh();
    }
    if (outcome.Open) {
        treeLoader_->Open(*outcome.Open);
    }
}

void CMarrowickDlg::OpenSelectedBackup() {
    const QModelIndexList selected = backupList_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    const auto row = static_cast<std::size_t>(selected.front().row());
    if (row >= rows_.size()) {
        return;
    }
    // The file manager opens once its tree is ready: ShowFileManager.
    treeLoader_->Open(rows_[row]);
}

void CMarrowickDlg::ShowFileManager(const BackupRecord& backup, const BackupTreeResult& tree) {
    if (tree.Status == TreeStatus::Encrypted && ManifestPlistSaysEncrypted(backup.FolderPath) &&
        !FindUnlockedBackup(backup.FolderPath)) {
        CDlgBackupPassword ask(QString::fromStdString(backup.Name), UnlockInBackground(backup.FolderPath), this);
        if (ask.exec() == QDialog::Accepted) {
            // Read again, now decrypted; the file manager opens when that read is done.
            ForgetCachedTree(backup.FolderPath);
            treeLoader_->Open(backup);
            return;
        }
        if (!ask.FailureReason().isEmpty()) {
            ShowProgramMessage(this, QStringLiteral("The backup cannot be opened: %1.").arg(ask.FailureReason()),
                               QMessageBox::Warning);
            return;
        }
    }
    CDlgFileManager dialog(backup, tree, this);
    dialog.exec();
}

void CMarrowickDlg::OnAddLocation() {
    if (RunSetBackupPathCommand(this)) {
        OnRefresh();
    }
}

void CMarrowickDlg::OnChangeLocation() {
    const bool searchAgain = RunRelocationCommand(this);
    // A failure box shown over the closing dialog leaves no window active, so keys would go nowhere.
    activateWindow();
    backupList_->setFocus(Qt::OtherFocusReason);
    if (searchAgain) {
        OnRefresh();
    }
}

void CMarrowickDlg::OnRefresh() {
    // The list shows empty while the scan blocks the window.
    backupList_->setRowCount(0);
    backupList_->repaint();
    rows_ = RefreshBackupList(lookedIn_);
    FillBackupList();
}

void CMarrowickDlg::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMarrowickDlg::OnHelp() {
    OpenProductPage();
}

void CMarrowickDlg::OnLinkClicked(const QUrl& link) {
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + link.toString()));
}

} // namespace marrowick
