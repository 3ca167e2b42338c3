#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/Files.h"
#include "core/settings/ExtraLocations.h"
#include "core/settings/LocationsFile.h"
#include "core/settings/Relocation.h"

#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* LocationsHelp = R"(Usage: marrowick-cli locations [add DIR | remove DIR]

Without arguments, lists the folders searched for backups, in the order they are searched: the two
default folders, then the extra locations kept in "backuppath.txt".

  add DIR      Adds the folder DIR to the extra locations; a "/" is added to its end.
  remove DIR   Removes DIR from the extra locations. The folder itself is not touched.

At most 18 extra locations can be kept. Folders are compared as written, so letter case counts.

Exit status: 0 done; 1 the change was refused or the file could not be written; 2 a usage error.
)";

void PrintLocations(std::ostream& out) {
    TextTable table({"#", "Kind", "Location"});
    for (std::size_t slot = 0; slot < LastExtraLocationSlot + 1 && !BackupLocations[slot].empty(); ++slot) {
        table.AddRow(
            {std::to_string(slot + 1), slot < FirstExtraLocationSlot ? "default" : "extra", BackupLocations[slot]});
    }
    table.Print(out);
}

bool Save(std::ostream& err) {
    const Result<void> saved = SaveBackupLocations();
    if (saved) {
        return true;
    }
    err << "marrowick-cli locations: Failed to write file. " << Quoted(GetLocationsFilePath()) << ": "
        << Printable(SettingsReasonText(saved.Error())) << ".\n";
    return false;
}

int Add(const std::string& argument, std::ostream& out, std::ostream& err) {
    const std::string folder = AbsoluteFolder(argument);
    // Refused before anything else: the name could not be shown on one line, nor kept on one.
    if (HoldsControlCharacter(folder)) {
        return UsageError("locations", ControlCharacterLocationMessage, err);
    }
    if (!IsExistingFolder("locations", folder, err)) {
        return ExitFailed;
    }
    const AddLocationResult added = AddExtraLocation(folder);
    if (!added.Added()) {
        err << "marrowick-cli locations: " << AddLocationStatusText(added.Status) << " (" << Printable(added.Folder)
            << ")\n";
        return ExitFailed;
    }
    if (!Save(err)) {
        return ExitFailed;
    }
    out << "Added " << Quoted(added.Folder) << " to the backup locations.\n";
    return ExitOk;
}

int Remove(const std::string& argument, std::ostream& out, std::ostream& err) {
    // A line of the file is taken as written, so a folder may be listed in a form that is not absolute.
    int row = FindExtraLocationRow(argument);
    if (row < 0) {
        row = FindExtraLocationRow(AbsoluteFolder(argument));
    }
    if (row < 0) {
        const std::string folder = WithTrailingSlash(AbsoluteFolder(argument));
        const bool isDefault = folder == BackupLocations[0] || folder == BackupLocations[1];
        err << "marrowick-cli locations: " << Quoted(argument)
            << (isDefault ? " is a default backup folder and cannot be removed.\n"
                          : " is not one of the extra backup locations; \"marrowick-cli locations\" lists them.\n");
        return ExitFailed;
    }
    const std::string removed = ExtraLocationRows()[static_cast<std::size_t>(row)];
    if (!DeleteExtraLocationRow(static_cast<std::size_t>(row)) || !Save(err)) {
        return ExitFailed;
    }
    out << "Removed " << Quoted(removed) << " from the backup locations.\n";
    return ExitOk;
}

} // namespace

int RunLocationsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArguments parsed = ParseArguments(args, {"--help", "-h"});
    if (parsed.Has("--help") || parsed.Has("-h")) {
        out << LocationsHelp;
        return ExitOk;
    }
    const std::vector<std::string>& words = parsed.Positional;
    const bool isEdit = !words.empty() && (words[0] == "add" || words[0] == "remove");
    if (!parsed.Unknown.empty() || (!words.empty() && !isEdit) || (isEdit && words.size() != 2)) {
        return UsageError("locations",
                          !parsed.Unknown.empty() ? "unknown option \"" + parsed.Unknown + "\"."
                          : !isEdit ? "unknown action " + Quoted(words[0]) + "; use \"add DIR\" or \"remove DIR\"."
                                    : "\"" + words[0] + "\" takes exactly one folder.",
                          err);
    }
    InitBackupLocations();
    if (const std::string unread = UnreadLocationLinesMessage(UnreadLocationLines()); !unread.empty()) {
        err << "marrowick-cli locations: " << Printable(unread) << '\n';
    }
    if (words.empty()) {
        PrintLocations(out);
        return ExitOk;
    }
    if (words[1].empty()) {
        return UsageError("locations", "the folder is empty.", err);
    }
    return words[0] == "add" ? Add(words[1], out, err) : Remove(words[1], out, err);
}

} // namespace marrowick::cli
