#include "core/platform/FileCopy.h"

#include "core/platform/FileDescriptor.h"
#include "core/platform/Files.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <optional>
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

} // namespace

int WriteAll(int out, const char* data, std::size_t size) {
    for (std::size_t written = 0; written < size;) {
        const ssize_t n = ::write(out, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

ssize_t ReadSome(int in, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(in, buffer, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

namespace {

// Copies up to limit bytes (all of them when limit is negative) from in's position to out's.
int CopyWithReadWrite(int in, int out, off_t limit = -1) {
    std::vector<char> buffer(std::size_t{1} << 20);
    while (limit != 0) {
        const std::size_t want = limit < 0 ? buffer.size() : std::min(buffer.size(), static_cast<std::size_t>(limit));
        const ssize_t got = ReadSome(in, buffer.data(), want);
        if (got == 0) {
            return 0;
        }
        if (got < 0) {
            return errno;
        }
        if (const int error = WriteAll(out, buffer.data(), static_cast<std::size_t>(got)); error != 0) {
            return error;
        }
        limit = limit < 0 ? limit : limit - got;
    }
    return 0;
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

// The folder and the name that a target name (a path when the folder is AT_FDCWD) stands for.
struct TargetPlace {
    FileDescriptor Owned; // the folder, when it had to be opened
    int Folder = AT_FDCWD;
    std::string Name;
};

int SplitTarget(int folderFd, const std::string& targetName, TargetPlace& place) {
    const std::size_t slash = targetName.find_last_of('/');
    if (slash == std::string::npos) {
        place.Folder = folderFd;
        place.Name = targetName;
        return 0;
    }
    const std::string parent = slash == 0 ? std::string("/") : targetName.substr(0, slash);
    place.Owned = FileDescriptor(::openat(folderFd, parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!place.Owned.IsOpen()) {
        return errno;
    }
    place.Folder = place.Owned.Get();
    place.Name = targetName.substr(slash + 1);
    return 0;
}

// Nothing when the target is free or holds a regular file that may be replaced; else why it may not.
std::optional<Failure> CheckTarget(const TargetPlace& place) {
    struct stat status {};
    if (::fstatat(place.Folder, place.Name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::nullopt : std::optional(Failure::System(FailureStep::Check, place.Name, errno));
    }
    if (S_ISLNK(status.st_mode)) {
        return Failure::Because(FailureStep::Check, place.Name, FailureCause::Link);
    }
    if (S_ISDIR(status.st_mode)) {
        return Failure::Because(FailureStep::Check, place.Name, FailureCause::Folder);
    }
    if (!S_ISREG(status.st_mode)) {
        return Failure::Because(FailureStep::Check, place.Name, FailureCause::NotRegularFile);
    }
    return std::nullopt;
}

std::string TemporaryName() {
    static std::atomic<unsigned> counter{0};
    return ".marrowick-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + ".part";
}

// Calls make with new temporary names until one is free; make returns 0 or an errno. Returns the name taken, or
// the errno that stopped it.
template <typename Make>
int TakeTemporaryName(const Make& make, std::string& taken) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName();
        const int error = make(name);
        if (error == 0) {
            taken = std::move(name);
            return 0;
        }
        if (error != EEXIST) {
            return error;
        }
    }
    return EEXIST;
}

// A file being written beside its target: unnamed where the file system allows it, so that nothing is left behind
// however the process ends; else under a hidden temporary name, removed unless it was put in place.
class NewFile final {
public:
    explicit NewFile(const TargetPlace& place) : place_(place) {}
    ~NewFile() {
        if (!temporary_.empty()) {
            ::unlinkat(place_.Folder, temporary_.c_str(), 0);
        }
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int Create() {
        Result<FileDescriptor> unnamed = CreateUnnamedFile(place_.Folder, ".", O_WRONLY, 0666);
        if (unnamed) {
            fd_ = std::move(*unnamed);
            unnamed_ = true;
            return 0;
        }
        if (unnamed.Error().Error != EOPNOTSUPP) {
            return unnamed.Error().Error;
        }
        return TakeTemporaryName(
            [this](const std::string& name) {
                fd_ = FileDescriptor(
                    ::openat(place_.Folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
                return fd_.IsOpen() ? 0 : errno;
            },
            temporary_);
    }

    [[nodiscard]] int Fd() const { return fd_.Get(); }

    // Gives the complete file the target's name, replacing a regular file there. Returns 0 or an errno.
    int Place() {
        if (unnamed_) {
            const Result<void> named = NameUnnamedFile(fd_.Get(), place_.Folder, place_.Name);
            if (named) {
                return fd_.Close();
            }
            if (named.Error().Error != EEXIST) {
                return named.Error().Error;
            }
            // A file stands there: name the copy beside it, then rename it over that file in one step.
            const int error = TakeTemporaryName(
                [this](const std::string& name) {
                    const Result<void> linked = NameUnnamedFile(fd_.Get(), place_.Folder, name);
                    return linked ? 0 : linked.Error().Error;
                },
                temporary_);
            if (error != 0) {
                return error;
            }
        }
        if (const int error = fd_.Close(); error != 0) {
            return error;
        }
        if (::renameat(place_.Folder, temporary_.c_str(), place_.Folder, place_.Name.c_str()) != 0) {
            return errno;
        }
        temporary_.clear();
        return 0;
    }

private:
    const TargetPlace& place_;
    FileDescriptor fd_;
    bool unnamed_ = false;
    std::string temporary_; // the name the file has while it is not in place, if any
};

} // namespace

Result<void> CopyWholeFileThrough(const ContentWriter& writeContent, int sourceFd, int targetFolderFd,
                                  const std::string& targetName, std::int64_t mtime) {
    struct stat source {};
    if (::fstat(sourceFd, &source) != 0 || ::lseek(sourceFd, 0, SEEK_SET) < 0) {
        return Failure::System(FailureStep::Open, {}, errno);
    }
    if (!S_ISREG(source.st_mode)) {
        return Failure::Because(FailureStep::Open, {},
                                S_ISDIR(source.st_mode) ? FailureCause::Folder : FailureCause::NotRegularFile);
    }
    TargetPlace place;
    if (const int error = SplitTarget(targetFolderFd, targetName, place); error != 0) {
        return Failure::System(FailureStep::Check, targetName, error);
    }
    if (std::optional<Failure> refused = CheckTarget(place)) {
        return *refused;
    }
    NewFile copy(place);
    if (const int error = copy.Create(); error != 0) {
        return Failure::System(FailureStep::Create, place.Name, error);
    }
    if (Result<void> written = writeContent(sourceFd, copy.Fd()); !written) {
        Failure failure = written.Error();
        failure.Step = FailureStep::Write;
        failure.Path = place.Name;
        return failure;
    }
    timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    if (mtime != 0) {
        times[1].tv_sec = static_cast<time_t>(mtime);
    } else {
        times[1] = source.st_mtim;
    }
    const int timeError = ::futimens(copy.Fd(), times) != 0 ? errno : 0;
    if (const int error = copy.Place(); error != 0) {
        return Failure::System(FailureStep::Replace, place.Name, error);
    }
    if (timeError != 0) {
        return Failure::System(FailureStep::SetTime, place.Name, timeError);
    }
    return {};
}

Result<void> CopyWholeFileWith(CopyMethod firstMethod, int sourceFd, int targetFolderFd, const std::string& targetName,
                               std::int64_t mtime) {
    return CopyWholeFileThrough(
        [firstMethod](int in, int out) -> Result<void> {
            if (const int error = CopyData(firstMethod, in, out); error != 0) {
                return Failure::System(FailureStep::Write, {}, error);
            }
            return {};
        },
        sourceFd, targetFolderFd, targetName, mtime);
}

Result<void> CopyWholeFile(int sourceFd, int targetFolderFd, const std::string& targetName, std::int64_t mtime) {
    return CopyWholeFileWith(CopyMethod::CopyFileRange, sourceFd, targetFolderFd, targetName, mtime);
}

Result<void> CopySparseContent(int in, int out) {
    const auto failed = [](int error) { return Failure::System(FailureStep::Write, {}, error); };
    const off_t end = ::lseek(in, 0, SEEK_END);
    if (end < 0) {
        return failed(errno);
    }
    for (off_t position = 0; position < end;) {
        off_t data = ::lseek(in, position, SEEK_DATA);
        off_t hole = data < 0 ? -1 : ::lseek(in, data, SEEK_HOLE);
        if (data < 0 && errno == ENXIO) {
            break; // only a hole is left
        }
        if (data < 0 || hole < 0) {
            if (errno != EINVAL) {
                return failed(errno);
            }
            data = position; // the file system does not say where its holes are: copy everything
            hole = end;
        }
        if (::lseek(in, data, SEEK_SET) < 0 || ::lseek(out, data, SEEK_SET) < 0) {
            return failed(errno);
        }
        if (const int error = CopyWithReadWrite(in, out, hole - data); error != 0) {
            return failed(error);
        }
        position = hole;
    }
    if (::ftruncate(out, end) != 0) {
        return failed(errno);
    }
    return {};
}

} // namespace marrowick
