#include "core/platform/ErrorText.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

namespace marrowick {

std::string ErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in buffer; the XSI one fills buffer.
    if constexpr (std::is_same_v<decltype(strerror_r(0, buffer, sizeof buffer)), char*>) {
        return strerror_r(error, buffer, sizeof buffer);
    } else {
        if (strerror_r(error, buffer, sizeof buffer) != 0) {
            return "Unknown error " + std::to_string(error);
        }
        return buffer;
    }
}

std::string FileOpenProblem(int error) {
    switch (error) {
    case ELOOP:
        return "it is a symbolic link, which is not followed";
    case EINVAL:
        return "it is not a regular file";
    case EISDIR:
        return "it is a folder, not a file";
    case EFBIG:
        return "it is far larger than such a file can be";
    default:
        return ErrorText(error);
    }
}

} // namespace marrowick
