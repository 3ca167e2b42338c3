#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The edits of the extra-locations dialog, made in place on BackupLocations; nothing here writes the file (the
// caller saves with SaveBackupLocations when the edits are confirmed).
namespace marrowick {

inline constexpr const char* DuplicateLocationMessage = "This path is exist, you don't need to add again.";
inline constexpr const char* LocationTableFullMessage =
    "There are already 18 other backup locations. Delete one before adding another.";
inline constexpr const char* NoRowSelectedMessage = "Please select a row at first.";
inline constexpr const char* ControlCharacterLocationMessage =
    "The folder's path holds a line break or another control character, which the list of backup locations cannot "
    "keep. Rename the folder, or choose another one.";

enum class AddLocationStatus {
    Added,
    NothingChosen, // an empty path: the picker was cancelled
    Duplicate,     // the folder is one of the listed locations, default folders included
    TableFull,     // 18 extra locations are listed already
    Unstorable,    // the path holds a control character: a line break would split its line of "backuppath.txt"
};

struct AddLocationResult {
    AddLocationStatus Status = AddLocationStatus::NothingChosen;
    std::string Folder; // the folder as stored (or as it would have been), ending with "/"
    [[nodiscard]] bool Added() const { return Status == AddLocationStatus::Added; }
};

// What to tell the user about an add that ended with status; "" when Added or NothingChosen.
[[nodiscard]] std::string AddLocationStatusText(AddLocationStatus status);

// True when text holds a byte below 0x20 or 0x7F (DEL), which no line of "backuppath.txt" can hold.
[[nodiscard]] bool HoldsControlCharacter(const std::string& text);

// The extra locations, slot 2 first, up to the first empty slot: the rows of the dialog's list.
[[nodiscard]] std::vector<std::string> ExtraLocationRows();

// Stores folder (a "/" appended when missing) in the first empty slot. Paths are compared byte for byte, as the
// file system does (a folder differing only in letter case is another folder), each side with its trailing "/".
// A path holding a control character is refused (Unstorable) before anything else is looked at.
[[nodiscard]] AddLocationResult AddExtraLocation(const std::string& folder);

// Deletes the extra location shown in list row row (slot row + 2); the rows below move up. False when there is
// no such row.
[[nodiscard]] bool DeleteExtraLocationRow(std::size_t row);

// The list row of the extra location folder, with or without a trailing "/" on either side; -1 when none.
[[nodiscard]] int FindExtraLocationRow(const std::string& folder);

} // namespace marrowick
