#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marrowick {

// The bytes of base64 text (RFC 4648's standard alphabet), as a property list's <data> holds them: white space is
// passed over anywhere, "=" may only end the text. Nothing when any other character is found or the text stops
// part-way through a byte.
[[nodiscard]] std::optional<std::string> DecodeBase64(std::string_view text);

} // namespace marrowick
