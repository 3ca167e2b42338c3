#include "gui/settings/DlgModifyItunesBackupPath.h"

#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/FolderPicker.h"
#include "gui/controls/ImageButton.h"
#include "gui/settings/SettingsCommands.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace marrowick {

CDlgModifyItunesBackupPath::CDlgModifyItunesBackupPath(std::string initialLocation, QWidget* parent)
    : QDialog(parent, MinimizableDialogFlags), initialLocation_(std::move(initialLocation)) {
    setWindowTitle(QStringLiteral("Change iTunes Backup Location"));
    // Both default backup folders lie in the home folder, where Windows has them on the system disk.
    noticeText_ = NewParagraphLabel(QStringLiteral("The default iTunes backup location is set to your home folder(~/). "
                                                   "You can change the location to other path here.\n\nNotice: It will "
                                                   "not take effect until you click the OK button."),
                                    this);
    locationCaption_ = NewPlainLabel(QStringLiteral("Current iTunes Backup Location:"), this);
    locationBox_ = new QLineEdit(QString::fromStdString(initialLocation_), this);
    locationBox_->setReadOnly(true);

    changeButton_ = new CThemedButton(QStringLiteral("Change"), QString(), &themeHelper_, this);
    restoreButton_ = new CThemedButton(QStringLiteral("Restore"), QString(), &themeHelper_, this);
    okButton_ = NewOkButton(&themeHelper_, this);
    cancelButton_ = NewCancelButton(&themeHelper_, this);

    // Proportions of the original 260 x 115 dialog-unit window.
    const QFontMetrics metrics(font());
    noticeText_->setMinimumSize(DialogUnitsX(*this, 246), std::max(DialogUnitsY(*this, 38), 4 * metrics.lineSpacing()));
    locationBox_->setMinimumWidth(DialogUnitsX(*this, 171));
    changeButton_->setMinimumSize(DialogUnits(*this, 34, 14));
    restoreButton_->setMinimumSize(DialogUnits(*this, 34, 14));
    okButton_->setMinimumSize(DialogUnits(*this, 73, 21));
    cancelButton_->setMinimumSize(DialogUnits(*this, 73, 21));

    auto* locationRow = new QHBoxLayout;
    locationRow->addWidget(locationBox_, 1);
    locationRow->addWidget(changeButton_);
    locationRow->addWidget(restoreButton_);
    auto* closeRow = new QHBoxLayout;
    closeRow->setContentsMargins(DialogUnitsX(*this, 29), DialogUnitsY(*this, 14), DialogUnitsX(*this, 42), 0);
    closeRow->addWidget(okButton_);
    closeRow->addSpacing(DialogUnitsX(*this, 29));
    closeRow->addWidget(cancelButton_);
    closeRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->addWidget(noticeText_);
    layout->addWidget(locationCaption_);
    layout->addLayout(locationRow);
    layout->addLayout(closeRow);

    connect(changeButton_, &QPushButton::clicked, this, &CDlgModifyItunesBackupPath::OnChange);
    connect(restoreButton_, &QPushButton::clicked, this, &CDlgModifyItunesBackupPath::OnRestore);
    connect(okButton_, &QPushButton::clicked, this, &CDlgModifyItunesBackupPath::OnOk);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

CDlgModifyItunesBackupPath::~CDlgModifyItunesBackupPath() = default;

void CDlgModifyItunesBackupPath::OnChange() {
    const QString folder = PickFolder(this, QStringLiteral("Please set new path for iTunes backup."));
    if (!folder.isEmpty()) {
        locationBox_->setText(folder);
    }
}

void CDlgModifyItunesBackupPath::OnRestore() {
    locationBox_->clear();
}

void CDlgModifyItunesBackupPath::OnOk() {
    // An unchanged box stands for the target's own bytes, which a name that is not UTF-8 does not survive in a QString.
    const QString shown = locationBox_->text();
    const std::string newLocation =
        shown == QString::fromStdString(initialLocation_) ? initialLocation_ : shown.toStdString();
    result_ = ApplyBackupLocation(initialLocation_, newLocation, CurrentRelocationTimestamp());
    if (!result_.Succeeded()) {
        QString done = QStringLiteral("Nothing was changed.");
        if (!result_.Done.empty()) {
            done = QStringLiteral("Done before the failure:");
            for (const RelocationStep& step : result_.Done) {
                done += u'\n' + QString::fromStdString(RelocationStepText(step));
            }
        }
        ShowSettingsWarning(this, QString::fromStdString(RelocationFailureText(*result_.Problem, initialLocation_)),
                            done);
    }
    // Closes with OK even after a failure: steps made before it change what the list must show.
    accept();
}

} // namespace marrowick
