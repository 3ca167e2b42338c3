#include "core/settings/LocationsFile.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/AtomicFile.h"

#include <filesystem>
#include <fstream>

namespace marrowick {
namespace {

constexpr const char* LocationsFileName = "backuppath.txt";

std::string CreateSettingsFolder() {
    const std::string folder = GetMarrowickSettingsFolder();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

} // namespace

void LoadBackupLocations() {
    std::ifstream file(CreateSettingsFolder() + LocationsFileName, std::ios::binary);
    if (!file) {
        BackupLocations[0] = GetAppDataBackupFolder();
        BackupLocations[1] = GetProfileBackupFolder();
        BackupLocations[FirstExtraLocationSlot].clear();
        return;
    }
    std::string line;
    for (std::size_t slot = FirstExtraLocationSlot; slot <= LastExtraLocationSlot && std::getline(file, line); ++slot) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        BackupLocations[slot] = line;
    }
}

bool SaveBackupLocations(std::string* reason) {
    std::string content;
    for (std::size_t slot = FirstExtraLocationSlot; slot <= LastExtraLocationSlot && !BackupLocations[slot].empty();
         ++slot) {
        content += BackupLocations[slot];
        content += "\r\n";
    }
    return WriteFileAtomically(CreateSettingsFolder() + LocationsFileName, content, reason);
}

} // namespace marrowick
