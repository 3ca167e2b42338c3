#include "core/platform/FileSystemOps.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

FileSystemHook& Hook() {
    static FileSystemHook hook;
    return hook;
}

// 0 or an errno value: what the hook gives, or what the real call does.
int Call(FileSystemCall call, const std::string& first, const std::string& second,
         int (*real)(const std::string&, const std::string&)) {
    const FileSystemHook& hook = Hook();
    if (const std::optional<int> injected = hook ? hook(call, first, second) : std::nullopt) {
        return *injected;
    }
    return real(first, second);
}

int RealRename(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS) {
        return error;
    }
    // A file system without RENAME_NOREPLACE: a plain rename would replace an empty folder or a file at to.
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RealLink(const std::string& target, const std::string& link) {
    std::error_code error;
    std::filesystem::create_directory_symlink(target, link, error);
    return error.value();
}

int RealFolder(const std::string& path, const std::string&) {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

Result<void> Reported(FailureStep step, const std::string& path, const std::string& otherPath, int error) {
    if (error == 0) {
        return {};
    }
    Failure failure = Failure::System(step, path, error);
    failure.OtherPath = otherPath;
    return failure;
}

} // namespace

Result<void> RenameNoReplace(const std::string& from, const std::string& to) {
    return Reported(FailureStep::Rename, from, to, Call(FileSystemCall::Rename, from, to, RealRename));
}

Result<void> MakeDirectoryLink(const std::string& target, const std::string& link) {
    return Reported(FailureStep::Link, link, target, Call(FileSystemCall::Link, target, link, RealLink));
}

Result<void> MakeFolder(const std::string& path) {
    return Reported(FailureStep::Create, path, {}, Call(FileSystemCall::Folder, path, {}, RealFolder));
}

ScopedFileSystemHook::ScopedFileSystemHook(FileSystemHook hook) : former_(std::move(Hook())) {
    Hook() = std::move(hook);
}

ScopedFileSystemHook::~ScopedFileSystemHook() {
    Hook() = std::move(former_);
}

} // namespace marrowick
