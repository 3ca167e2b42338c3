#include "gui/app/FolderDrop.h"

#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/platform/Files.h"
#include "gui/controls/DialogWidgets.h"
#include "gui/controls/LocalPath.h"
#include "gui/settings/SettingsCommands.h"

#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace marrowick {
namespace {

bool IsBackupLocation(const std::string& folder) {
    const std::string wanted = WithTrailingSlash(folder);
    return std::any_of(BackupLocations.begin(), BackupLocations.end(), [&wanted](const std::string& location) {
        return !location.empty() && WithTrailingSlash(location) == wanted;
    });
}

std::string ParentFolder(const std::string& path) {
    const std::string folder = WithoutTrailingSlashes(path);
    const std::size_t slash = folder.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : folder.substr(0, slash);
}

// True when folder was made a backup location; it is then no longer looked in for this run only.
bool OfferToRemember(QWidget* owner, const std::string& folder, const QString& question,
                     std::vector<std::string>& lookedIn) {
    if (IsBackupLocation(folder) || !AskProgramQuestion(owner, question) || !RememberBackupLocation(owner, folder)) {
        return false;
    }
    lookedIn.erase(std::remove(lookedIn.begin(), lookedIn.end(), folder), lookedIn.end());
    return true;
}

} // namespace

QString DroppedFolder(const QMimeData& data) {
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir()) {
            return url.toLocalFile();
        }
    }
    return {};
}

FolderDropOutcome TakeDroppedFolder(QWidget* owner, const std::string& folder, std::vector<std::string>& lookedIn) {
    FolderDropOutcome outcome;
    BackupRecord backup;
    if (ReadBackupSummary(backup, folder)) {
        backup.FolderPath = WithTrailingSlash(folder);
        const std::string parent = ParentFolder(folder);
        outcome.Refresh = OfferToRemember(
            owner, parent,
            QStringLiteral("Remember \"%1\", the folder that holds this backup, as a backup location? Its backups are "
                           "then listed each time Marrowick starts.")
                .arg(LocalPathText(parent)),
            lookedIn);
        outcome.Open = std::move(backup);
        return outcome;
    }
    std::vector<BackupRecord> found;
    ScanBackupLocation(folder, found);
    if (found.empty()) {
        ShowProgramMessage(
            owner, QStringLiteral("No backup was found in \"%1\" or in the folders in it.").arg(LocalPathText(folder)));
        return outcome;
    }
    outcome.Refresh = true;
    if (IsBackupLocation(folder)) {
        return outcome;
    }
    const QString holds = found.size() == 1 ? QStringLiteral("a backup")
                                            : QStringLiteral("%1 backups").arg(static_cast<qsizetype>(found.size()));
    if (OfferToRemember(owner, folder,
                        QStringLiteral("\"%1\" holds %2. Remember it as a backup location, so that they are listed "
                                       "each time Marrowick starts?")
                            .arg(LocalPathText(folder), holds),
                        lookedIn)) {
        return outcome;
    }
    if (std::find(lookedIn.begin(), lookedIn.end(), folder) == lookedIn.end()) {
        lookedIn.push_back(folder);
    }
    return outcome;
}

} // namespace marrowick
