#include "gui/settings/DlgModifyItunesBackupPath.h"

#include "gui/browser/FolderPicker.h"
#include "gui/controls/DialogUnits.h"
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
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      initialLocation_(std::move(initialLocation)) {
    setWindowTitle(QStringLiteral("Change iTunes Backup Location"));
    // Both default backup folders lie in the home folder, where Windows has them on the system disk.
    noticeText_ = new QLabel(QStringLiteral("The default iTunes backup location is set to your home folder(~/). You "
                                            "can change the location to other path here.\n\nNotice: It will not take "
                                            "effect until you click the OK button."),
                             this);
    noticeText_->setTextFormat(Qt::PlainText);
    noticeText_->setWordWrap(true);
    noticeText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    locationCaption_ = new QLabel(QStringLiteral("Current iTunes Backup Location:"), this);
    locationCaption_->setTextFormat(Qt::PlainText);
    locationBox_ = new QLineEdit(QString::fromStdString(initialLocation_), this);
    locationBox_->setReadOnly(true);

    changeButton_ = new CThemedButton(QStringLiteral("Change"), QString(), &themeHelper_, this);
    restoreButton_ = new CThemedButton(QStringLiteral("Restore"), QString(), &themeHelper_, this);
    okButton_ = new CThemedButton(QStringLiteral("OK"), QStringLiteral(":/icons/ok.svg"), &themeHelper_, this);
    cancelButton_ =
        new CThemedButton(QStringLiteral("Cancel"), QStringLiteral(":/icons/cancel.svg"), &themeHelper_, this);
    okButton_->setDefault(true);

    // Proportions of the original 260 x 115 dialog-unit window.
    const QFontMetrics metrics(font());
    const auto unitsX = [this](int units) { return DialogUnits(*this, units, 0).width(); };
    const auto unitsY = [this](int units) { return DialogUnits(*this, 0, units).height(); };
    noticeText_->setMinimumSize(unitsX(246), std::max(unitsY(38), 4 * metrics.lineSpacing()));
    locationBox_->setMinimumWidth(unitsX(171));
    changeButton_->setMinimumSize(unitsX(34), unitsY(14));
    restoreButton_->setMinimumSize(unitsX(34), unitsY(14));
    okButton_->setMinimumSize(unitsX(73), unitsY(21));
    cancelButton_->setMinimumSize(unitsX(73), unitsY(21));

    auto* locationRow = new QHBoxLayout;
    locationRow->addWidget(locationBox_, 1);
    locationRow->addWidget(changeButton_);
    locationRow->addWidget(restoreButton_);
    auto* closeRow = new QHBoxLayout;
    closeRow->setContentsMargins(unitsX(29), unitsY(14), unitsX(42), 0);
    closeRow->addWidget(okButton_);
    closeRow->addSpacing(unitsX(29));
    closeRow->addWidget(cancelButton_);
    closeRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(unitsX(7), unitsY(7), unitsX(7), unitsY(7));
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
    result_ = ApplyBackupLocation(initialLocation_, locationBox_->text().toStdString(), CurrentRelocationTimestamp());
    if (!result_.Succeeded()) {
        QString done = QStringLiteral("Nothing was changed.");
        if (!result_.Done.empty()) {
            done = QStringLiteral("Done before the failure:");
            for (const std::string& step : result_.Done) {
                done += u'\n' + QString::fromStdString(step);
            }
        }
        ShowSettingsWarning(this, QString::fromStdString(result_.Failure), done);
    }
    // Closes with OK even after a failure: steps made before it change what the list must show.
    accept();
}

} // namespace marrowick
