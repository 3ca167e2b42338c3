#include "gui/settings/DlgSetBackupPath.h"

#include "core/settings/ExtraLocations.h"
#include "core/settings/LocationsFile.h"
#include "gui/controls/DialogUnits.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/FolderPicker.h"
#include "gui/controls/ImageButton.h"
#include "gui/settings/SettingsCommands.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

namespace marrowick {

CDlgSetBackupPath::CDlgSetBackupPath(QWidget* parent) : QDialog(parent, MinimizableDialogFlags) {
    setWindowTitle(QStringLiteral("Add/Delete Other iTunes Backup Location"));
    introText_ = NewParagraphLabel(QStringLiteral("We always look for iTunes backups in your default folder. If you "
                                                  "store backups in other locations, you can add them below."),
                                   this);
    locationList_ = new QListWidget(this);
    locationList_->setSelectionMode(QAbstractItemView::SingleSelection);
    locationList_->setSortingEnabled(false);
    locationList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Told where the list is edited, for as long as the file still holds those lines (OK saves it without them).
    unreadLinesNote_ =
        NewParagraphLabel(QString::fromStdString(UnreadLocationLinesMessage(UnreadLocationLines())), this);
    unreadLinesNote_->setVisible(!unreadLinesNote_->text().isEmpty());

    addButton_ = new CThemedButton(QStringLiteral("Add"), QString(), &themeHelper_, this);
    deleteButton_ = new CThemedButton(QStringLiteral("Delete"), QString(), &themeHelper_, this);
    okButton_ = NewOkButton(&themeHelper_, this);
    cancelButton_ = NewCancelButton(&themeHelper_, this);

    // Proportions of the original 312 x 196 dialog-unit window.
    const QFontMetrics metrics(font());
    introText_->setMinimumHeight(std::max(DialogUnitsY(*this, 19), 2 * metrics.lineSpacing()));
    locationList_->setMinimumSize(DialogUnits(*this, 298, 131));
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(DialogUnitsX(*this, 10), DialogUnitsY(*this, 2), DialogUnitsX(*this, 10), 0);
    for (CThemedButton* button : {addButton_, deleteButton_, okButton_, cancelButton_}) {
        button->setMinimumSize(DialogUnits(*this, 56, 20));
        buttons->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->addWidget(introText_);
    layout->addWidget(locationList_, 1);
    layout->addWidget(unreadLinesNote_);
    layout->addLayout(buttons);

    connect(addButton_, &QPushButton::clicked, this, &CDlgSetBackupPath::OnAdd);
    connect(deleteButton_, &QPushButton::clicked, this, &CDlgSetBackupPath::OnDelete);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    FillLocationList();
}

CDlgSetBackupPath::~CDlgSetBackupPath() = default;

void CDlgSetBackupPath::FillLocationList() {
    locationList_->clear();
    for (const std::string& location : ExtraLocationRows()) {
        locationList_->addItem(QString::fromStdString(location));
    }
}

void CDlgSetBackupPath::OnAdd() {
    const QString folder = PickFolder(this, QStringLiteral("Please set extra backup path."));
    const AddLocationResult result = AddExtraLocation(folder.toStdString());
    if (const std::string message = AddLocationStatusText(result.Status); !message.empty()) {
        ShowSettingsWarning(this, QString::fromStdString(message));
        return;
    }
    if (result.Added()) {
        FillLocationList();
    }
}

void CDlgSetBackupPath::OnDelete() {
    const QModelIndexList selected = locationList_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        ShowSettingsWarning(this, QString::fromLatin1(NoRowSelectedMessage));
        return;
    }
    // The refill shows the table as it is, whether or not it still held the row.
    (void)DeleteExtraLocationRow(static_cast<std::size_t>(selected.front().row()));
    FillLocationList();
}

} // namespace marrowick
