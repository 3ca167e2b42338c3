#include "core/platform/PrivateFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

std::string TemporaryBase() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base != nullptr && *base == '/' ? base : "/tmp") + "/";
}

// The process id that a private folder's name "PREFIX-PID-XXXXXX" holds, or 0.
pid_t OwnerOf(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) {
        return 0;
    }
    name.remove_prefix(prefix.size());
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
void RemoveAbandonedFolders(const std::string& base, std::string_view prefix) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        const pid_t owner = OwnerOf(it->path().filename().string(), prefix);
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

PrivateFolder::PrivateFolder(std::string_view prefix) : prefix_(std::string(prefix) + "-"), base_(TemporaryBase()) {}

PrivateFolder::~PrivateFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

Result<void> PrivateFolder::Make() {
    if (!path_.empty()) {
        return {};
    }
    RemoveAbandonedFolders(base_, prefix_);
    std::string pattern = base_ + prefix_ + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return Failure::System(FailureStep::Create, base_, errno);
    }
    path_ = pattern + "/";
    return {};
}

} // namespace marrowick
