#include "core/export/ExportEngine.h"

#include "core/backup/StoredFile.h"
#include "core/crypto/DecryptedCopy.h"
#include "core/crypto/UnlockedBackups.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace marrowick {

std::atomic<int> ExportCancelled{0};

namespace {

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

// Names that would leave the folder they are written in, or that the system would read as another name.
bool IsUnsafeName(std::string_view name) {
    return name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
           name.find('\0') != std::string_view::npos;
}

Failure ParentFailed() {
    return Failure::Because(FailureStep::Create, {}, FailureCause::ParentFailed);
}

// A folder of the target that entries are written into, open without following links, or why it is not.
class TargetFolder final {
public:
    TargetFolder() : problem_(ParentFailed()) {}
    explicit TargetFolder(int fd) : fd_(fd) {}
    // The folder for entries whose own folder was not written.
    [[nodiscard]] static TargetFolder NotWritten() { return TargetFolder(ParentFailed()); }
    explicit TargetFolder(Failure problem) : problem_(std::move(problem)) {}

    [[nodiscard]] int Fd() const { return fd_.Get(); }
    [[nodiscard]] bool IsOpen() const { return fd_.IsOpen(); }
    [[nodiscard]] const Failure& Problem() const { return problem_; }

private:
    FileDescriptor fd_;
    Failure problem_;
};

// A folder made or found in the target that cannot be opened: a link or a file may stand at its name.
Failure FolderOpenFailure(const std::string& name, int error) {
    switch (error) {
    case ELOOP:
        return Failure::Because(FailureStep::Check, name, FailureCause::Link);
    case ENOTDIR:
        return Failure::Because(FailureStep::Check, name, FailureCause::NotFolder);
    default:
        return Failure::System(FailureStep::Check, name, error);
    }
}

class Exporter final {
public:
    explicit Exporter(const ExportParameters& parameters)
        : parameters_(parameters), storedFiles_(WithTrailingSlash(parameters.BackupFolder), parameters.ManifestKind) {}

    ExportResult Run() {
        if (LiesWithin(parameters_.TargetFolder, parameters_.BackupFolder)) {
            result_.TargetInsideBackup = true;
            return std::move(result_);
        }
        std::shared_ptr<const UnlockedBackup> unlocked = FindUnlockedBackup(parameters_.BackupFolder);
        if (unlocked && parameters_.SelectedNode != nullptr) {
            // Started before the sizes are summed, so that the first files are ready when the copying begins.
            decrypted_.emplace(std::move(unlocked), WithTrailingSlash(parameters_.BackupFolder),
                               parameters_.ManifestKind, *parameters_.SelectedNode);
        }
        SumSizes(parameters_.SelectedNode);
        result_.DoneBytes = 0;
        ExportTree();
        return std::move(result_);
    }

private:
    [[nodiscard]] bool SeeCancel() {
        if (ExportCancelled.load() != 0) {
            result_.Cancelled = true;
            return true;
        }
        return false;
    }

    // Every node of the subtree, folders included, in the same pre-order as ExportEntry.
    void SumSizes(const FileNode* selected) {
        std::vector<const FileNode*> pending;
        if (selected != nullptr) {
            pending.push_back(selected);
        }
        while (!pending.empty()) {
            const FileNode* node = pending.back();
            pending.pop_back();
            if (SeeCancel()) {
                return;
            }
            result_.TotalBytes += node->Size();
            const std::size_t firstChildSlot = pending.size();
            for (const FileNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
                pending.push_back(child);
            }
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChildSlot), pending.end());
        }
    }

    struct Level {
        const FileNode* Owner; // the entry whose children go into Folder
        const FileNode* Next;
        TargetFolder Folder;
    };

    // ExportEntry's recursion unrolled onto the heap, so that a hostile manifest's depth cannot overflow the stack.
    void ExportTree() {
        const FileNode* selected = parameters_.SelectedNode;
        if (selected == nullptr) {
            return;
        }
        TargetFolder target = OpenChosenFolder();
        TargetFolder below;
        if (!ExportEntry(*selected, target, below)) {
            return;
        }
        std::vector<Level> levels;
        levels.push_back(Level{selected, selected->FirstChild(), std::move(below)});
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.Next == nullptr) {
                SetFolderTime(*level.Owner, level.Folder);
                levels.pop_back();
                continue;
            }
            const FileNode& node = *level.Next;
            level.Next = node.NextSibling();
            TargetFolder nodeFolder;
            if (!ExportEntry(node, level.Folder, nodeFolder)) {
                return;
            }
            if (node.FirstChild() != nullptr) {
                levels.push_back(Level{&node, node.FirstChild(), std::move(nodeFolder)});
            } else {
                SetFolderTime(node, nodeFolder);
            }
        }
    }

    // After its contents, whose writing changes a folder's time. A time that cannot be set leaves the folder as
    // written: its contents are what matters.
    static void SetFolderTime(const FileNode& node, const TargetFolder& folder) {
        if (!node.IsFolder() || !node.HasRecord() || !folder.IsOpen()) {
            return;
        }
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(node.MTime()), 0}};
        ::futimens(folder.Fd(), times);
    }

    TargetFolder OpenChosenFolder() {
        // The chosen folder itself may be a link: the person picked it.
        const int fd = ::open(parameters_.TargetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return TargetFolder(Failure::System(FailureStep::Open, parameters_.TargetFolder, errno));
        }
        return TargetFolder(fd);
    }

    // Returns false to stop the whole export; below receives the folder that node's children go into.
    bool ExportEntry(const FileNode& node, const TargetFolder& folder, TargetFolder& below) {
        if (SeeCancel()) {
            return false;
        }
        if (node.IsFolder()) {
            return CreateFolder(node, folder, below);
        }
        ShowProgress(node);
        result_.DoneBytes += node.Size();
        if (node.IsLink()) {
            FailNotInBackup(
                node, Failure::Because(FailureStep::Open, std::string(node.LinkTarget()), FailureCause::DeviceLink));
        } else if (!ExportFile(node, folder)) {
            return false;
        }
        if (node.FirstChild() != nullptr) {
            below = OpenExistingFolder(node, folder);
        }
        return true;
    }

    bool CreateFolder(const FileNode& node, const TargetFolder& folder, TargetFolder& below) {
        const std::string name(node.Name());
        if (!folder.IsOpen()) {
            below = TargetFolder::NotWritten();
            Fail(node, ExportFailureKind::FolderFailed, folder.Problem());
            return true;
        }
        if (IsUnsafeName(name)) {
            below = TargetFolder::NotWritten();
            Fail(node, ExportFailureKind::UnsafeName,
                 Failure::Because(FailureStep::Create, name, FailureCause::Inside));
            return true;
        }
        if (::mkdirat(folder.Fd(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            const int error = errno;
            if (IsDiskFull(error)) {
                StopOnFullDisk(error);
                return false;
            }
            below = TargetFolder::NotWritten();
            Fail(node, ExportFailureKind::FolderFailed, Failure::System(FailureStep::Create, name, error));
            return true;
        }
        below = OpenFolder(node, folder, name);
        return true;
    }

    // The folder for the children of a file node: they go below its name, which only works when a
    // folder of that name already stands in the target.
    TargetFolder OpenExistingFolder(const FileNode& node, const TargetFolder& folder) {
        const std::string name(node.Name());
        if (!folder.IsOpen() || IsUnsafeName(name)) {
            return TargetFolder::NotWritten();
        }
        const int fd = ::openat(folder.Fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return TargetFolder::NotWritten();
        }
        return TargetFolder(fd);
    }

    TargetFolder OpenFolder(const FileNode& node, const TargetFolder& folder, const std::string& name) {
        const int fd = ::openat(folder.Fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            Fail(node, ExportFailureKind::FolderFailed, FolderOpenFailure(name, errno));
            return TargetFolder::NotWritten();
        }
        return TargetFolder(fd);
    }

    void ShowProgress(const FileNode& node) {
        if (!parameters_.Progress) {
            return;
        }
        ExportProgress progress;
        progress.Node = &node;
        progress.DoneBytes = result_.DoneBytes;
        progress.TotalBytes = result_.TotalBytes;
        if (result_.TotalBytes != 0) {
            progress.TextsUpdated = true;
            progress.Percent = ProgressPercent(result_.DoneBytes, result_.TotalBytes);
        }
        parameters_.Progress(progress);
    }

    // Returns false when a full disk stops the export.
    bool ExportFile(const FileNode& node, const TargetFolder& folder) {
        const std::string name(node.Name());
        if (!folder.IsOpen()) {
            Fail(node, ExportFailureKind::FolderFailed, folder.Problem());
            return true;
        }
        if (IsUnsafeName(name)) {
            Fail(node, ExportFailureKind::UnsafeName,
                 Failure::Because(FailureStep::Create, name, FailureCause::Inside));
            return true;
        }
        const std::string_view fileId = node.FileID();
        if (fileId.empty() || !IsStoredFileId(fileId)) {
            FailNotInBackup(
                node, Failure::Because(FailureStep::Open, std::string(fileId),
                                       fileId.empty() ? FailureCause::NoStoredFileId : FailureCause::BadStoredFileId));
            return true;
        }
        const Result<void> copy = Copy(node, folder.Fd(), name);
        if (copy) {
            ++result_.FilesCopied;
            return true;
        }
        const Failure& failure = copy.Error();
        if (failure.Step == FailureStep::Open) {
            FailToOpenSource(node, failure);
            return true;
        }
        if (failure.Cause == FailureCause::System && IsDiskFull(failure.Error)) {
            StopOnFullDisk(failure.Error);
            return false;
        }
        Fail(node, ExportFailureKind::CopyFailed, failure);
        return true;
    }

    // A stored file that is missing, a link or not a regular file is content the backup does not hold: nothing
    // outside the backup is ever read as its content.
    void FailToOpenSource(const FileNode& node, const Failure& failure) {
        const bool missing =
            failure.Cause == FailureCause::System && (failure.Error == ENOENT || failure.Error == ENOTDIR);
        if (missing || failure.Cause == FailureCause::Link || failure.Cause == FailureCause::Folder ||
            failure.Cause == FailureCause::NotRegularFile) {
            FailNotInBackup(node, failure);
        } else {
            Fail(node, ExportFailureKind::CopyFailed, failure);
        }
    }

    void FailNotInBackup(const FileNode& node, Failure failure) {
        Fail(node, ExportFailureKind::NotInBackup, std::move(failure));
    }

    // The stored files of an unlocked backup are encrypted: each is written decrypted with its record's key. A
    // stored file that does not open fails at step Open.
    Result<void> Copy(const FileNode& node, int folderFd, const std::string& name) {
        if (decrypted_) {
            return decrypted_->Copy(node, folderFd, name);
        }
        const Result<FileDescriptor> source = storedFiles_.Open(node.FileID());
        if (!source) {
            return source.Error();
        }
        if (parameters_.Copier) {
            return parameters_.Copier(source->Get(), folderFd, name, node.MTime());
        }
        return CopyWholeFile(source->Get(), folderFd, name, node.MTime());
    }

    void Fail(const FileNode& node, ExportFailureKind kind, Failure problem) {
        ++result_.FailedCount;
        if (kind == ExportFailureKind::NotInBackup) {
            ++result_.NotInBackupCount;
        }
        if (result_.Failures.size() < MaxNamedFailures) {
            result_.Failures.push_back(ExportFailure{std::string(node.Path()), kind, std::move(problem)});
        }
    }

    void StopOnFullDisk(int error) {
        result_.DiskFull = true;
        result_.DiskFullError = error;
        if (parameters_.DiskFull) {
            parameters_.DiskFull(error);
        }
    }

    const ExportParameters& parameters_;
    StoredFiles storedFiles_;
    std::optional<DecryptedCopier> decrypted_; // only for a backup unlocked in this run, whose files are encrypted
    ExportResult result_;
};

} // namespace

ExportResult RunExport(const ExportParameters& parameters) {
    try {
        return Exporter(parameters).Run();
    } catch (const std::bad_alloc&) {
        ExportResult result;
        result.Stopped = Failure::Because(FailureStep::Write, {}, FailureCause::OutOfMemory);
        return result;
    }
}

} // namespace marrowick
