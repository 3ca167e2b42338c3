#include "core/platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {
namespace {

bool Fail(std::string* reason, int error, const std::string& temporary, int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
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

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* reason) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return Fail(reason, errno, {}, -1);
    }
    if (!WriteAll(fd, content) || ::fsync(fd) != 0 || ::fchmod(fd, 0644) != 0) {
        return Fail(reason, errno, temporary, fd);
    }
    if (::close(fd) != 0) {
        return Fail(reason, errno, temporary, -1);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return Fail(reason, errno, temporary, -1);
    }
    return true;
}

} // namespace marrowick
