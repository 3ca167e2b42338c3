#include "core/settings/LocationsFile.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/Files.h"
#include "core/settings/Relocation.h"

#include <optional>
#include <sstream>

namespace marrowick {
namespace {

constexpr const char* LocationsFileName = "backuppath.txt";
// 18 folder paths take a few KB; a file far larger is not the list.
constexpr std::size_t MaxLocationsFileBytes = std::size_t{16} << 20;

std::size_t unreadLines = 0;

// The lines left in in that hold more than a line end.
std::size_t CountNonEmptyLines(std::istream& in) {
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find_first_not_of('\r') != std::string::npos ? 1 : 0;
    }
    return count;
}

} // namespace

void InitBackupLocations() {
    ResetBackupLocations();
    LoadBackupLocations();
}

std::string GetLocationsFilePath() {
    return GetMarrowickSettingsFolder() + LocationsFileName;
}

std::size_t LoadBackupLocations() {
    // A settings folder that cannot be made is told when the locations are saved, not at start.
    (void)EnsureFolderPath(GetMarrowickSettingsFolder());
    unreadLines = 0;
    // Read whole and only when it is a regular file (or a link to one): a FIFO in its place must not hang the start.
    const Result<std::string> content = ReadWholeFile(GetLocationsFilePath(), MaxLocationsFileBytes);
    if (!content) {
        BackupLocations[0] = GetAppDataBackupFolder();
        BackupLocations[1] = GetProfileBackupFolder();
        BackupLocations[FirstExtraLocationSlot].clear();
        return 0;
    }
    std::istringstream file(*content);
    std::string line;
    bool ended = false; // an empty line ends the list; the slots after it are read but never used
    for (std::size_t slot = FirstExtraLocationSlot; slot <= LastExtraLocationSlot && std::getline(file, line); ++slot) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        ended = ended || line.empty();
        unreadLines += ended && !line.empty() ? 1 : 0;
        BackupLocations[slot] = line;
    }
    unreadLines += CountNonEmptyLines(file);
    return unreadLines;
}

std::size_t UnreadLocationLines() {
    return unreadLines;
}

std::string UnreadLocationLinesMessage(std::size_t count) {
    if (count == 0) {
        return {};
    }
    return std::to_string(count) + (count == 1 ? " line of \"" : " lines of \"") + GetLocationsFilePath() +
           (count == 1 ? "\" was" : "\" were") +
           " left out: only the first 18 lines, up to the first empty one, are used. Saving the locations drops " +
           (count == 1 ? "it" : "them") + " from the file.";
}

Result<void> SaveBackupLocations() {
    std::string content;
    for (std::size_t slot = FirstExtraLocationSlot; slot <= LastExtraLocationSlot && !BackupLocations[slot].empty();
         ++slot) {
        content += BackupLocations[slot];
        content += "\r\n";
    }
    if (Result<void> folder = EnsureFolderPath(GetMarrowickSettingsFolder()); !folder) {
        return folder;
    }
    if (Result<void> written = WriteFileAtomically(GetLocationsFilePath(), content); !written) {
        return written;
    }
    unreadLines = 0;
    return {};
}

} // namespace marrowick
