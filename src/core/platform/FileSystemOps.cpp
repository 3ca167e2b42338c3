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

std::optional<int> FromHook(FileSystemCall call, const std::string& first, const std::string& second) {
    const FileSystemHook& hook = Hook();
    return hook ? hook(call, first, second) : std::nullopt;
}

} // namespace

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (const std::optional<int> injected = FromHook(FileSystemCall::Rename, from, to)) {
        return *injected;
    }
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

int MakeDirectoryLink(const std::string& target, const std::string& link) {
    if (const std::optional<int> injected = FromHook(FileSystemCall::Link, target, link)) {
        return *injected;
    }
    std::error_code error;
    std::filesystem::create_directory_symlink(target, link, error);
    return error.value();
}

int MakeFolder(const std::string& path) {
    if (const std::optional<int> injected = FromHook(FileSystemCall::Folder, path, {})) {
        return *injected;
    }
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

ScopedFileSystemHook::ScopedFileSystemHook(FileSystemHook hook) : former_(std::move(Hook())) {
    Hook() = std::move(hook);
}

ScopedFileSystemHook::~ScopedFileSystemHook() {
    Hook() = std::move(former_);
}

} // namespace marrowick
