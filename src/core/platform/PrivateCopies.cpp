#include "core/platform/PrivateCopies.h"

#include "core/platform/FileCopy.h"
#include "core/platform/Files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

constexpr std::string_view FolderPrefix = "marrowick-db-";

std::string TemporaryBase() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base != nullptr && *base == '/' ? base : "/tmp") + "/";
}

// The process id that a private folder's name "marrowick-db-PID-XXXXXX" holds, or 0.
pid_t OwnerOf(std::string_view name) {
    if (!name.starts_with(FolderPrefix)) {
        return 0;
    }
    name.remove_prefix(FolderPrefix.size());
    pid_t pid = 0;
    for (const char c : name.substr(0, name.find('-'))) {
        if (c < '0' || c > '9' || pid > 100000000) {
            return 0;
        }
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Removes the private folders of this user's processes that ended without removing theirs (killed, say).
void RemoveAbandonedFolders(const std::string& base) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const pid_t owner = OwnerOf(name);
        struct stat status {};
        if (owner <= 0 || ::lstat(it->path().c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::getuid() || ::kill(owner, 0) == 0 || errno != ESRCH) {
            continue;
        }
        std::error_code ignored;
        std::filesystem::remove_all(it->path(), ignored);
    }
}

} // namespace

PrivateCopies::PrivateCopies() : base_(TemporaryBase()) {}

PrivateCopies::~PrivateCopies() {
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

Result<void> PrivateCopies::Add(const std::string& name, int sourceFd) {
    Result<FileDescriptor> copy = CreateUnnamedFile(AT_FDCWD, base_, O_RDWR, 0600);
    const bool named = !copy && copy.Error().Error == EOPNOTSUPP;
    if (named) {
        // A file system without unnamed files: the copy is named from the start.
        if (const int error = MakeFolder(); error != 0) {
            return Failure::System(FailureStep::Create, base_, error);
        }
        FileDescriptor file(::open((folder_ + name).c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
        if (!file.IsOpen()) {
            return Failure::System(FailureStep::Create, folder_ + name, errno);
        }
        copy = std::move(file);
    }
    if (!copy) {
        return copy.Error();
    }
    if (const Result<void> copied = CopySparseContent(sourceFd, copy->Get()); !copied) {
        return Failure::System(FailureStep::Write, base_, copied.Error().Error);
    }
    copies_.push_back(Copy{name, std::move(*copy), named});
    return {};
}

int PrivateCopies::MakeFolder() {
    if (!folder_.empty()) {
        return 0;
    }
    RemoveAbandonedFolders(base_);
    std::string pattern = base_ + std::string(FolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return errno;
    }
    folder_ = pattern + "/";
    return 0;
}

Result<void> PrivateCopies::Publish() {
    if (const int error = MakeFolder(); error != 0) {
        return Failure::System(FailureStep::Create, base_, error);
    }
    for (const Copy& copy : copies_) {
        if (copy.Named) {
            continue;
        }
        if (Result<void> named = NameUnnamedFile(copy.Fd.Get(), AT_FDCWD, folder_ + copy.Name); !named) {
            return named;
        }
    }
    return {};
}

} // namespace marrowick
