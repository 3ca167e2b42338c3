#include "core/platform/Files.h"

#include "core/platform/FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {

bool PathExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    std::string content;
    content.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    // The file may grow or shrink while it is read; what is there at the end counts.
    while (true) {
        if (done == content.size()) {
            content.resize(content.size() + 4096);
        }
        const ssize_t n = ::read(file.Get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    content.resize(done);
    return content;
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
