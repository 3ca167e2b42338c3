#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace marrowick {

// Slots 0 and 1: the two default backup folders; 2 to 19: extra folders, packed; 20: always empty.
// An empty slot ends the list.
inline constexpr std::size_t BackupLocationSlots = 21;
inline constexpr std::size_t FirstExtraLocationSlot = 2;
inline constexpr std::size_t LastExtraLocationSlot = 19;
inline constexpr std::size_t MaxExtraLocations = LastExtraLocationSlot - FirstExtraLocationSlot + 1;

extern std::array<std::string, BackupLocationSlots> BackupLocations;
// The "MobileSync" folders that hold the two default backup folders (slots 0 and 1 without "Backup/").
extern std::array<std::string, 2> MobileSyncFolders;

// The default backup folders and the settings root; each ends with "/".
[[nodiscard]] std::string GetAppDataBackupFolder(); // data folder + "/Apple Computer/MobileSync/Backup/"
[[nodiscard]] std::string GetProfileBackupFolder(); // home + "/Apple/MobileSync/Backup/"
[[nodiscard]] std::string GetSettingsFolder();      // config folder + "/"
// GetSettingsFolder() + "Marrowick/": where "backuppath.txt" and "dir.txt" live.
[[nodiscard]] std::string GetMarrowickSettingsFolder();

// The locations a refresh searches: the slots in order, up to the first empty one.
[[nodiscard]] std::vector<std::string> SearchedBackupLocations();

// Empties the table and fills the default slots and the MobileSync folders.
void ResetBackupLocations();

} // namespace marrowick
