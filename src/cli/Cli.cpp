#include "cli/Cli.h"

#include "cli/Commands.h"

#include <ostream>
#include <string_view>
#include <utility>

namespace marrowick::cli {
namespace {

constexpr const char* ToolHelp = R"(Usage: marrowick-cli COMMAND [OPTIONS] [ARGUMENTS]

Reads the iPhone and iPad backups on this computer. Backups are only read, never changed.

Commands:
  list        List the backups found in the backup locations, oldest first.
  info        Show a backup's summary, its number of files and folders and their size.
  ls          List a folder of a backup (or, with -R, everything below it).
  find        Find the files and folders of a backup whose name matches a pattern.
  export      Copy a file or a folder out of a backup into a folder of this computer.
  locations   List the folders searched for backups; add or remove extra ones.
  relocate    Move iTunes' default backup folder elsewhere through a link, or put it back.

BACKUP, in the commands that take one, is a row number of "list", a serial number (that device's
newest backup) or the path of a backup folder.

Options:
  --help      Show this help, or a command's help after the command's name.
  --version   Show the version.

Exit status: 0 done; 1 an export left files out, was cancelled or met a full disk; 2 a usage error;
3 the backup or device path was not found; 4 the backup cannot be read (encrypted or damaged).
)";

using CommandFunction = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

constexpr std::pair<std::string_view, CommandFunction> Commands[] = {
    {"list", RunListCommand},         {"ls", RunLsCommand},         {"info", RunInfoCommand},
    {"find", RunFindCommand},         {"export", RunExportCommand}, {"locations", RunLocationsCommand},
    {"relocate", RunRelocateCommand},
};

CommandFunction FindCommand(std::string_view name) {
    for (const auto& [commandName, run] : Commands) {
        if (name == commandName) {
            return run;
        }
    }
    return nullptr;
}

int UnknownCommand(const std::string& command, std::ostream& err) {
    err << "marrowick-cli: unknown command \"" << command << "\". Run \"marrowick-cli --help\" for the commands.\n";
    return ExitUsage;
}

bool IsHelpWord(std::string_view word) {
    return word == "help" || word == "--help" || word == "-h";
}

// "help" alone is the tool's help; "help COMMAND" is that command's, as "COMMAND --help" gives it.
int RunHelp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 || (args.size() == 2 && IsHelpWord(args[1]))) {
        out << ToolHelp;
        return ExitOk;
    }
    if (args.size() > 2) {
        err << "marrowick-cli " << args[0] << ": give one command's name, or none for the tool's help.\n";
        return ExitUsage;
    }
    if (const CommandFunction run = FindCommand(args[1])) {
        return run({"--help"}, out, err);
    }
    return UnknownCommand(args[1], err);
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << ToolHelp;
        return ExitUsage;
    }
    const std::string& command = args.front();
    if (IsHelpWord(command)) {
        return RunHelp(args, out, err);
    }
    if (command == "--version") {
        out << "marrowick-cli " << MARROWICK_VERSION << '\n';
        return ExitOk;
    }
    if (const CommandFunction run = FindCommand(command)) {
        return run({args.begin() + 1, args.end()}, out, err);
    }
    return UnknownCommand(command, err);
}

} // namespace marrowick::cli
