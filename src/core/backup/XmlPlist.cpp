#include "core/backup/XmlPlist.h"

#include "core/backup/Base64.h"

namespace marrowick {

std::size_t FindTopLevelValue(std::string_view plist, std::string_view keyName) {
    const std::string keyElement = "<key>" + std::string(keyName) + "</key>";
    constexpr std::string_view Space = " \t\r\n";
    int depth = 0;
    for (std::size_t at = plist.find('<'); at != std::string_view::npos; at = plist.find('<', at + 1)) {
        const std::string_view tag = plist.substr(at);
        if (tag.starts_with("<!--") || tag.starts_with("<![CDATA[")) {
            const std::string_view end = tag[2] == '-' ? "-->" : "]]>";
            at = plist.find(end, at);
            if (at == std::string_view::npos) {
                return std::string_view::npos;
            }
        } else if (tag.starts_with("<dict>") || tag.starts_with("<array>")) {
            ++depth;
        } else if (tag.starts_with("</dict>") || tag.starts_with("</array>")) {
            --depth;
        } else if (depth == 1 && tag.starts_with(keyElement)) {
            return plist.find_first_not_of(Space, at + keyElement.size());
        }
    }
    return std::string_view::npos;
}

std::optional<std::string_view> XmlPlistElementText(std::string_view plist, std::string_view keyName,
                                                    std::string_view element) {
    const std::string open = "<" + std::string(element) + ">";
    const std::string close = "</" + std::string(element) + ">";
    const std::size_t value = FindTopLevelValue(plist, keyName);
    if (value == std::string_view::npos || !plist.substr(value).starts_with(open)) {
        return std::nullopt;
    }
    const std::size_t start = value + open.size();
    const std::size_t end = plist.find(close, start);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return plist.substr(start, end - start);
}

std::optional<bool> XmlPlistBoolValue(std::string_view plist, std::string_view keyName) {
    const std::size_t value = FindTopLevelValue(plist, keyName);
    if (value == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view element = plist.substr(value);
    if (element.starts_with("<true/>") || element.starts_with("<false/>")) {
        return element[1] == 't';
    }
    return std::nullopt;
}

std::optional<std::string> XmlPlistDataValue(std::string_view plist, std::string_view keyName) {
    const std::optional<std::string_view> text = XmlPlistElementText(plist, keyName, "data");
    return text ? DecodeBase64(*text) : std::nullopt;
}

} // namespace marrowick
