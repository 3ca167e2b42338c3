#pragma once

#include "core/backup/ManifestKind.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/Result.h"

#include <string>
#include <string_view>

namespace marrowick {

// True when fileId can name a stored file: 40 lowercase hexadecimal digits. Any other id names nothing, so that
// a hostile manifest cannot reach outside the backup folder ("..", "/", ...).
[[nodiscard]] bool IsStoredFileId(std::string_view fileId);

// Appends where a backup keeps a file's content, relative to the backup folder: "<first two characters of
// ID>/<ID>" in a Manifest.db backup, "<ID>" in a Manifest.mbdb backup.
void AppendStoredFileName(std::string& path, std::string_view fileId, ManifestKind manifestKind);

// Opens the stored file of fileId in the backup folder open as backupFolderFd for reading. Neither the file nor
// its "<first two characters>" folder is reached through a link, and only a regular file opens. An id that names
// no stored file fails with ENOENT, as a missing file does.
[[nodiscard]] Result<FileDescriptor> OpenStoredFile(int backupFolderFd, std::string_view fileId,
                                                    ManifestKind manifestKind);

} // namespace marrowick
