#pragma once

#include <string>
#include <string_view>

namespace marrowick {

// The device path below "/var" of an entry given by its backup domain and its path relative to that domain.
// Bytes are taken as they are (UTF-8); every domain yields a path.
[[nodiscard]] std::string DomainToDevicePath(std::string_view domain, std::string_view relativePath);

// The same, written into out (its former content is replaced), for readers that map many entries.
void DomainToDevicePath(std::string_view domain, std::string_view relativePath, std::string& out);

} // namespace marrowick
