#pragma once

#include <string>

namespace marrowick {

// Replaces the file at path with content so that a crash or a full disk leaves either the old or the new file,
// never a cut one. A symbolic link at path is kept: the file its links end in is replaced. The new file keeps the
// mode of the one it replaces (0644 when there was none). On failure returns false and puts the system's reason in
// *reason when given.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, const std::string& content,
                                       std::string* reason = nullptr);

} // namespace marrowick
