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
    const ParsedArguments parsed = ParseArguments(args, {"--json", "--help", "-h"});
    if (parsed.Has("--help") || parsed.Has("-h")) {
        out << FindHelp;
        return ExitOk;
    }
    if (!parsed.Unknown.empty() || parsed.Positional.size() != 2) {
        err << (parsed.Unknown.empty() ? "marrowick-cli find: give a backup and a pattern.\n"
                                       : "marrowick-cli find: unknown option \"" + parsed.Unknown + "\".\n")
            << "Run \"marrowick-cli find --help\" for its usage.\n";
        return ExitUsage;
    }
    const auto backup = ResolveBackup(parsed.Positional[0], "find", err);
    if (!backup) {
        return ExitNotFound;
    }
    const auto tree = OpenTree(*backup, "find", err);
    if (!tree) {
        return ExitUnreadable;
    }
    const std::string& pattern = parsed.Positional[1];
    const auto matches = [&](const FileNode& node) {
        return ::fnmatch(pattern.c_str(), std::string(node.Name()).c_str(), 0) == 0;
    };
    if (parsed.Has("--json")) {
        JsonArrayWriter array(out);
        ForEachBelow(*tree->Root, [&](const FileNode& node) {
            if (matches(node)) {
                array.Add(EntryJson(node));
            }
        });
        return ExitOk;
    }
    ForEachBelow(*tree->Root, [&](const FileNode& node) {
        if (matches(node)) {
            out << Printable(std::string(node.Path())) << '\n';
        }
    });
    return ExitOk;
}

} // namespace marrowick::cli
