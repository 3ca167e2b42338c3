#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/EntryOutput.h"
#include "cli/Json.h"
#include "cli/TextTable.h"

#include "core/backup/EntryText.h"
#include "core/backup/TreeWalk.h"

#include <cstdio>
#include <ostream>

namespace marrowick::cli {
namespace {

constexpr const char* InfoHelp = R"(Usage: marrowick-cli info [--json] BACKUP

Shows a backup's summary, the kind of its file list, how many files, folders and links it holds, the files' total
size as the device recorded it, and how many files the backup holds no content for.

BACKUP is a row number of "marrowick-cli list", a serial number (its newest backup) or a backup folder.

Options:
  --json    Print the same as one JSON object.
)";

struct Contents {
    std::uint64_t Files = 0;
    std::uint64_t Folders = 0;
    std::uint64_t Links = 0;
    std::uint64_t TotalBytes = 0;
    std::uint64_t MissingContent = 0; // files whose stored file the backup does not hold
};

Contents Count(const FileNode& root, ContentPresence& presence) {
    Contents contents;
    ForEachBelow(root, [&](const FileNode& node) {
        if (node.IsFolder()) {
            ++contents.Folders;
        } else if (node.IsLink()) {
            ++contents.Links;
        } else {
            ++contents.Files;
            contents.TotalBytes += node.Size();
            contents.MissingContent += presence.Holds(node) ? 0 : 1;
        }
    });
    return contents;
}

std::string TotalText(std::uint64_t bytes) {
    const std::string readable = ReadableSizeText(bytes);
    const std::string exact = std::to_string(bytes) + " bytes";
    return readable == exact ? exact : exact + " (" + readable + ")";
}

void PrintText(const BackupRecord& backup, const Contents& contents, std::ostream& out) {
    const std::pair<const char*, std::string> lines[] = {
        {"Name", backup.Name},
        {"Time", backup.Time},
        {"Version", backup.Version},
        {"Device Type", backup.DeviceType},
        {"Serial Number", backup.SerialNumber},
        {"Folder", backup.FolderPath},
        {"File list", ManifestName(backup.ManifestKind)},
        {"Files", std::to_string(contents.Files)},
        {"Folders", std::to_string(contents.Folders)},
        {"Links", std::to_string(contents.Links)},
        {"Total size", TotalText(contents.TotalBytes)},
        {"No content", std::to_string(contents.MissingContent) + " files"},
    };
    for (const auto& [label, value] : lines) {
        char padded[32];
        std::snprintf(padded, sizeof padded, "%-15s", (std::string(label) + ":").c_str());
        out << padded << Printable(value) << '\n';
    }
}

void PrintJson(const BackupRecord& backup, const Contents& contents, std::ostream& out) {
    out << BackupJson(backup)
               .Add("files", contents.Files)
               .Add("folders", contents.Folders)
               .Add("links", contents.Links)
               .Add("totalBytes", contents.TotalBytes)
               .Add("missingContent", contents.MissingContent)
               .Text()
        << '\n';
}

} // namespace

int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto started = StartBackupCommand({"info", InfoHelp, {"--json"}, 1, 1, "give one backup"}, args, out, err);
    if (const int* status = std::get_if<int>(&started)) {
        return *status;
    }
    const auto& [parsed, backup, tree] = std::get<OpenedBackup>(started);
    ContentPresence presence(backup.FolderPath, backup.ManifestKind);
    const Contents contents = Count(*tree.Root, presence);
    if (parsed.Has("--json")) {
        PrintJson(backup, contents, out);
    } else {
        PrintText(backup, contents, out);
    }
    return ExitOk;
}

} // namespace marrowick::cli
