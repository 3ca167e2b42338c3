#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/Json.h"
#include "cli/TextTable.h"

#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/settings/LocationsFile.h"

#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* ListHelp = R"(Usage: marrowick-cli list [--json]

Lists the backups found in the default backup folders and the extra locations, oldest first, with the
columns of the main window and the backup's folder. The number in the first column names the backup in
the other commands.

Options:
  --json    Print a JSON array of backups (name, time, version, deviceType, serialNumber, folder, manifest).
)";

void PrintJson(const std::vector<BackupRecord>& rows, std::ostream& out) {
    JsonArrayWriter array(out);
    for (const BackupRecord& row : rows) {
        array.Add(BackupJson(row).Text());
    }
}

void PrintLocations(std::ostream& out) {
    for (const std::string& location : SearchedBackupLocations()) {
        out << "  " << Printable(location) << '\n';
    }
}

} // namespace

int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArguments parsed = ParseArguments(args, {"--json", "--help", "-h"});
    if (parsed.Has("--help") || parsed.Has("-h")) {
        out << ListHelp;
        return ExitOk;
    }
    if (!parsed.Unknown.empty() || !parsed.Positional.empty()) {
        return UsageError("list",
                          "unexpected argument \"" +
                              (parsed.Unknown.empty() ? parsed.Positional.front() : parsed.Unknown) + "\".",
                          err);
    }
    InitBackupLocations();
    const std::vector<BackupRecord> rows = RefreshBackupList();
    if (parsed.Has("--json")) {
        PrintJson(rows, out);
        return ExitOk;
    }
    if (rows.empty()) {
        out << "No backups found. Searched:\n";
        PrintLocations(out);
        return ExitOk;
    }
    TextTable table({"#", "Name", "Time", "Version", "Device Type", "Serial Number", "Folder"});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const BackupRecord& row = rows[i];
        table.AddRow(
            {std::to_string(i + 1), row.Name, row.Time, row.Version, row.DeviceType, row.SerialNumber, row.FolderPath});
    }
    table.Print(out);
    return ExitOk;
}

} // namespace marrowick::cli
