#pragma once

#include <string>

// "backuppath.txt" in the settings folder: the extra backup locations, one a line, CR LF after each.
namespace marrowick {

// Fills the extra slots of BackupLocations from the file; without a file, only the default folders remain.
void LoadBackupLocations();

// Writes the extra slots up to the first empty one. On failure returns false, leaves the former file whole and
// puts the real reason in *reason when given (a settings folder that cannot be made says why).
[[nodiscard]] bool SaveBackupLocations(std::string* reason = nullptr);

} // namespace marrowick
