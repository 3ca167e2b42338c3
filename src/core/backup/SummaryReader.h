#pragma once

#include "core/backup/ManifestKind.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace marrowick {

// Info.plist, Status.plist and Manifest.plist of real backups hold a few KB to a few hundred KB; a larger file is
// not a backup's summary and is not read.
inline constexpr std::size_t MaxSummaryFileBytes = std::size_t{16} << 20;

// One row of the backup list.
struct BackupRecord {
    std::string Name;         // "Display Name"
    std::string Time;         // backup date, "YYYY-MM-DD hh:mm:ss" local time
    std::string Version;      // "Product Version"
    std::string DeviceType;   // "Product Name"
    std::string SerialNumber; // "Serial Number"
    marrowick::ManifestKind ManifestKind = ManifestKindDb;
    std::string FolderPath; // the backup folder, ending with "/"; set by the scan

    void Reset();
};

// True when folder is a backup: Info.plist with the device's name, version and serial number, a manifest, and a
// backup time (Status.plist's date, else Manifest.plist's "Date", else Info.plist's "Last Backup Date"). record is
// filled as far as the reading went either way. Only regular files are read in folder, never through a link.
[[nodiscard]] bool ReadBackupSummary(BackupRecord& record, std::string folder);

// The value of the <string> element that follows key (a whole key line such as "<key>Display Name</key>") in the
// text of an XML plist, with character references decoded; "" when not found. Found by a byte search, not by
// parsing: a key that starts in the last key-length + 16 bytes is not matched.
[[nodiscard]] std::string ReadPlistStringValue(std::string_view plist, std::string_view key);

// The same four values from a binary plist's top dictionary; "" when the key is absent or not a string.
[[nodiscard]] std::string ReadBinaryPlistStringValue(std::string_view plist, std::string_view keyName);

// The date under keyName in the top dictionary of a binary or XML plist, as the list shows it; "" when the key is
// absent or its value is not a date (in XML, not <date>YYYY-MM-DDThh:mm:ssZ</date>).
[[nodiscard]] std::string ReadPlistDateValue(std::string_view plist, std::string_view keyName);

// The date of Status.plist at path as the list shows it, or "" when it holds none.
[[nodiscard]] std::string ReadStatusPlistDate(const std::string& path);

// The date text of a binary plist's first date object (in object order), or "".
[[nodiscard]] std::string StatusPlistDateText(std::string_view plist);

} // namespace marrowick
