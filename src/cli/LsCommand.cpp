#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/TextTable.h"

#include "core/backup/EntryText.h"
#include "core/backup/TreeWalk.h"

#include <cstdio>
#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* LsHelp = R"(Usage: marrowick-cli ls [-R] [--json] BACKUP [DEVICE_PATH]

Lists the entries of one folder of a backup, as the file manager shows them: Name, Size, Type and Time.
DEVICE_PATH is a folder or file of the device, such as /var/mobile/Library/SMS (default: /var).

BACKUP is a row number of "marrowick-cli list", a serial number (its newest backup) or a backup folder.

Options:
  -R        List the whole subtree, depth first, one entry a line with its full device path.
  --json    Print a JSON array of entries: name, path, type (folder, file or link), size, mtime, time,
            birth, mode, fileID; a link's target; and for a file "present", whether the backup holds
            its content.

Sizes and times are the device's own, as the backup recorded them. A link is shown as NAME -> TARGET.
)";

std::vector<std::string> Row(const FileNode& node, const std::string& name) {
    if (node.IsFolder()) {
        return {name, "", "Folder", ""};
    }
    if (node.IsLink()) {
        return {name + " -> " + std::string(node.LinkTarget()), "", "Link", TimeText(node.MTime())};
    }
    return {name, SizeText(node.Size()), "", TimeText(node.MTime())};
}

// What ls shows without -R: a file itself (and anything below it), or a folder's children.
template <typename Visit>
void ForEachListed(const FileNode& node, Visit visit) {
    if (!node.IsFolder()) {
        visit(node);
    }
    for (const FileNode* child = node.FirstChild(); child != nullptr; child = child->NextSibling()) {
        visit(*child);
    }
}

void PrintFolder(const FileNode& folder, std::ostream& out) {
    TextTable table({"Name", "Size", "Type", "Time"});
    ForEachListed(folder, [&](const FileNode& node) { table.AddRow(Row(node, std::string(node.Name()))); });
    table.Print(out);
}

// Fixed columns, path last: a million lines stream out without measuring them first.
void PrintSubtree(const FileNode& folder, std::ostream& out) {
    char line[96];
    std::snprintf(line, sizeof line, "%-10s  %-6s  %-16s  %s\n", "Size", "Type", "Time", "Path");
    out << line;
    ForEachBelow(folder, [&](const FileNode& node) {
        const std::vector<std::string> row = Row(node, std::string(node.Path()));
        std::snprintf(line, sizeof line, "%-10s  %-6s  %-16s  ", row[1].c_str(), row[2].c_str(), row[3].c_str());
        out << line << Printable(row[0]) << '\n';
    });
}

void PrintJson(const FileNode& folder, bool recursive, ContentPresence& presence, std::ostream& out) {
    JsonArrayWriter array(out);
    const auto add = [&](const FileNode& node) { array.Add(EntryJson(node, presence)); };
    if (recursive) {
        ForEachBelow(folder, add);
        return;
    }
    ForEachListed(folder, add);
}

} // namespace

int RunLsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto started = StartBackupCommand(
        {"ls", LsHelp, {"-R", "--json"}, 1, 2, "give a backup and at most one device path"}, args, out, err);
    if (const int* status = std::get_if<int>(&started)) {
        return *status;
    }
    const auto& [parsed, backup, tree] = std::get<OpenedBackup>(started);
    const FileNode* node =
        FindDevicePath(tree.Root, parsed.Positional.size() > 1 ? parsed.Positional[1] : "", "ls", err);
    if (node == nullptr) {
        return ExitNotFound;
    }
    if (parsed.Has("--json")) {
        ContentPresence presence(backup.FolderPath, backup.ManifestKind);
        PrintJson(*node, parsed.Has("-R"), presence, out);
    } else if (parsed.Has("-R")) {
        PrintSubtree(*node, out);
    } else {
        PrintFolder(*node, out);
    }
    return ExitOk;
}

} // namespace marrowick::cli
