#include "core/platform/FileCopy.h"

#include "core/platform/FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace marrowick {

namespace {

// Large enough that one call moves a typical file, small enough to stay below the kernel's per-call limit.
constexpr std::size_t CopyChunk = std::size_t{1} << 30;

bool KernelRefusesCopy(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Runs one kernel copy step until the end of the source. Returns 0 on success, an errno otherwise; a refusal
// before any byte moved is passed back so that the caller can fall back to another way.
template <typename Step, typename Refuses>
int CopyInSteps(const Step& step, const Refuses& refuses, bool& refused) {
    bool moved = false;
    for (;;) {
        const ssize_t n = step();
        if (n > 0) {
            moved = true;
            continue;
        }
        if (n == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        refused = !moved && refuses(errno);
        return errno;
    }
}

int CopyWithCopyFileRange(int in, int out, bool& refused) {
    return CopyInSteps([in, out] { return ::copy_file_range(in, nullptr, out, nullptr, CopyChunk, 0); },
                       KernelRefusesCopy, refused);
}

int CopyWithSendFile(int in, int out, bool& refused) {
    return CopyInSteps([in, out] { return ::sendfile(out, in, nullptr, CopyChunk); },
                       [](int error) { return error == EINVAL || error == ENOSYS; }, refused);
}

int CopyWithReadWrite(int in, int out) {
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) {
            return 0;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t n = ::write(out, buffer.data() + written, static_cast<std::size_t>(got - written));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            written += n;
        }
    }
}

int CopyData(CopyMethod method, int in, int out) {
    bool refused = false;
    if (method == CopyMethod::CopyFileRange) {
        const int error = CopyWithCopyFileRange(in, out, refused);
        if (!refused) {
            return error;
        }
        method = CopyMethod::SendFile;
    }
    if (method == CopyMethod::SendFile) {
        refused = false;
        const int error = CopyWithSendFile(in, out, refused);
        if (!refused) {
            return error;
        }
    }
    return CopyWithReadWrite(in, out);
}

FileCopyResult Failed(CopyStage stage, int error) {
    return FileCopyResult{error, stage};
}

} // namespace

FileCopyResult CopyWholeFileWith(CopyMethod firstMethod, const std::string& sourcePath, int targetFolderFd,
                                 const std::string& targetName, std::int64_t mtime) {
    // O_NONBLOCK keeps a FIFO in either place from blocking before it is refused as not a regular file.
    const FileDescriptor in(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!in.IsOpen()) {
        return Failed(CopyStage::OpenSource, errno);
    }
    struct stat source {};
    if (::fstat(in.Get(), &source) != 0) {
        return Failed(CopyStage::OpenSource, errno);
    }
    if (!S_ISREG(source.st_mode)) {
        return Failed(CopyStage::OpenSource, S_ISDIR(source.st_mode) ? EISDIR : EINVAL);
    }

    FileDescriptor out(
        ::openat(targetFolderFd, targetName.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
    if (!out.IsOpen()) {
        return Failed(CopyStage::OpenTarget, errno);
    }
    struct stat target {};
    if (::fstat(out.Get(), &target) != 0) {
        return Failed(CopyStage::OpenTarget, errno);
    }
    // EEXIST, not EINVAL: EINVAL already means a name the file system cannot hold.
    if (!S_ISREG(target.st_mode)) {
        return Failed(CopyStage::OpenTarget, EEXIST);
    }
    // Truncated only now, so that a device or FIFO standing at the name is left as it is.
    if (::ftruncate(out.Get(), 0) != 0) {
        return Failed(CopyStage::OpenTarget, errno);
    }

    if (const int error = CopyData(firstMethod, in.Get(), out.Get()); error != 0) {
        return Failed(CopyStage::Copy, error);
    }

    timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    if (mtime != 0) {
        times[1].tv_sec = static_cast<time_t>(mtime);
    } else {
        times[1] = source.st_mtim;
    }
    if (::futimens(out.Get(), times) != 0) {
        return Failed(CopyStage::SetTime, errno);
    }
    if (const int error = out.Close(); error != 0) {
        return Failed(CopyStage::Copy, error);
    }
    return {};
}

FileCopyResult CopyWholeFile(const std::string& sourcePath, int targetFolderFd, const std::string& targetName,
                             std::int64_t mtime) {
    return CopyWholeFileWith(CopyMethod::CopyFileRange, sourcePath, targetFolderFd, targetName, mtime);
}

} // namespace marrowick
