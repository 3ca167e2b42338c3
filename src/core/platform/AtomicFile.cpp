#include "core/platform/AtomicFile.h"

#include "core/platform/FileDescriptor.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

Failure Fail(FailureStep step, const std::string& target, int error, const std::string& temporary) {
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
    }
    return Failure::System(step, target, error);
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

// The file that the chain of symbolic links at path ends in (which need not exist).
Result<std::string> FollowLinks(const std::string& path) {
    std::string end = path;
    for (int followed = 0; followed < MaxLinksFollowed; ++followed) {
        struct stat status {};
        if (::lstat(end.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return end;
        }
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(end, error);
        if (error) {
            return Failure::System(FailureStep::Check, end, error.value());
        }
        end = target.is_absolute() ? target.string() : (std::filesystem::path(end).parent_path() / target).string();
    }
    return Failure::System(FailureStep::Check, path, ELOOP);
}

mode_t ModeToKeep(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? status.st_mode & 07777 : NewFileMode;
}

} // namespace

Result<void> WriteFileAtomically(const std::string& path, const std::string& content) {
    // A link stays a link: the new file replaces the one it ends in.
    const Result<std::string> followed = FollowLinks(path);
    if (!followed) {
        return followed.Error();
    }
    const std::string& target = *followed;
    std::string temporary = target + ".XXXXXX";
    FileDescriptor file(::mkstemp(temporary.data()));
    if (!file.IsOpen()) {
        return Fail(FailureStep::Create, target, errno, {});
    }
    if (!WriteAll(file.Get(), content) || ::fsync(file.Get()) != 0 || ::fchmod(file.Get(), ModeToKeep(target)) != 0) {
        const int error = errno;
        file.Close();
        return Fail(FailureStep::Write, target, error, temporary);
    }
    if (const int error = file.Close(); error != 0) {
        return Fail(FailureStep::Write, target, error, temporary);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return Fail(FailureStep::Replace, target, errno, temporary);
    }
    return {};
}

} // namespace marrowick
