#pragma once

#include "core/backup/SummaryReader.h"

#include <string>
#include <vector>

namespace marrowick {

// True when the five shown fields are byte for byte equal; the folder and the manifest kind do not count.
[[nodiscard]] bool IsSameBackup(const BackupRecord& a, const BackupRecord& b);

// Adds the backups found in location (its subfolders, and theirs when a subfolder is not a backup itself).
// A backup found at the first level is dropped when an equal one is listed already. Reads only; a location that
// is missing or cannot be listed adds nothing.
void ScanBackupLocation(std::string location, std::vector<BackupRecord>& rows);

// Every backup of every location in BackupLocations, then of moreLocations (folders looked in for this run only),
// oldest first.
[[nodiscard]] std::vector<BackupRecord> RefreshBackupList(const std::vector<std::string>& moreLocations = {});

} // namespace marrowick
