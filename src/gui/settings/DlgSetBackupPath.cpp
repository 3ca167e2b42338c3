#include "gui/settings/DlgSetBackupPath.h"

#include "core/settings/ExtraLocations.h"
#include "gui/browser/FolderPicker.h"
#include "gui/controls/DialogUnits.h"
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

CDlgSetBackupPath::CDlgSetBackupPath(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Add/Delete Other iTunes Backup Location"));
    introText_ = new QLabel(QStringLiteral("We always look for iTunes backups in your default folder. If you store "
                                           "backups in other locations, you can add them below."),
                            this);
    introText_->setTextFormat(Qt::PlainText);
    introText_->setWordWrap(true);
    introText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    locationList_ = new QListWidget(this);
    locationList_->setSelectionMode(QAbstractItemView::SingleSelection);
    locationList_->setSortingEnabled(false);
    locationList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    addButton_ = new CThemedButton(QStringLiteral("Add"), QString(), &themeHelper_, this);
    deleteButton_ = new CThemedButton(QStringLiteral("Delete"), QString(), &themeHelper_, this);
    okButton_ = new CThemedButton(QStringLiteral("OK"), QStringLiteral(":/icons/ok.svg"), &themeHelper_, this);
    cancelButton_ =
        new CThemedButton(QStringLiteral("Cancel"), QStringLiteral(":/icons/cancel.svg"), &themeHelper_, this);
    okButton_->setDefault(true);

    // Proportions of the original 312 x 196 dialog-unit window.
    const QFontMetrics metrics(font());
    const auto unitsX = [this](int units) { return DialogUnits(*this, units, 0).width(); };
    const auto unitsY = [this](int units) { return DialogUnits(*this, 0, units).height(); };
    introText_->setMinimumHeight(std::max(unitsY(19), 2 * metrics.lineSpacing()));
    locationList_->setMinimumSize(unitsX(298), unitsY(131));
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(unitsX(10), unitsY(2), unitsX(10), 0);
    for (CThemedButton* button : {addButton_, deleteButton_, okButton_, cancelButton_}) {
        button->setMinimumSize(unitsX(56), unitsY(20));
        buttons->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(unitsX(7), unitsY(7), unitsX(7), unitsY(7));
    layout->addWidget(introText_);
    layout->addWidget(locationList_, 1);
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
    if (!result.Message.empty()) {
        ShowSettingsWarning(this, QString::fromStdString(result.Message));
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
