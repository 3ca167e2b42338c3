#include "gui/settings/SettingsCommands.h"

#include "core/backup/BackupLocations.h"
#include "core/settings/LocationsFile.h"
#include "core/settings/Relocation.h"
#include "gui/settings/DlgModifyItunesBackupPath.h"
#include "gui/settings/DlgSetBackupPath.h"

#include <QMessageBox>

#include <string>

namespace marrowick {

namespace {

// The main window's own errors carry the program file's name as caption and no icon.
void ShowMainWindowMessage(QWidget* owner, const QString& text, const QString& details = QString()) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("marrowick"), text, QMessageBox::Ok, owner);
    box.setInformativeText(details);
    box.exec();
}

} // namespace

void ShowSettingsWarning(QWidget* owner, const QString& text, const QString& details) {
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, owner);
    box.setInformativeText(details);
    box.exec();
}

bool RunSetBackupPathCommand(QWidget* owner) {
    CDlgSetBackupPath dialog(owner);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    std::string reason;
    if (!SaveBackupLocations(&reason)) {
        const std::string file = GetMarrowickSettingsFolder() + "backuppath.txt";
        ShowMainWindowMessage(
            owner, QString::fromLatin1(FailedToWriteFileMessage),
            QStringLiteral("\"%1\": %2.").arg(QString::fromStdString(file), QString::fromStdString(reason)));
    }
    return true;
}

bool RunRelocationCommand(QWidget* owner) {
    const RelocationPreparation preparation = PrepareRelocation();
    for (const std::string& problem : preparation.Problems) {
        ShowMainWindowMessage(owner, QString::fromStdString(problem));
    }
    CDlgModifyItunesBackupPath dialog(preparation.InitialLocation, owner);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace marrowick
