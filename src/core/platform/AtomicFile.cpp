#include "core/platform/AtomicFile.h"

#include "core/platform/FileDescriptor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

bool Fail(std::string* reason, int error, const std::string& temporary) {
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
    }
    if (reason != nullptr) {
        *reason = std::strerror(error);
    }
    return false;
}

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

constexpr int MaxLinksFollowed = 40; // as the kernel's own limit, past which a path gives ELOOP
constexpr mode_t NewFileMode = 0644;

// Replaces path by the file that its chain of symbolic links ends in (which need not exist); 0 or an errno value.
int FollowLinks(std::string& path) {
    for (int followed = 0; followed < MaxLinksFollowed; ++followed) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return 0;
        }
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) {
            return error.value();
        }
        path = target.is_absolute() ? target.string() : (std::filesystem::path(path).parent_path() / target).string();
    }
    return ELOOP;
}

mode_t ModeToKeep(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? status.st_mode & 07777 : NewFileMode;
}

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* reason) {
    // A link stays a link: the new file replaces the one it ends in.
    std::string target = path;
    if (const int error = FollowLinks(target); error != 0) {
        return Fail(reason, error, {});
    }
    std::string temporary = target + ".XXXXXX";
    FileDescriptor file(::mkstemp(temporary.data()));
    if (!file.IsOpen()) {
        return Fail(reason, errno, {});
    }
    if (!WriteAll(file.Get(), content) || ::fsync(file.Get()) != 0 || ::fchmod(file.Get(), ModeToKeep(target)) != 0) {
        const int error = errno;
        file.Close();
        return Fail(reason, error, temporary);
    }
    if (const int error = file.Close(); error != 0) {
        return Fail(reason, error, temporary);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return Fail(reason, errno, temporary);
    }
    return true;
}

} // namespace marrowick
