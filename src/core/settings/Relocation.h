#pragma once

#include "core/platform/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The relocation of iTunes' default backup folder: in both MobileSync folders the entry "Backup" is renamed out of
// the way ("Backup_old" for the ordinary folder, "Backup_" + timestamp for a former link) and a directory link named
// Backup to the new location takes its place; Restore puts "Backup_old" back. Nothing is ever deleted.
namespace marrowick {

inline constexpr const char* UnableToCreatePathMessage = "Unable to create path,maybe the path is invalid.";

// Makes sure the folder path exists, creating its missing folders from the root down. Failures on intermediate
// folders are passed over (most exist already); fails when the last one cannot be made or path is something other
// than a folder, with the first real cause: the failure of the first folder that is not there, or what stands where
// a folder must be (cause NotFolder for a file, NotRegularFile for a FIFO, a device or a socket).
[[nodiscard]] Result<void> EnsureFolderPath(const std::string& path);

// The reason shown after a path in the messages of the settings: CauseText, except that what stands where a folder
// must be is named ("\"/a/b\" is a file, not a folder").
[[nodiscard]] std::string SettingsReasonText(const Failure& failure);

// The listing file: the settings folder + "dir.txt".
[[nodiscard]] std::string GetDirListPath();

// Writes a "dir"-style listing of folder to listPath, replacing it. An entry named Backup comes first, a directory
// link as "<SYMLINKD>     Backup [target]" (a dangling link counts as one: its disk may be unplugged); other names
// and targets are escaped so that no other line can be taken for it. Fails when the file cannot be written, or
// when folder cannot be listed (a Read of folder; the file then says so).
[[nodiscard]] Result<void> WriteFolderListing(const std::string& folder, const std::string& listPath);

// The target of the directory link named Backup in the first 3000 bytes of the listing at dirListPath; "" when there
// is none or the file cannot be read. The listing is for people: a target holding "]" or longer than the bytes read
// comes back wrong, so no decision is taken on it (ReadBackupLink is).
[[nodiscard]] std::string ReadBackupLinkTarget(const std::string& dirListPath);

// What mobileSync + "/Backup" is now, read from the entry itself: the link's target byte for byte; "" when the
// entry is missing or not a symbolic link. A failure is a Read of the entry.
[[nodiscard]] Result<std::string> ReadBackupLink(const std::string& mobileSync);

// The local time of unixSeconds as "YYYYMMDDhhmmss" (TZ is honoured); "" when it has no local time.
[[nodiscard]] std::string RelocationTimestamp(std::int64_t unixSeconds);
[[nodiscard]] std::string CurrentRelocationTimestamp();

// What the relocation command does before its dialog opens, and what can go wrong there.
enum class PreparationStep {
    SettingsFolder,   // making the settings folder
    MobileSyncFolder, // making a MobileSync folder
    Listing,          // listing the first MobileSync folder into the listing file
    BackupEntry,      // reading the Backup entry of the first MobileSync folder
};

struct PreparationProblem {
    PreparationStep Step = PreparationStep::SettingsFolder;
    std::string Path;     // the folder made or listed; BackupEntry: the entry read
    std::string ListPath; // Listing: the listing file; "" otherwise
    Failure Why;
};

// For a person: "The settings folder \"P\" cannot be created: reason." and the like, one sentence.
[[nodiscard]] std::string PreparationProblemText(const PreparationProblem& problem);

struct RelocationPreparation {
    std::string DirListPath;
    std::string InitialLocation; // the current link target; "" when Backup is not a link
    std::vector<PreparationProblem> Problems;
};

// Creates the settings folder and both MobileSync folders, lists MobileSyncFolders[0] into the listing file and
// reads the target of its Backup link from the link.
[[nodiscard]] RelocationPreparation PrepareRelocation();

enum class RelocationStepKind { Rename, Link };

struct RelocationStep {
    RelocationStepKind Kind = RelocationStepKind::Rename;
    std::string From; // Rename: the entry renamed; Link: the link's target
    std::string To;   // Rename: its new name; Link: the link made
    bool operator==(const RelocationStep&) const = default;
};

// For a person: "Renamed \"A\" to \"B\"." or "Linked \"LINK\" to \"TARGET\".".
[[nodiscard]] std::string RelocationStepText(const RelocationStep& step);

struct RelocationResult {
    bool Unchanged = false;           // the location is the one read at the start: nothing to do
    std::vector<RelocationStep> Done; // the renames and links made, in order
    std::optional<Failure> Problem;   // the step that failed or was refused; none when all went well
    [[nodiscard]] bool Succeeded() const { return !Problem.has_value(); }
};

// The relocation dialog's OK. initialLocation is the target read when it opened, newLocation the location box ("":
// the default place), timestamp names replaced links. Every step of both MobileSync folders is checked before the
// first is made, and no step runs after one that fails; the state of MobileSyncFolders[0] decides for both. When
// that state is no longer initialLocation, nothing is done and that is a failure, even for an unchanged location.
// A Problem is one of:
// - a Rename or Link step (Path and OtherPath as RenameNoReplace and MakeDirectoryLink give them) that failed, or
//   that was refused beforehand because its new name is Taken;
// - a Read of the first Backup entry that failed, or a Check of it whose cause is Changed, OtherPath holding its
//   target now ("" when it is no link);
// - a Check of the new location (Path) that is NotAbsolute, or lies Inside the Backup entry in OtherPath;
// - a Check of a MobileSync folder that cannot be used (System; ENOTDIR when it is no folder);
// - NoLocalTime, when timestamp is not 14 digits.
[[nodiscard]] RelocationResult ApplyBackupLocation(const std::string& initialLocation, const std::string& newLocation,
                                                   const std::string& timestamp);

// For a person: what Problem of ApplyBackupLocation(initialLocation, ...) says, one sentence ("Cannot rename \"A\"
// to \"B\": File exists.").
[[nodiscard]] std::string RelocationFailureText(const Failure& problem, const std::string& initialLocation);

} // namespace marrowick
