#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"

#include "core/backup/BackupLocations.h"
#include "core/platform/Files.h"
#include "core/settings/LocationsFile.h"
#include "core/settings/Relocation.h"

#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* RelocateHelp = R"(Usage: marrowick-cli relocate [DIR | --restore]

Moves iTunes' default backup folder to the folder DIR: in both MobileSync folders the entry "Backup"
is renamed "Backup_old" (or, when it is a link already, "Backup_" and the local time) and a link named
Backup to DIR takes its place. Backups already there are not copied or moved: they stay in the renamed
folder. Nothing is ever deleted.

Without arguments, shows where the backup folder is now.

Options:
  --restore   Puts the default folder back: the link is renamed "Backup_" and the local time, and
              "Backup_old" becomes "Backup" again.

Exit status: 0 done or nothing to do; 1 a step failed or was refused (the steps made are listed);
2 a usage error.
)";

void PrintLocation(const std::string& location, std::ostream& out) {
    if (location.empty()) {
        out << "The iTunes backup folder is in its default place.\n";
    } else {
        out << "The iTunes backup folder is linked to " << Quoted(location) << ".\n";
    }
}

} // namespace

int RunRelocateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArguments parsed = ParseArguments(args, {"--restore", "--help", "-h"});
    if (parsed.Has("--help") || parsed.Has("-h")) {
        out << RelocateHelp;
        return ExitOk;
    }
    if (!parsed.Unknown.empty()) {
        return UsageError("relocate", "unknown option \"" + parsed.Unknown + "\".", err);
    }
    const bool restore = parsed.Has("--restore");
    if (parsed.Positional.size() > 1 || (restore && !parsed.Positional.empty())) {
        return UsageError("relocate", "give one folder or --restore, not both or more.", err);
    }
    std::string newLocation;
    if (!parsed.Positional.empty()) {
        if (parsed.Positional[0].empty()) {
            return UsageError("relocate", "the folder is empty.", err);
        }
        newLocation = WithoutTrailingSlashes(AbsoluteFolder(parsed.Positional[0]));
        if (!IsExistingFolder("relocate", newLocation, err)) {
            return ExitFailed;
        }
    }

    InitBackupLocations();
    const RelocationPreparation preparation = PrepareRelocation();
    for (const PreparationProblem& problem : preparation.Problems) {
        err << "marrowick-cli relocate: " << Printable(PreparationProblemText(problem)) << '\n';
    }
    if (!restore && parsed.Positional.empty()) {
        PrintLocation(preparation.InitialLocation, out);
        return preparation.Problems.empty() ? ExitOk : ExitFailed;
    }

    const RelocationResult result =
        ApplyBackupLocation(preparation.InitialLocation, newLocation, CurrentRelocationTimestamp());
    for (const RelocationStep& step : result.Done) {
        out << Printable(RelocationStepText(step)) << '\n';
    }
    if (!result.Succeeded()) {
        err << "marrowick-cli relocate: "
            << Printable(RelocationFailureText(*result.Problem, preparation.InitialLocation)) << '\n';
        return ExitFailed;
    }
    if (result.Unchanged) {
        PrintLocation(newLocation, out);
        out << "Nothing was changed.\n";
        return ExitOk;
    }
    out << (newLocation.empty() ? "iTunes keeps its backups in the default folder again.\n"
                                : "iTunes now keeps its backups in " + Quoted(newLocation) + ".\n");
    return ExitOk;
}

} // namespace marrowick::cli
