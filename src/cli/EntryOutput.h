#pragma once

#include "cli/Json.h"
#include "core/backup/ContentPresence.h"
#include "core/backup/FileNode.h"
#include "core/backup/SummaryReader.h"

#include <iosfwd>
#include <string>

namespace marrowick::cli {

// "folder", "file" or "link".
[[nodiscard]] std::string_view EntryTypeName(const FileNode& node);

// One entry as a JSON object: name, path, type, size, mtime, time, birth, mode (st_mode bits) and fileID; a link's
// target; and a file's "present", whether the backup holds its content.
[[nodiscard]] std::string EntryJson(const FileNode& node, ContentPresence& presence);

// "Manifest.db" or "Manifest.mbdb".
[[nodiscard]] std::string ManifestName(ManifestKind manifestKind);

// A backup's summary as a JSON object: name, time, version, deviceType, serialNumber, folder, manifest.
[[nodiscard]] JsonObject BackupJson(const BackupRecord& backup);

// Writes a JSON array one element a line, so that a million entries stream out without being held.
class JsonArrayWriter final {
public:
    explicit JsonArrayWriter(std::ostream& out);
    ~JsonArrayWriter();
    JsonArrayWriter(const JsonArrayWriter&) = delete;
    JsonArrayWriter& operator=(const JsonArrayWriter&) = delete;
    void Add(const std::string& element);

private:
    std::ostream& out_;
    bool first_ = true;
};

} // namespace marrowick::cli
