#pragma once

#include "core/backup/BackupTreeCache.h"
#include "core/backup/SummaryReader.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace marrowick::cli {

// A command's words split into options it knows and positional arguments.
struct ParsedArguments {
    std::vector<std::string> Positional;
    std::vector<std::string> Flags; // the options given, as written ("--json", "-R")
    std::string Unknown;            // the first option the command does not take, if any

    [[nodiscard]] bool Has(const std::string& flag) const;
};

// "--" ends the options, so a device path or a file name that starts with "-" can be given.
[[nodiscard]] ParsedArguments ParseArguments(const std::vector<std::string>& args,
                                             const std::vector<std::string>& knownFlags);

// The backup that BACKUP names: a row number of `list`, a serial number (its newest backup), or a backup folder.
// Says why on err and gives nothing when there is no such backup.
[[nodiscard]] std::optional<BackupRecord> ResolveBackup(const std::string& backup, const std::string& command,
                                                        std::ostream& err);

// The backup's tree; when it cannot be browsed, says why on err and gives nothing.
[[nodiscard]] std::optional<BackupTreeResult> OpenTree(const BackupRecord& backup, const std::string& command,
                                                       std::ostream& err);

// The node at a device path ("/var" when empty; a trailing "/" is ignored); says so on err when absent.
[[nodiscard]] const FileNode* FindDevicePath(const FileNode* root, std::string devicePath, const std::string& command,
                                             std::ostream& err);

} // namespace marrowick::cli
