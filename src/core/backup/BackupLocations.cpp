#include "core/backup/BackupLocations.h"

#include "core/platform/SpecialFolders.h"

namespace marrowick {
namespace {

constexpr std::size_t BackupSuffixLength = 8; // the "/Backup/" that ends both default folders

} // namespace

std::array<std::string, BackupLocationSlots> BackupLocations;
std::array<std::string, 2> MobileSyncFolders;

std::string GetAppDataBackupFolder() {
    return UserDataFolder() + "/Apple Computer/MobileSync/Backup/";
}

std::string GetProfileBackupFolder() {
    return UserHomeFolder() + "/Apple/MobileSync/Backup/";
}

std::string GetSettingsFolder() {
    return UserConfigFolder() + "/";
}

std::string GetMarrowickSettingsFolder() {
    return GetSettingsFolder() + "Marrowick/";
}

std::vector<std::string> SearchedBackupLocations() {
    std::vector<std::string> locations;
    for (std::size_t slot = 0; slot < BackupLocationSlots - 1 && !BackupLocations[slot].empty(); ++slot) {
        locations.push_back(BackupLocations[slot]);
    }
    return locations;
}

void ResetBackupLocations() {
    BackupLocations.fill(std::string());
    BackupLocations[0] = GetAppDataBackupFolder();
    BackupLocations[1] = GetProfileBackupFolder();
    for (std::size_t i = 0; i < MobileSyncFolders.size(); ++i) {
        MobileSyncFolders[i] = BackupLocations[i].substr(0, BackupLocations[i].size() - BackupSuffixLength);
    }
}

} // namespace marrowick
