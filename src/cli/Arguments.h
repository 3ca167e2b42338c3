#pragma once

#include "core/backup/BackupTreeCache.h"
#include "core/backup/SummaryReader.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marrowick::cli {

// A command's words split into options it knows and positional arguments.
struct ParsedArguments {
    std::vector<std::string> Positional;
    std::vector<std::string> Flags;            // the options given, as written ("--json", "-R")
    std::map<std::string, std::string> Values; // options that take a value: the last value given to each
    std::string Unknown;                       // the first option the command does not take, if any
    std::string WithoutValue;                  // the first option given without the value it takes, if any

    [[nodiscard]] bool Has(const std::string& flag) const;
    [[nodiscard]] std::optional<std::string> Value(const std::string& option) const;
};

// "--" ends the options, so a device path or a file name that starts with "-" can be given. An option of
// valueOptions takes the next word ("--password-file FILE") or what follows "=" ("--password-file=FILE").
[[nodiscard]] ParsedArguments ParseArguments(const std::vector<std::string>& args,
                                             const std::vector<std::string>& knownFlags,
                                             const std::vector<std::string>& valueOptions = {});

// Says what is wrong with a command's words and where its usage is; gives ExitUsage.
int UsageError(const std::string& command, const std::string& what, std::ostream& err);

// A folder as a folder picker would give it: absolute, without "." and ".." parts.
[[nodiscard]] std::string AbsoluteFolder(const std::string& folder);

// True when folder is an existing folder; otherwise says that it does not exist or is not a folder.
[[nodiscard]] bool IsExistingFolder(const std::string& command, const std::string& folder, std::ostream& err);

// The backup that BACKUP names: a row number of `list`, a serial number (its newest backup), or a backup folder.
// Says why on err and gives nothing when there is no such backup.
[[nodiscard]] std::optional<BackupRecord> ResolveBackup(const std::string& backup, const std::string& command,
                                                        std::ostream& err);

// The backup's tree; when it cannot be browsed, says why on err and gives nothing. An encrypted backup is unlocked
// first, with a password from passwordFile, the environment or the terminal (see ReadBackupPassword).
[[nodiscard]] std::optional<BackupTreeResult> OpenTree(const BackupRecord& backup,
                                                       const std::optional<std::string>& passwordFile,
                                                       const std::string& command, std::ostream& err);

// The node at a device path ("/var" when empty; a trailing "/" is ignored); says so on err when absent.
[[nodiscard]] const FileNode* FindDevicePath(const FileNode* root, std::string devicePath, const std::string& command,
                                             std::ostream& err);

// What a command that reads one backup takes: its name, help, options and how many positional arguments.
struct BackupCommand {
    std::string Name;
    const char* Help = "";
    std::vector<std::string> Flags; // besides --help and -h
    std::size_t MinArguments = 1;
    std::size_t MaxArguments = 1;
    std::string WhatToGive; // "give a backup and a pattern", for the usage error
    // What is wrong with the arguments beyond their number, told as a usage error before the backup is read; may be
    // empty.
    std::function<std::string(const ParsedArguments&)> CheckArguments = {};
};

// A command's arguments with its backup found and its tree read.
struct OpenedBackup {
    ParsedArguments Parsed;
    BackupRecord Backup;
    BackupTreeResult Tree;
};

// The start every backup command shares: its help, a usage error, then the backup its first positional argument
// names and that backup's tree. Gives the exit status to return at once when the command cannot go on.
[[nodiscard]] std::variant<int, OpenedBackup> StartBackupCommand(const BackupCommand& command,
                                                                 const std::vector<std::string>& args,
                                                                 std::ostream& out, std::ostream& err);

} // namespace marrowick::cli
