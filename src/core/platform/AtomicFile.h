#pragma once

#include "core/platform/Result.h"

#include <string>

namespace marrowick {

// Replaces the file at path with content so that a crash or a full disk leaves either the old or the new file,
// never a cut one. A symbolic link at path is kept: the file its links end in is replaced. The new file keeps the
// mode of the one it replaces (0644 when there was none). A failure names the step (Check while following the
// links, Create, Write or Replace), the file written (the end of the links) and the errno.
[[nodiscard]] Result<void> WriteFileAtomically(const std::string& path, const std::string& content);

} // namespace marrowick
