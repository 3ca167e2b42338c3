#include "core/platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

// O_NONBLOCK lets a FIFO open without a writer, so that it can be refused instead of waited on.
Result<FileDescriptor> OpenRegular(int folderFd, const std::string& name, int extraFlags) {
    FileDescriptor file(::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags));
    if (!file.IsOpen()) {
        return errno == ELOOP ? Failure::Because(FailureStep::Open, name, FailureCause::Link)
                              : Failure::System(FailureStep::Open, name, errno);
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        return Failure::System(FailureStep::Open, name, errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return Failure::Because(FailureStep::Open, name,
                                S_ISDIR(status.st_mode) ? FailureCause::Folder : FailureCause::NotRegularFile);
    }
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Failure::System(FailureStep::Open, name, errno);
    }
    return file;
}

Result<std::string> ReadOpened(Result<FileDescriptor> opened, const std::string& name, std::size_t maxBytes) {
    if (!opened) {
        return opened.Error();
    }
    const int fd = opened->Get();
    const auto tooLarge = Failure::Because(FailureStep::Read, name, FailureCause::TooLarge);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return Failure::System(FailureStep::Read, name, errno);
    }
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        return tooLarge;
    }
    std::string content(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    // The file may grow or shrink while it is read; what is there at the end counts, up to the bound.
    while (true) {
        if (done == content.size()) {
            if (content.size() > maxBytes) {
                return tooLarge;
            }
            content.resize(content.size() + 4096);
        }
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Failure::System(FailureStep::Read, name, errno);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done > maxBytes) {
        return tooLarge;
    }
    content.resize(done);
    return content;
}

// The real path of path, or of its nearest existing ancestor when it does not exist; "" when none can be found.
std::string NearestRealPath(std::string path) {
    path = WithoutTrailingSlashes(std::move(path));
    for (;;) {
        if (std::string real = RealPath(path); !real.empty()) {
            return real;
        }
        if (path == "/" || path == ".") {
            return {};
        }
        const std::size_t slash = path.find_last_of('/');
        path = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
    }
}

// An unnamed file is named through its /proc/self/fd link.
bool ProcIsMounted() {
    static const bool mounted = ::access("/proc/self/fd", X_OK) == 0;
    return mounted;
}

} // namespace

Result<FileDescriptor> CreateUnnamedFile(int folderFd, const std::string& folderName, int flags, mode_t mode) {
    if (!ProcIsMounted()) {
        return Failure::System(FailureStep::Create, folderName, EOPNOTSUPP);
    }
    FileDescriptor file(::openat(folderFd, folderName.c_str(), O_TMPFILE | O_CLOEXEC | flags, mode));
    if (!file.IsOpen()) {
        const bool unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        return Failure::System(FailureStep::Create, folderName, unsupported ? EOPNOTSUPP : errno);
    }
    return file;
}

Result<void> NameUnnamedFile(int fd, int folderFd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return Failure::System(FailureStep::Link, name, errno);
    }
    return {};
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool EntryExistsAt(int folderFd, const std::string& name) {
    struct stat status {};
    return ::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

Result<FileDescriptor> OpenRegularFileAt(int folderFd, const std::string& name) {
    return OpenRegular(folderFd, name, O_NOFOLLOW);
}

Result<FileDescriptor> OpenFolderHandle(const std::string& path) {
    FileDescriptor folder(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) {
        return errno == ENOTDIR ? Failure::Because(FailureStep::Open, path, FailureCause::NotFolder)
                                : Failure::System(FailureStep::Open, path, errno);
    }
    return folder;
}

Result<std::string> ReadRegularFileAt(int folderFd, const std::string& name, std::size_t maxBytes) {
    return ReadOpened(OpenRegular(folderFd, name, O_NOFOLLOW), name, maxBytes);
}

Result<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    return ReadOpened(OpenRegular(AT_FDCWD, path, 0), path, maxBytes);
}

bool LiesWithin(const std::string& path, const std::string& folder) {
    struct stat folderStatus {};
    if (path.empty() || ::stat(folder.c_str(), &folderStatus) != 0) {
        return false;
    }
    for (std::string ancestor = NearestRealPath(path); !ancestor.empty();) {
        struct stat status {};
        if (::stat(ancestor.c_str(), &status) == 0 && status.st_dev == folderStatus.st_dev &&
            status.st_ino == folderStatus.st_ino) {
            return true;
        }
        if (ancestor == "/") {
            return false;
        }
        ancestor.resize(std::max<std::size_t>(ancestor.find_last_of('/'), 1));
    }
    return false;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

} // namespace marrowick
