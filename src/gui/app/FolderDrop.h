#pragma once

#include "core/backup/SummaryReader.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

namespace marrowick {

// The first local folder among what is dragged; empty when there is none.
[[nodiscard]] QString DroppedFolder(const QMimeData& data);

struct FolderDropOutcome {
    bool Refresh = false;             // the backup list must be searched again
    std::optional<BackupRecord> Open; // the dropped backup, to be opened
};

// A folder dropped onto the main window: a backup is opened; a folder that holds backups is looked in for the rest
// of the run (added to lookedIn). Either way the person is asked whether to remember where they lie, unless it is a
// backup location already; a folder with no backup in it is said to hold none.
[[nodiscard]] FolderDropOutcome TakeDroppedFolder(QWidget* owner, const std::string& folder,
                                                  std::vector<std::string>& lookedIn);

} // namespace marrowick
