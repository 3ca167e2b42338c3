#pragma once

#include <optional>
#include <string>

namespace marrowick {

// True when something exists at path (a file, a folder or a link to one).
[[nodiscard]] bool PathExists(const std::string& path);

// The whole content of a regular file, or nothing when it cannot be opened or read.
[[nodiscard]] std::optional<std::string> ReadWholeFile(const std::string& path);

// path with a "/" appended when it does not end with one.
[[nodiscard]] std::string WithTrailingSlash(std::string path);

// path without the "/" at its end, "/" itself excepted.
[[nodiscard]] std::string WithoutTrailingSlashes(std::string path);

} // namespace marrowick
