#pragma once

#include <cstdint>
#include <string>

namespace marrowick {

// Where a whole-file copy stopped; Error is an errno value.
enum class CopyStage {
    None,       // the copy succeeded
    OpenSource, // the stored file cannot be opened or is not a regular file
    OpenTarget, // the target cannot be created or opened, is a link (ELOOP), or is not a regular file (EEXIST)
    Copy,       // reading or writing the data failed; the target holds a cut copy
    SetTime,    // the data is complete but the modification time could not be set
};

struct FileCopyResult {
    int Error = 0;
    CopyStage Stage = CopyStage::None;
    [[nodiscard]] bool Succeeded() const { return Stage == CopyStage::None; }
};

// Copies the regular file sourcePath whole to targetName in the folder open as targetFolderFd (AT_FDCWD for a
// path), replacing an existing regular file. A link at targetName is never followed. The target gets mtime
// (seconds since 1970) as its modification time, or the source's when mtime is 0.
[[nodiscard]] FileCopyResult CopyWholeFile(const std::string& sourcePath, int targetFolderFd,
                                           const std::string& targetName, std::int64_t mtime);

// The system calls a copy may use, for tests and benchmarks that must rule some out.
enum class CopyMethod { CopyFileRange, SendFile, ReadWrite };
[[nodiscard]] FileCopyResult CopyWholeFileWith(CopyMethod firstMethod, const std::string& sourcePath,
                                               int targetFolderFd, const std::string& targetName, std::int64_t mtime);

} // namespace marrowick
