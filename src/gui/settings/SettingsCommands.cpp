#include "gui/settings/SettingsCommands.h"

#include "core/settings/ExtraLocations.h"
#include "core/settings/LocationsFile.h"
#include "core/settings/Relocation.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/settings/DlgModifyItunesBackupPath.h"
#include "gui/settings/DlgSetBackupPath.h"

#include <QMessageBox>

#include <string>

namespace marrowick {

void ShowSettingsWarning(QWidget* owner, const QString& text, const QString& details) {
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, owner);
    box.setInformativeText(details);
    box.exec();
}

namespace {

void SaveLocationsTellingFailure(QWidget* owner) {
    if (const Result<void> saved = SaveBackupLocations(); !saved) {
        const std::string file = GetLocationsFilePath();
        const std::string reason = SettingsReasonText(saved.Error());
        ShowProgramMessage(
            owner, QString::fromLatin1(FailedToWriteFileMessage), QMessageBox::NoIcon,
            QStringLiteral("\"%1\": %2.").arg(QString::fromStdString(file), QString::fromStdString(reason)));
    }
}

} // namespace

bool RunSetBackupPathCommand(QWidget* owner) {
    CDlgSetBackupPath dialog(owner);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    SaveLocationsTellingFailure(owner);
    return true;
}

bool RememberBackupLocation(QWidget* owner, const std::string& folder) {
    const AddLocationResult added = AddExtraLocation(folder);
    if (!added.Added()) {
        if (const std::string text = AddLocationStatusText(added.Status); !text.empty()) {
            ShowSettingsWarning(owner, QString::fromStdString(text));
        }
        return false;
    }
    SaveLocationsTellingFailure(owner);
    return true;
}

bool RunRelocationCommand(QWidget* owner) {
    const RelocationPreparation preparation = PrepareRelocation();
    for (const PreparationProblem& problem : preparation.Problems) {
        ShowProgramMessage(owner, QString::fromStdString(PreparationProblemText(problem)));
    }
    CDlgModifyItunesBackupPath dialog(preparation.InitialLocation, owner);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace marrowick
