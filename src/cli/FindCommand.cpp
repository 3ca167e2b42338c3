#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/TextTable.h"

#include "core/backup/TreeWalk.h"

#include <algorithm>
#include <fnmatch.h>
#include <iterator>
#include <ostream>
#include <string_view>

namespace marrowick::cli {
namespace {

constexpr const char* FindHelp = R"(Usage: marrowick-cli find [--json] BACKUP PATTERN

Prints the device path of every file and folder of a backup whose name matches PATTERN, a shell-style
pattern such as "*.jpg" or "sms.db" (quote it so the shell leaves it alone). Case matters.

BACKUP is a row number of "marrowick-cli list", a serial number (its newest backup) or a backup folder.

Options:
  --json    Print a JSON array of the matching entries (name, path, type, size, mtime, time, fileID).
)";

constexpr std::string_view CharacterClasses[] = {"alnum", "alpha", "blank", "cntrl", "digit", "graph",
                                                 "lower", "print", "punct", "space", "upper", "xdigit"};

// What is wrong with the bracket expression opening at pattern[open]; moves open to its "]".
std::string BracketProblem(std::string_view pattern, std::size_t& open) {
    std::size_t at = open + 1;
    at += at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    at += at < pattern.size() && pattern[at] == ']'; // a "]" first is a member, not the end
    for (; at < pattern.size() && pattern[at] != ']'; ++at) {
        const char next = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
        if (pattern[at] == '\\') {
            ++at;
        } else if (pattern[at] == '[' && (next == ':' || next == '.' || next == '=')) {
            const std::size_t close = pattern.find(std::string{next, ']'}, at + 2);
            if (close == std::string_view::npos) {
                return std::string("\"[") + next + "\" is not closed by \"" + next + "]\".";
            }
            const std::string_view name = pattern.substr(at + 2, close - at - 2);
            if (next == ':' && std::find(std::begin(CharacterClasses), std::end(CharacterClasses), name) ==
                                   std::end(CharacterClasses)) {
                return "there is no character class \"[:" + std::string(name) + ":]\".";
            }
            at = close + 1;
        }
    }
    if (at >= pattern.size()) {
        return "its \"[\" is not closed by \"]\".";
    }
    open = at;
    return {};
}

// fnmatch takes an unclosed "[" for a plain character and never matches a trailing "\": both are typing
// mistakes here, as is a "/" (names hold none) or an empty pattern.
std::string PatternProblem(std::string_view pattern) {
    if (pattern.empty()) {
        return "the pattern is empty.";
    }
    if (pattern.find('/') != std::string_view::npos) {
        return "a pattern matches names, which hold no \"/\".";
    }
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] == '\\') {
            if (++at == pattern.size()) {
                return "the pattern ends with a lone \"\\\".";
            }
        } else if (pattern[at] == '[') {
            if (std::string problem = BracketProblem(pattern, at); !problem.empty()) {
                return problem;
            }
        }
    }
    return {};
}

} // namespace

int RunFindCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto checkPattern = [](const ParsedArguments& parsed) {
        const std::string problem = PatternProblem(parsed.Positional[1]);
        return problem.empty() ? problem : "bad pattern " + Quoted(parsed.Positional[1]) + ": " + problem;
    };
    const auto started = StartBackupCommand(
        {"find", FindHelp, {"--json"}, 2, 2, "give a backup and a pattern", checkPattern}, args, out, err);
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
        ContentPresence presence(backup.FolderPath, backup.ManifestKind);
        ForEachBelow(*tree.Root, [&](const FileNode& node) {
            if (matches(node)) {
                array.Add(EntryJson(node, presence));
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
