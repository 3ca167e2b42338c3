#include "core/settings/ExtraLocations.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/Files.h"

#include <algorithm>

namespace marrowick {

bool HoldsControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::vector<std::string> ExtraLocationRows() {
    std::vector<std::string> rows;
    for (std::size_t slot = FirstExtraLocationSlot; slot <= LastExtraLocationSlot && !BackupLocations[slot].empty();
         ++slot) {
        rows.push_back(BackupLocations[slot]);
    }
    return rows;
}

std::string AddLocationStatusText(AddLocationStatus status) {
    switch (status) {
    case AddLocationStatus::Duplicate:
        return DuplicateLocationMessage;
    case AddLocationStatus::TableFull:
        return LocationTableFullMessage;
    case AddLocationStatus::Unstorable:
        return ControlCharacterLocationMessage;
    case AddLocationStatus::Added:
    case AddLocationStatus::NothingChosen:
        break;
    }
    return {};
}

// Expects the default slots filled (InitBackupLocations), so that the first empty slot is an extra one.
AddLocationResult AddExtraLocation(const std::string& folder) {
    AddLocationResult result;
    if (folder.empty()) {
        return result;
    }
    result.Folder = WithTrailingSlash(folder);
    if (HoldsControlCharacter(folder)) {
        result.Status = AddLocationStatus::Unstorable;
        return result;
    }
    std::size_t slot = 0;
    for (; slot <= LastExtraLocationSlot && !BackupLocations[slot].empty(); ++slot) {
        // Lines read from the file may lack the "/"; they name the same folder all the same.
        if (WithTrailingSlash(BackupLocations[slot]) == result.Folder) {
            result.Status = AddLocationStatus::Duplicate;
            return result;
        }
    }
    if (slot > LastExtraLocationSlot) {
        result.Status = AddLocationStatus::TableFull;
        return result;
    }
    BackupLocations[slot] = result.Folder;
    result.Status = AddLocationStatus::Added;
    return result;
}

bool DeleteExtraLocationRow(std::size_t row) {
    const std::size_t slot = row + FirstExtraLocationSlot;
    if (row > MaxExtraLocations - 1 || BackupLocations[slot].empty()) {
        return false;
    }
    // Slot 20 is always empty, so slot 19 ends up empty.
    for (std::size_t j = slot; j <= LastExtraLocationSlot; ++j) {
        BackupLocations[j] = BackupLocations[j + 1];
    }
    return true;
}

int FindExtraLocationRow(const std::string& folder) {
    if (folder.empty()) {
        return -1;
    }
    const std::string wanted = WithTrailingSlash(folder);
    const std::vector<std::string> rows = ExtraLocationRows();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (WithTrailingSlash(rows[row]) == wanted) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

} // namespace marrowick
