#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/backup/StoredFile.h"

#include <string>

namespace marrowick {

// Whether a backup holds the content of its files. Opening a backup does not look, so that a million stored files
// are not looked up before the first folder shows; this looks for the entries a person asks about. Used by one
// thread at a time.
class ContentPresence final {
public:
    // backupFolder ends with "/".
    ContentPresence(const std::string& backupFolder, ManifestKind manifestKind);

    // True when node is a file whose stored file is a regular file of the backup; false for folders and links,
    // whose content no backup holds.
    [[nodiscard]] bool Holds(const FileNode& node);

private:
    StoredFiles files_;
};

} // namespace marrowick
