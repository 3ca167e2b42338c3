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

Result<FileDescriptor> OpenStoredFile(int backupFolderFd, std::string_view fileId, ManifestKind manifestKind) {
    const std::string name(fileId);
    if (!IsStoredFileId(fileId)) {
        return Failure::System(FailureStep::Open, name, ENOENT);
    }
    if (manifestKind != ManifestKindDb) {
        return OpenRegularFileAt(backupFolderFd, name);
    }
    const std::string subfolderName = name.substr(0, 2);
    const FileDescriptor subfolder(
        ::openat(backupFolderFd, subfolderName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!subfolder.IsOpen()) {
        return errno == ELOOP ? Failure::Because(FailureStep::Open, subfolderName, FailureCause::Link)
                              : Failure::System(FailureStep::Open, subfolderName, errno == ENOTDIR ? ENOENT : errno);
    }
    return OpenRegularFileAt(subfolder.Get(), name);
}

} // namespace marrowick
