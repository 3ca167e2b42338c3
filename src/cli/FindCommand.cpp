#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/TextTable.h"

#include "core/backup/TreeWalk.h"

#include <fnmatch.h>
#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* FindHelp = R"(Usage: marrowick-cli find [--json] BACKUP PATTERN

Prints the device path of every file and folder of a backup whose name matches PATTERN, a shell-style
pattern such as "*.jpg" or "sms.db" (quote it so the shell leaves it alone). Case matters.

BACKUP is a row number of "marrowick-cli list", a serial number (its newest backup) or a backup folder.

Options:
  --json    Print a JSON array of the matching entries (name, path, type, size, mtime, time, fileID).
)";

} // namespace

int RunFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto started =
        StartBackupCommand({"find", FindHelp, {"--json"}, 2, 2, "give a backup and a pattern"}, args, out, err);
    if (const int* status = std::get_if<int>(&started)) {
        return *status;
    }
    const auto& [parsed, backup, tree] = std::get<OpenedBackup>(started);
    const std::string& pattern = parsed.Positional[1];
    const auto matches = [&](const FileNode& node) {
        return ::fnmatch(pattern.c_str(), std::string(node.Name()).c_str(), 0) == 0;
    };
    if (parsed.Has("--json")) {
        JsonArrayWriter array(out);
        ForEachBelow(*tree.Root, [&](const FileNode& node) {
            if (matches(node)) {
                array.Add(EntryJson(node));
            }
        });
        return ExitOk;
    }
    ForEachBelow(*tree.Root, [&](const FileNode& node) {
        if (matches(node)) {
            out << Printable(std::string(node.Path())) << '\n';
        }
    });
    return ExitOk;
}

} // namespace marrowick::cli
