#include "core/platform/AtomicFile.h"

#include "core/platform/FileDescriptor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* reason) {
    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(::mkstemp(temporary.data()));
    if (!file.IsOpen()) {
        return Fail(reason, errno, {});
    }
    if (!WriteAll(file.Get(), content) || ::fsync(file.Get()) != 0 || ::fchmod(file.Get(), 0644) != 0) {
        const int error = errno;
        file.Close();
        return Fail(reason, error, temporary);
    }
    if (const int error = file.Close(); error != 0) {
        return Fail(reason, error, temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return Fail(reason, errno, temporary);
    }
    return true;
}

} // namespace marrowick
