#pragma once

#include "core/platform/Result.h"

#include <functional>
#include <optional>
#include <string>

// The file-system changes of the relocation. A failure holds the system's errno; none of them ever removes anything.
namespace marrowick {

// Renames from to to, within one file system; fails with EEXIST when to exists, whatever it is. A failure is a
// Rename of from, with to as its OtherPath.
[[nodiscard]] Result<void> RenameNoReplace(const std::string& from, const std::string& to);

// Makes a symbolic link at link that points at the folder target (which need not exist yet). A failure is a Link
// of link, with target as its OtherPath.
[[nodiscard]] Result<void> MakeDirectoryLink(const std::string& target, const std::string& link);

// Makes one folder; its parent must exist. A failure is a Create of path.
[[nodiscard]] Result<void> MakeFolder(const std::string& path);

enum class FileSystemCall { Rename, Link, Folder };

// Calls to the three operations above go through this hook first, so that tests can make one of them fail: the
// hook gets the call and its two paths (the second is empty for Folder) and returns an errno value to report
// instead, 0 to report success without doing anything, or nothing to let the real call run.
using FileSystemHook = std::function<std::optional<int>(FileSystemCall, const std::string&, const std::string&)>;

// Installs a hook for its lifetime and puts back the former one afterwards.
class ScopedFileSystemHook final {
public:
    explicit ScopedFileSystemHook(FileSystemHook hook);
    ~ScopedFileSystemHook();
    ScopedFileSystemHook(const ScopedFileSystemHook&) = delete;
    ScopedFileSystemHook& operator=(const ScopedFileSystemHook&) = delete;

private:
    FileSystemHook former_;
};

} // namespace marrowick
