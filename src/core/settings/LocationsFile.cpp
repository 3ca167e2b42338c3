#include "core/settings/LocationsFile.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/AtomicFile.h"
#include "core/settings/Relocation.h"

#include <fstream>

namespace marrowick {
namespace {

constexpr const char* LocationsFileName = "backuppath.txt";

} // namespace

void LoadBackupLocations() {
    // A settings folder that cannot be made is told when the locations are saved, not at start.
    (void)EnsureFolderPath(GetMarrowickSettingsFolder());
    std::ifstream file(GetMarrowickSettingsFolder() + LocationsFileName, std::ios::binary);
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
    const std::string folder = GetMarrowickSettingsFolder();
    return EnsureFolderPath(folder, reason) && WriteFileAtomically(folder + LocationsFileName, content, reason);
}

} // namespace marrowick
