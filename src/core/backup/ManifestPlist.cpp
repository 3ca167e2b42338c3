#include "core/backup/ManifestPlist.h"

#include "core/backup/BinaryPlist.h"
#include "core/backup/XmlPlist.h"

namespace marrowick {

namespace {

std::optional<ManifestPlistKeys> ReadBinary(std::string_view plist) {
    const BinaryPlist reader(plist);
    if (!reader.Dictionary(reader.TopObject())) {
        return std::nullopt;
    }
    const auto data = [&reader](std::string_view key) -> std::optional<std::string> {
        const auto value = reader.DictionaryValue(reader.TopObject(), key);
        const auto bytes = value ? reader.Data(*value) : std::nullopt;
        return bytes ? std::optional<std::string>(*bytes) : std::nullopt;
    };
    const auto encrypted = reader.DictionaryValue(reader.TopObject(), "IsEncrypted");
    return ManifestPlistKeys{encrypted && reader.Boolean(*encrypted).value_or(false), data("BackupKeyBag"),
                             data("ManifestKey")};
}

std::optional<ManifestPlistKeys> ReadXml(std::string_view plist) {
    if (plist.find("<plist") == std::string_view::npos || plist.find("<dict>") == std::string_view::npos) {
        return std::nullopt;
    }
    return ManifestPlistKeys{XmlPlistBoolValue(plist, "IsEncrypted").value_or(false),
                             XmlPlistDataValue(plist, "BackupKeyBag"), XmlPlistDataValue(plist, "ManifestKey")};
}

} // namespace

std::optional<ManifestPlistKeys> ReadManifestPlistKeys(std::string_view plist) {
    return BinaryPlist::IsBinary(plist) ? ReadBinary(plist) : ReadXml(plist);
}

} // namespace marrowick
