#include "cli/Cli.h"

#include "cli/Commands.h"

#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* ToolHelp = R"(Usage: marrowick-cli COMMAND [OPTIONS] [ARGUMENTS]

Reads the iPhone and iPad backups on this computer. Backups are only read, never changed.

Commands:
  list        List the backups found in the backup locations, oldest first.

Options:
  --help      Show this help, or a command's help after the command's name.
  --version   Show the version.
)";

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << ToolHelp;
        return ExitUsage;
    }
    const std::string& command = args.front();
    if (command == "--help" || command == "-h" || command == "help") {
        out << ToolHelp;
        return ExitOk;
    }
    if (command == "--version") {
        out << "marrowick-cli " << MARROWICK_VERSION << '\n';
        return ExitOk;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "list") {
        return RunList(rest, out, err);
    }
    err << "marrowick-cli: unknown command \"" << command << "\". Run \"marrowick-cli --help\" for the commands.\n";
    return ExitUsage;
}

} // namespace marrowick::cli
