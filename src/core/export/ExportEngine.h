#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/platform/FileCopy.h"
#include "core/platform/Result.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowick {

// Set to 1 to cancel the running export: the file being copied completes, no further entry is started. The
// engine only reads it; the caller sets it to 0 before each export.
extern std::atomic<int> ExportCancelled;

// What the progress shows before each file.
// Where the export is before each file; the windows and the command line make its texts with ExportingFileText and
// FinishedStatusText.
struct ExportProgress {
    const FileNode* Node = nullptr; // the file about to be copied
    // False when the selection's sizes sum to 0: the shown texts stay unchanged.
    bool TextsUpdated = false;
    int Percent = 0; // ProgressPercent(DoneBytes, TotalBytes)
    std::uint64_t DoneBytes = 0;
    std::uint64_t TotalBytes = 0;
};

// Called on the export's thread before each file, so the file's texts are shown before its copy begins.
using ExportProgressCallback = std::function<void(const ExportProgress&)>;
// Called on the export's thread when a full disk stops the export, with the errno (DiskFullMessage makes its text),
// before the engine returns.
using ExportDiskFullCallback = std::function<void(int error)>;
// Copies one stored file, open as sourceFd; CopyWholeFile unless a test puts another in.
using ExportFileCopier =
    std::function<Result<void>(int sourceFd, int targetFolderFd, const std::string& targetName, std::int64_t mtime)>;

struct ExportParameters {
    const FileNode* SelectedNode = nullptr; // the entry to export with everything below it; not owned
    std::string BackupFolder;               // ending with "/" ("/" is appended when missing)
    marrowick::ManifestKind ManifestKind = ManifestKindDb;
    std::string TargetFolder;        // an existing folder ("/" is appended when missing)
    ExportProgressCallback Progress; // may be empty
    ExportDiskFullCallback DiskFull; // may be empty
    ExportFileCopier Copier;         // empty means CopyWholeFile
};

enum class ExportFailureKind {
    NotInBackup,  // the backup does not hold the entry's content: no stored file (or one that is a link or not a
                  // regular file), a FileID that names no stored file, a link row
    UnsafeName,   // the name is "", "." or "..", or holds "/" or a NUL byte: writing it could leave the target
    FolderFailed, // a folder could not be created or opened (or is a link); the files below it fail with it
    CopyFailed,   // the copy failed
};

struct ExportFailure {
    std::string DevicePath;
    ExportFailureKind Kind = ExportFailureKind::CopyFailed;
    Failure Problem; // what failed and why; the step and cause tell a missing content or a folder's failure apart
};

// How many failures an ExportResult names; the rest are only counted.
inline constexpr std::size_t MaxNamedFailures = 10;

struct ExportResult {
    std::uint64_t FilesCopied = 0;
    std::uint64_t FailedCount = 0;       // entries not written: files and folders
    std::uint64_t NotInBackupCount = 0;  // the part of FailedCount whose content the backup does not hold
    std::vector<ExportFailure> Failures; // the first MaxNamedFailures of them, in export order
    bool Cancelled = false;              // ExportCancelled was seen
    bool DiskFull = false;               // a full disk stopped the export
    bool TargetInsideBackup = false;     // nothing was written: the target folder is or lies in the backup folder
    std::optional<Failure> Stopped;      // why the export stopped before its end, other than the above
    int DiskFullError = 0;               // the errno of a full disk
    std::uint64_t TotalBytes = 0;        // the size pass's sum
    std::uint64_t DoneBytes = 0;         // the sizes of the files handled, failed ones included
    [[nodiscard]] bool Succeeded() const {
        return FailedCount == 0 && !DiskFull && !Cancelled && !TargetInsideBackup && !Stopped;
    }
};

// Runs the export on the calling thread (the caller's worker) and returns when it is done, cancelled or stopped
// by a full disk. Writes nothing outside TargetFolder and follows no link found below it; writes nothing at all
// when TargetFolder is the backup folder or lies inside it. Stored files are opened only as regular files in the
// backup folder, never through a link.
[[nodiscard]] ExportResult RunExport(const ExportParameters& parameters);

// The texts of the export, for the dialog and the command line.
inline constexpr std::string_view TargetInsideBackupText =
    "The target folder is the backup folder or lies inside it, and a backup is never written to. Choose a folder "
    "outside the backup.";
inline constexpr std::string_view CalculatingSizeText = "Calculating files size...";
// "Exporting: " + the first 70 bytes of path + "\r\n" + the bytes from 70 on.
[[nodiscard]] std::string ExportingFileText(std::string_view path);
// doneBytes * 100 / totalBytes in floating point, truncated; 0 when totalBytes is 0.
[[nodiscard]] int ProgressPercent(std::uint64_t doneBytes, std::uint64_t totalBytes);
// "Finished: %2d%% (%3dMB/%3dMB)" with the byte counts divided by 1048576.
[[nodiscard]] std::string FinishedStatusText(int percent, std::uint64_t doneBytes, std::uint64_t totalBytes);
// "Failed to export file!\r\nReason: " + std::strerror(error).
[[nodiscard]] std::string DiskFullMessage(int error);
// For a person: why the entry was not exported, in one clause.
[[nodiscard]] std::string ExportFailureReason(const ExportFailure& failure);
// For a person: why nothing was exported, or how many entries failed and which (the named ones, one per line, device
// path and reason, control bytes escaped). Empty when none failed.
[[nodiscard]] std::string ExportFailureSummary(const ExportResult& result);

} // namespace marrowick
