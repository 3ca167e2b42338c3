#include "cli/Arguments.h"

#include "cli/Cli.h"
#include "cli/PasswordSource.h"
#include "cli/TextTable.h"
#include "core/backup/BackupDiscovery.h"
#include "core/backup/BackupLocations.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Files.h"
#include "core/settings/LocationsFile.h"

#include <algorithm>
#include <filesystem>
#include <memory>
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

constexpr const char* EncryptedBackupHelp = R"(
An encrypted backup is opened with its password, taken from the first line of the file that
--password-file FILE names, else from the environment variable MARROWICK_BACKUP_PASSWORD, else asked
on the terminal without echo. A password is never taken from the command line, where others could see it.
)";

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

std::optional<std::string> ParsedArguments::Value(const std::string& option) const {
    const auto found = Values.find(option);
    return found != Values.end() ? std::optional(found->second) : std::nullopt;
}

ParsedArguments ParseArguments(const std::vector<std::string>& args, const std::vector<std::string>& knownFlags,
                               const std::vector<std::string>& valueOptions) {
    ParsedArguments parsed;
    const auto takesValue = [&valueOptions](const std::string& option) {
        return std::find(valueOptions.begin(), valueOptions.end(), option) != valueOptions.end();
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (std::find(knownFlags.begin(), knownFlags.end(), arg) != knownFlags.end()) {
                parsed.Flags.push_back(arg);
            } else if (takesValue(arg) && i + 1 < args.size()) {
                parsed.Values[arg] = args[++i];
            } else if (takesValue(arg)) {
                parsed.WithoutValue = arg;
            } else if (equals != std::string::npos && takesValue(arg.substr(0, equals))) {
                parsed.Values[arg.substr(0, equals)] = arg.substr(equals + 1);
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

namespace {

// Unlocks an encrypted backup for the rest of the run with a password from passwordFile, the environment or the
// terminal; says why on err when it cannot.
bool Unlock(const BackupRecord& backup, const std::optional<std::string>& passwordFile, const std::string& command,
            std::ostream& err) {
    SecretBytes password;
    const PasswordReading reading = ReadBackupPassword(passwordFile, backup.Name, password);
    if (!reading.Read) {
        err << "marrowick-cli " << command << ": " << reading.Problem << ".\n";
        return false;
    }
    Result<UnlockedBackup> unlocked = UnlockBackup(backup.FolderPath, password);
    if (!unlocked) {
        err << "marrowick-cli " << command << ": the backup \"" << Printable(backup.Name)
            << "\" cannot be opened: " << FailureText(unlocked.Error()) << ".\n";
        return false;
    }
    KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
    ForgetCachedTree(backup.FolderPath);
    return true;
}

} // namespace

std::optional<BackupTreeResult> OpenTree(const BackupRecord& backup, const std::optional<std::string>& passwordFile,
                                         const std::string& command, std::ostream& err) {
    BackupTreeResult result = OpenBackupTree(backup.FolderPath, backup.ManifestKind);
    if (result.Status == TreeStatus::Encrypted && ManifestPlistSaysEncrypted(backup.FolderPath)) {
        if (!Unlock(backup, passwordFile, command, err)) {
            return std::nullopt;
        }
        result = OpenBackupTree(backup.FolderPath, backup.ManifestKind);
    }
    if (result.Status == TreeStatus::Encrypted) {
        err << "marrowick-cli " << command << ": the backup \"" << Printable(backup.Name)
            << "\" cannot be browsed: " << Printable(TreeProblemText(result.Status, result.Problem)) << '\n';
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
    ParsedArguments parsed = ParseArguments(args, flags, {"--password-file"});
    if (parsed.Has("--help") || parsed.Has("-h")) {
        out << command.Help << EncryptedBackupHelp;
        return ExitOk;
    }
    const std::size_t count = parsed.Positional.size();
    if (!parsed.WithoutValue.empty()) {
        return UsageError(command.Name, "the option \"" + parsed.WithoutValue + "\" needs a value.", err);
    }
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
    auto tree = OpenTree(*backup, parsed.Value("--password-file"), command.Name, err);
    if (!tree) {
        return ExitUnreadable;
    }
    return OpenedBackup{std::move(parsed), std::move(*backup), std::move(*tree)};
}

} // namespace marrowick::cli
