#pragma once

#include "core/platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace marrowick {

// Copies the regular file open as sourceFd (from its start) whole to targetName in the folder open as
// targetFolderFd (AT_FDCWD: targetName is a path). The copy is written as a new file beside the target and put in
// place only when it is complete, so an existing file at the target is replaced, never written through: it may be
// a hard link to the source or to a file elsewhere. A link at targetName is never followed. The copy gets mtime
// (seconds since 1970) as its modification time, or the source's when mtime is 0. A copy cut off (a full disk, a
// failed read) leaves no file behind. The failure's step says where it stopped:
//   Open     the source is not a regular file (or cannot be read from its start);
//   Check    a link (cause Link), a folder (Folder) or another kind of file (NotRegularFile) stands at the target,
//            or the target's folder or name cannot be used;
//   Create   the new file cannot be made;
//   Write    reading or writing the data failed; nothing was put at the target;
//   Replace  the complete copy could not be put at the target; what stood there is unchanged;
//   SetTime  the copy is in place but its modification time could not be set.
[[nodiscard]] Result<void> CopyWholeFile(int sourceFd, int targetFolderFd, const std::string& targetName,
                                         std::int64_t mtime);

// Writes the content read from in (at its start) to out (empty); the failure's path and step are the caller's.
using ContentWriter = std::function<Result<void>(int in, int out)>;

// CopyWholeFile with the content written by writeContent instead of copied, e.g. decrypted; all else is the same.
// A failure of writeContent is told with step Write and leaves no file behind.
[[nodiscard]] Result<void> CopyWholeFileThrough(const ContentWriter& writeContent, int sourceFd, int targetFolderFd,
                                                const std::string& targetName, std::int64_t mtime);

// Writes size bytes to out, going on after short writes and interruptions; 0 or an errno.
[[nodiscard]] int WriteAll(int out, const char* data, std::size_t size);

// read(2) of up to size bytes into buffer, tried again when a signal interrupts it.
[[nodiscard]] ssize_t ReadSome(int in, char* buffer, std::size_t size);

// The system calls a copy may use, for tests and benchmarks that must rule some out.
enum class CopyMethod { CopyFileRange, SendFile, ReadWrite };
[[nodiscard]] Result<void> CopyWholeFileWith(CopyMethod firstMethod, int sourceFd, int targetFolderFd,
                                             const std::string& targetName, std::int64_t mtime);

// Copies the content of in from its start to out, which is empty, keeping holes as holes, so that a sparse file
// takes no more room as a copy than it does. The failure names no path: the caller knows the files.
[[nodiscard]] Result<void> CopySparseContent(int in, int out);

} // namespace marrowick
