#pragma once

#include <cstdint>
#include <string>

namespace marrowick {

// Where a whole-file copy stopped; Error is an errno value.
enum class CopyStage {
    None,       // the copy succeeded
    OpenSource, // the source is not open or not a regular file
    OpenTarget, // the new file cannot be made, or a link (ELOOP) or something that is not a regular file (EEXIST,
                // EISDIR for a folder) stands at the target
    Copy,       // reading or writing the data failed; nothing was put at the target
    SetTime,    // the copy is in place but its modification time could not be set
    Place,      // the complete copy could not be put at the target; what stood there is unchanged
};

struct FileCopyResult {
    int Error = 0;
    CopyStage Stage = CopyStage::None;
    [[nodiscard]] bool Succeeded() const { return Stage == CopyStage::None; }
};

// Copies the regular file open as sourceFd (from its start) whole to targetName in the folder open as
// targetFolderFd (AT_FDCWD: targetName is a path). The copy is written as a new file beside the target and put in
// place only when it is complete, so an existing file at the target is replaced, never written through: it may be
// a hard link to the source or to a file elsewhere. A link at targetName is never followed. The copy gets mtime
// (seconds since 1970) as its modification time, or the source's when mtime is 0. A copy cut off (a full disk, a
// failed read) leaves no file behind.
[[nodiscard]] FileCopyResult CopyWholeFile(int sourceFd, int targetFolderFd, const std::string& targetName,
                                           std::int64_t mtime);

// The system calls a copy may use, for tests and benchmarks that must rule some out.
enum class CopyMethod { CopyFileRange, SendFile, ReadWrite };
[[nodiscard]] FileCopyResult CopyWholeFileWith(CopyMethod firstMethod, int sourceFd, int targetFolderFd,
                                               const std::string& targetName, std::int64_t mtime);

// Copies the content of in from its start to out, which is empty, keeping holes as holes, so that a sparse file
// takes no more room as a copy than it does. Returns 0 or an errno.
[[nodiscard]] int CopySparseContent(int in, int out);

} // namespace marrowick
