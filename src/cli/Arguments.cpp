#include "cli/Arguments.h"

#include "cli/Cli.h"
#include "cli/TextTable.h"
#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/platform/Files.h"
#include "core/settings/LocationsFile.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <utility>

namespace marrowick::cli {
namespace {

bool IsRowNumber(const std::string& text) {
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<BackupRecord> BackupInFolder(const std::string& folder, const std::string& command, std::ostream& err) {
    BackupRecord record;
    if (!ReadBackupSummary(record, folder)) {
        err << "marrowick-cli " << command << ": \"" << Printable(folder)
            << "\" is not a backup folder (it needs Info.plist, a manifest, and the backup's date in Status.plist, "
               "Manifest.plist or Info.plist).\n";
        return std::nullopt;
    }
    record.FolderPath = folder.back() == '/' ? folder : folder + "/";
    return record;
}

} // namespace

int UsageError(const std::string& command, const std::string& what, std::ostream& err) {
    err << "marrowick-cli " << command << ": " << what << " Run \"marrowick-cli " << command
        << " --help\" for its usage.\n";
    return ExitUsage;
}

std::string AbsoluteFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    return error ? folder : absolute.lexically_normal().string();
}

bool IsExistingFolder(const std::string& command, const std::string& folder, std::ostream& err) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        return true;
    }
    err << "marrowick-cli " << command << ": " << Quoted(folder)
        << (std::filesystem::exists(folder, error) ? " is not a folder.\n" : " does not exist.\n");
    return false;
}

bool ParsedArguments::Has(const std::string& flag) const {
    return std::find(Flags.begin(), Flags.end(), flag) != Flags.end();
}

ParsedArguments ParseArguments(const std::vector<std::string>& args, const std::vector<std::string>& knownFlags) {
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (std::find(knownFlags.begin(), knownFlags.end(), arg) != knownFlags.end()) {
                parsed.Flags.push_back(arg);
            } else if (parsed.Unknown.empty()) {
                parsed.Unknown = arg;
            }
        } else {
            parsed.Positional.push_back(arg);
        }
    }
    return parsed;
}

std::optional<BackupRecord> ResolveBackup(const std::string& backup, const std::string& command, std::ostream& err) {
    if (backup.find('/') != std::string::npos) {
        return BackupInFolder(backup, command, err);
    }
    InitBackupLocations();
    const std::vector<BackupRecord> rows = RefreshBackupList();
    if (IsRowNumber(backup)) {
        const std::size_t row = std::stoul(backup);
        if (row >= 1 && row <= rows.size()) {
            return rows[row - 1];
        }
        err << "marrowick-cli " << command << ": there is no backup number " << backup
            << "; \"marrowick-cli list\" shows " << rows.size() << (rows.size() == 1 ? " backup.\n" : " backups.\n");
        return std::nullopt;
    }
    // Rows are oldest first, so the last match is the device's newest backup.
    const auto match =
        std::find_if(rows.rbegin(), rows.rend(), [&](const BackupRecord& row) { return row.SerialNumber == backup; });
    if (match != rows.rend()) {
        return *match;
    }
    err << "marrowick-cli " << command << ": no backup with the serial number \"" << Printable(backup)
        << "\" was found. Give a row number of \"marrowick-cli list\", a serial number or a backup folder.\n";
    return std::nullopt;
}

std::optional<BackupTreeResult> OpenTree(const BackupRecord& backup, const std::string& command, std::ostream& err) {
    BackupTreeResult result = OpenBackupTree(backup.FolderPath, backup.ManifestKind);
    if (result.Status == TreeStatus::Encrypted) {
        err << "marrowick-cli " << command << ": the backup \"" << Printable(backup.Name)
            << "\" is encrypted and cannot be browsed yet.\n";
        return std::nullopt;
    }
    if (result.Status == TreeStatus::Unreadable) {
        err << "marrowick-cli " << command << ": the file list of the backup \"" << Printable(backup.Name)
            << "\" cannot be read: " << Printable(TreeProblemText(result.Status, result.Problem)) << '\n';
        return std::nullopt;
    }
    return result;
}

const FileNode* FindDevicePath(const FileNode* root, std::string devicePath, const std::string& command,
                               std::ostream& err) {
    if (devicePath.empty()) {
        devicePath = "/var";
    }
    devicePath = WithoutTrailingSlashes(std::move(devicePath));
    const FileNode* node = FindNode(root, devicePath);
    if (node == nullptr) {
        err << "marrowick-cli " << command << ": there is no \"" << Printable(devicePath)
            << "\" in this backup (device paths start with /var and are case-sensitive).\n";
    }
    return node;
}

std::variant<int, OpenedBackup> StartBackupCommand(const BackupCommand& command, const std::vector<std::string>& args,
                                                   std::ostream& out, std::ostream& err) {
    std::vector<std::string> flags = command.Flags;
    flags.insert(flags.end(), {"--help", "-h"});
    ParsedArguments parsed = ParseArguments(args, flags);
    if (parsed.Has("--help") || parsed.Has("-h")) {
        out << command.Help;
        return ExitOk;
    }
    const std::size_t count = parsed.Positional.size();
    if (!parsed.Unknown.empty() || count < command.MinArguments || count > command.MaxArguments) {
        err << "marrowick-cli " << command.Name << ": "
            << (parsed.Unknown.empty() ? command.WhatToGive : "unknown option \"" + parsed.Unknown + "\"")
            << ".\nRun \"marrowick-cli " << command.Name << " --help\" for its usage.\n";
        return ExitUsage;
    }
    if (command.CheckArguments) {
        if (const std::string problem = command.CheckArguments(parsed); !problem.empty()) {
            return UsageError(command.Name, problem, err);
        }
    }
    auto backup = ResolveBackup(parsed.Positional[0], command.Name, err);
    if (!backup) {
        return ExitNotFound;
    }
    auto tree = OpenTree(*backup, command.Name, err);
    if (!tree) {
        return ExitUnreadable;
    }
    return OpenedBackup{std::move(parsed), std::move(*backup), std::move(*tree)};
}

} // namespace marrowick::cli
