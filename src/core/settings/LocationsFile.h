#pragma once

#include "core/platform/Result.h"

#include <cstddef>
#include <string>

// "backuppath.txt" in the settings folder: the extra backup locations, one a line, CR LF after each.
namespace marrowick {

// What the main window does as it starts: ResetBackupLocations, then the extra locations from the file.
void InitBackupLocations();

// The settings folder + "backuppath.txt".
[[nodiscard]] std::string GetLocationsFilePath();

// Fills the extra slots of BackupLocations from the file; without a file, only the default folders remain. Returns
// how many lines naming a folder were left out: those past the 18th and those after an empty line.
std::size_t LoadBackupLocations();

// What the last LoadBackupLocations returned, until SaveBackupLocations replaces the file (which drops those lines).
[[nodiscard]] std::size_t UnreadLocationLines();

// Tells that count lines of the file were left out and that a save drops them; "" when count is 0.
[[nodiscard]] std::string UnreadLocationLinesMessage(std::size_t count);

// Writes the extra slots up to the first empty one. A failure leaves the former file whole and holds the real cause:
// that of the settings folder when it cannot be made (EnsureFolderPath), else that of the write. SettingsReasonText
// gives the reason to show.
[[nodiscard]] Result<void> SaveBackupLocations();

} // namespace marrowick
