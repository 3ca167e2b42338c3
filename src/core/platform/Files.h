#pragma once

#include "core/platform/FileDescriptor.h"
#include "core/platform/Result.h"

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace marrowick {

// True when name in the folder open as folderFd (AT_FDCWD for a path) is an entry of its own, a link or a FIFO
// included: nothing is followed or opened.
[[nodiscard]] bool EntryExistsAt(int folderFd, const std::string& name);

// Opens name in the folder open as folderFd (AT_FDCWD for a path) for reading, only when it is a regular file:
// a link at name is not followed (cause Link), a FIFO neither blocks nor opens (NotRegularFile), a folder is
// refused (Folder).
[[nodiscard]] Result<FileDescriptor> OpenRegularFileAt(int folderFd, const std::string& name);

// Opens a folder as a handle for the *At functions, following a link at path: the person chose it.
[[nodiscard]] Result<FileDescriptor> OpenFolderHandle(const std::string& path);

// The whole content of the regular file name in folderFd, opened as OpenRegularFileAt does; a file holding more
// than maxBytes is not read (TooLarge).
[[nodiscard]] Result<std::string> ReadRegularFileAt(int folderFd, const std::string& name, std::size_t maxBytes);

// The same for a path whose last component may be a link, which is followed; a FIFO is still refused.
[[nodiscard]] Result<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes);

// Makes a new file with no name in the folder folderName relative to folderFd ("." for folderFd itself), open with
// flags (O_WRONLY or O_RDWR), so that nothing is left behind however the process ends. Fails with EOPNOTSUPP when
// the file system has no such files or the file could not be named later (no /proc): the caller names its file.
[[nodiscard]] Result<FileDescriptor> CreateUnnamedFile(int folderFd, const std::string& folderName, int flags,
                                                       mode_t mode);

// Gives a file made by CreateUnnamedFile the name name in folderFd; fails with EEXIST when the name is taken.
[[nodiscard]] Result<void> NameUnnamedFile(int fd, int folderFd, const std::string& name);

// The real path of path (links and "." and ".." resolved), or "" when path does not exist.
[[nodiscard]] std::string RealPath(const std::string& path);

// True when path is folder or lies inside it, compared by device and inode along path's real path, so that neither
// a link nor another spelling hides it. A path that does not exist yet is judged by its nearest existing folder.
[[nodiscard]] bool LiesWithin(const std::string& path, const std::string& folder);

// path with a "/" appended when it does not end with one.
[[nodiscard]] std::string WithTrailingSlash(std::string path);

// path without the "/" at its end, "/" itself excepted.
[[nodiscard]] std::string WithoutTrailingSlashes(std::string path);

} // namespace marrowick
