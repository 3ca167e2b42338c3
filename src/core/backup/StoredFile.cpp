#include "core/backup/StoredFile.h"

#include "core/backup/ManifestKind.h"
#include "core/platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace marrowick {

bool IsStoredFileId(std::string_view fileId) {
    return fileId.size() == 40 && std::all_of(fileId.begin(), fileId.end(),
                                              [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void AppendStoredFileName(std::string& path, std::string_view fileId, ManifestKind manifestKind) {
    if (manifestKind == ManifestKindDb) {
        path.append(fileId.substr(0, 2));
        path.push_back('/');
    }
    path.append(fileId);
}

namespace {

std::size_t HexValue(char c) {
    return static_cast<std::size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
}

} // namespace

StoredFiles::StoredFiles(const std::string& backupFolder, ManifestKind manifestKind) : manifestKind_(manifestKind) {
    backupFolder_.Tried = true;
    if (Result<FileDescriptor> opened = OpenFolderHandle(backupFolder)) {
        backupFolder_.Fd = std::move(*opened);
    } else {
        backupFolder_.Error = opened.Error().Cause == FailureCause::System ? opened.Error().Error : ENOTDIR;
    }
}

StoredFiles::Folder& StoredFiles::FolderOf(std::string_view fileId) {
    if (manifestKind_ != ManifestKindDb || !backupFolder_.Fd.IsOpen()) {
        return backupFolder_;
    }
    Folder& folder = subfolders_[HexValue(fileId[0]) * 16 + HexValue(fileId[1])];
    if (!folder.Tried) {
        folder.Tried = true;
        const std::string name(fileId.substr(0, 2));
        // O_PATH with O_NOFOLLOW opens a link itself, which O_DIRECTORY then refuses.
        folder.Fd = FileDescriptor(
            ::openat(backupFolder_.Fd.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        folder.Error = folder.Fd.IsOpen() ? 0 : errno == ENOTDIR ? ENOENT : errno;
    }
    return folder;
}

bool StoredFiles::Status(std::string_view fileId, struct stat& status) {
    if (!IsStoredFileId(fileId)) {
        return false;
    }
    const Folder& folder = FolderOf(fileId);
    char name[41];
    fileId.copy(name, 40);
    name[40] = '\0';
    return folder.Fd.IsOpen() && ::fstatat(folder.Fd.Get(), name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(status.st_mode);
}

Result<FileDescriptor> StoredFiles::Open(std::string_view fileId) {
    const std::string name(fileId);
    if (!IsStoredFileId(fileId)) {
        return Failure::System(FailureStep::Open, name, ENOENT);
    }
    const Folder& folder = FolderOf(fileId);
    if (!folder.Fd.IsOpen()) {
        return Failure::System(FailureStep::Open, name, folder.Error);
    }
    return OpenRegularFileAt(folder.Fd.Get(), name);
}

} // namespace marrowick
