#pragma once

#include "core/backup/ManifestKind.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/Result.h"

#include <sys/stat.h>

#include <array>
#include <string>
#include <string_view>

namespace marrowick {

// True when fileId can name a stored file: 40 lowercase hexadecimal digits. Any other id names nothing, so that
// a hostile manifest cannot reach outside the backup folder ("..", "/", ...).
[[nodiscard]] bool IsStoredFileId(std::string_view fileId);

// Appends where a backup keeps a file's content, relative to the backup folder: "<first two characters of
// ID>/<ID>" in a Manifest.db backup, "<ID>" in a Manifest.mbdb backup.
void AppendStoredFileName(std::string& path, std::string_view fileId, ManifestKind manifestKind);

// The stored files of one backup folder, reached through handles made once: the folder's, and each
// "<first two characters>" folder's on its first use, so that the kernel walks one component per file. Neither a
// file nor its folder is reached through a link. Used by one thread at a time.
class StoredFiles final {
public:
    // backupFolder ends with "/"; a link to it is followed: the person chose it.
    StoredFiles(const std::string& backupFolder, ManifestKind manifestKind);

    // The status of fileId's stored file when it is a regular file; false otherwise (missing, a link, a FIFO...).
    [[nodiscard]] bool Status(std::string_view fileId, struct stat& status);
    // Opens fileId's stored file for reading, only when it is a regular file. An id that names no stored file, or
    // whose folder is missing or a link, fails with ENOENT, as a missing file does.
    [[nodiscard]] Result<FileDescriptor> Open(std::string_view fileId);

private:
    struct Folder {
        FileDescriptor Fd;
        int Error = 0;
        bool Tried = false;
    };
    // The folder that holds fileId's stored file, opened when first asked for; fileId is a stored-file id.
    Folder& FolderOf(std::string_view fileId);

    ManifestKind manifestKind_;
    Folder backupFolder_;
    std::array<Folder, 256> subfolders_;
};

} // namespace marrowick
