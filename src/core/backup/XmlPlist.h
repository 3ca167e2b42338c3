#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace marrowick {

// Where the value element of keyName in the top dictionary of an XML plist starts, or npos. Containers are
// counted so that a key of the same name in a nested dictionary is not taken for the top one's.
[[nodiscard]] std::size_t FindTopLevelValue(std::string_view plist, std::string_view keyName);

// The text between <element> and </element> of the top dictionary's value under keyName; nothing when the value
// is no such element or is not closed.
[[nodiscard]] std::optional<std::string_view> XmlPlistElementText(std::string_view plist, std::string_view keyName,
                                                                  std::string_view element);

// The top dictionary's <true/> or <false/> under keyName; nothing when the value is neither.
[[nodiscard]] std::optional<bool> XmlPlistBoolValue(std::string_view plist, std::string_view keyName);

// The bytes of the top dictionary's <data> under keyName; nothing when there is none or its base64 is broken.
[[nodiscard]] std::optional<std::string> XmlPlistDataValue(std::string_view plist, std::string_view keyName);

} // namespace marrowick
