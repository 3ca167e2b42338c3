#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"

#include "core/export/ExportEngine.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick::cli {
namespace {

constexpr const char* ExportHelp = R"(Usage: marrowick-cli export [-q] BACKUP DEVICE_PATH TARGET_FOLDER

Copies a file, or a folder with everything below it, out of a backup into TARGET_FOLDER (created when
missing, if the folder it goes in exists), under its device name: exporting /var/mobile/Library/SMS to
~/out gives ~/out/SMS/... Existing files of the same name in the target are replaced by new ones. The
backup itself is never changed, and TARGET_FOLDER may not lie inside it.

Progress goes to standard error: a bar on a terminal, one line per file otherwise. Ctrl+C stops the
export after the file being copied. The exit status is 1 when any file could not be exported.

BACKUP is a row number of "marrowick-cli list", a serial number (its newest backup) or a backup folder.

Options:
  -q        Print no progress, only the outcome and any failures.
)";

// Ctrl+C asks the engine to stop after the current file, as the progress dialog's Cancel does.
class InterruptCancelsExport final {
public:
    InterruptCancelsExport() { previous_ = std::signal(SIGINT, &OnInterrupt); }
    ~InterruptCancelsExport() { std::signal(SIGINT, previous_); }
    InterruptCancelsExport(const InterruptCancelsExport&) = delete;
    InterruptCancelsExport& operator=(const InterruptCancelsExport&) = delete;

private:
    static void OnInterrupt(int) { ExportCancelled.store(1); }
    void (*previous_)(int) = nullptr;
};

std::string WithUnixLineEnds(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

ExportProgressCallback ProgressPrinter(bool quiet, std::ostream& err) {
    if (quiet) {
        return {};
    }
    if (::isatty(STDERR_FILENO) == 1) {
        return [&err](const ExportProgress& progress) {
            if (progress.TextsUpdated) {
                constexpr int Width = 30;
                const int filled = progress.Percent * Width / 100;
                err << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                    << std::string(static_cast<std::size_t>(Width - filled), ' ') << "] "
                    << FinishedStatusText(progress.Percent, progress.DoneBytes, progress.TotalBytes) << "\x1b[K"
                    << std::flush;
            }
        };
    }
    return [&err](const ExportProgress& progress) {
        err << "Exporting " << Printable(std::string(progress.Node->Path())) << '\n';
    };
}

// The target folder is made when missing, but never its parents: a mistyped path must not grow a tree of folders.
// Gives the exit status to return at once, or nothing when the export can go on.
std::optional<int> PrepareTarget(const std::string& target, const std::string& backupFolder, std::ostream& err) {
    const auto refuse = [&err](const std::string& why, int status) {
        err << "marrowick-cli export: " << why << '\n';
        return std::optional<int>(status);
    };
    if (LiesWithin(target, backupFolder)) {
        return refuse(std::string(TargetInsideBackupText), ExitUsage);
    }
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0) {
        return S_ISDIR(status.st_mode)
                   ? std::nullopt
                   : refuse(Quoted(target) + " is a file, not a folder; give a folder to export to.", ExitUsage);
    }
    if (errno != ENOENT) {
        return refuse("the target folder " + Quoted(target) + " cannot be used: " + ErrorText(errno) + ".", ExitFailed);
    }
    const std::string parent = std::filesystem::path(WithoutTrailingSlashes(target)).parent_path().string();
    if (!parent.empty() && (::stat(parent.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))) {
        return refuse("the folder " + Quoted(parent) + " does not exist, so " + Quoted(target) +
                          " is not created; create it first or give another folder.",
                      ExitUsage);
    }
    if (::mkdir(target.c_str(), 0777) != 0) {
        return refuse("the target folder " + Quoted(target) + " cannot be created: " + ErrorText(errno) + ".",
                      ExitFailed);
    }
    return std::nullopt;
}

int Report(const ExportResult& result, bool terminalBar, const std::string& target, std::ostream& out,
           std::ostream& err) {
    if (terminalBar) {
        err << '\n';
    }
    if (result.DiskFull) {
        err << WithUnixLineEnds(DiskFullMessage(result.DiskFullError)) << '\n';
    }
    const std::string summary = ExportFailureSummary(result);
    if (!summary.empty()) {
        err << summary << (summary.back() == '\n' ? "" : "\n");
    }
    const std::string files = std::to_string(result.FilesCopied) + (result.FilesCopied == 1 ? " file" : " files");
    if (result.Cancelled) {
        err << "Export cancelled after " << files << "; the rest were not exported.\n";
    }
    out << "Exported " << files << " to " << Printable(target) << ".\n";
    return result.Succeeded() ? ExitOk : ExitFailed;
}

} // namespace

int RunExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto started = StartBackupCommand(
        {"export", ExportHelp, {"-q"}, 3, 3, "give a backup, a device path and a target folder"}, args, out, err);
    if (const int* status = std::get_if<int>(&started)) {
        return *status;
    }
    const auto& [parsed, backup, tree] = std::get<OpenedBackup>(started);
    const FileNode* node = FindDevicePath(tree.Root, parsed.Positional[1], "export", err);
    if (node == nullptr) {
        return ExitNotFound;
    }
    const std::string& target = parsed.Positional[2];
    if (const std::optional<int> status = PrepareTarget(target, backup.FolderPath, err)) {
        return *status;
    }
    const bool quiet = parsed.Has("-q");
    ExportParameters parameters;
    parameters.SelectedNode = node;
    parameters.BackupFolder = backup.FolderPath;
    parameters.ManifestKind = backup.ManifestKind;
    parameters.TargetFolder = target;
    parameters.Progress = ProgressPrinter(quiet, err);
    ExportCancelled.store(0);
    const InterruptCancelsExport interrupt;
    const ExportResult result = RunExport(parameters);
    return Report(result, !quiet && ::isatty(STDERR_FILENO) == 1, target, out, err);
}

} // namespace marrowick::cli
