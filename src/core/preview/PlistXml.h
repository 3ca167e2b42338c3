#pragma once

#include "core/platform/Result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace marrowick {

// A binary property list written as the XML property list of the same values, indented with tabs as Apple's tools
// write it, for a person to read. UIDs become {CF$UID: n} dictionaries, as plutil writes them. What cannot be read
// (a broken reference, a collection nested past 64 levels, a 16-byte integer) is written as a comment in its place.
// The text stops with a comment once it passes maxBytes, so that a small hostile list cannot make a large text.
// Fails (Read, Library) only when data is no binary property list.
[[nodiscard]] Result<std::string> BinaryPlistToXml(std::string_view data, std::size_t maxBytes);

} // namespace marrowick
