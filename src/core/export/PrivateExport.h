#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/export/ExportEngine.h"
#include "core/platform/Result.h"

#include <string>

namespace marrowick {

struct PrivateExportResult {
    ExportResult Export;
    std::string Path; // the exported entry; "" when nothing of it was written
};

// Where an export into folder puts entry.
[[nodiscard]] std::string ExportedPath(const std::string& folder, const FileNode& entry);

// A new folder for one export, inside a private folder of the run (readable by this user only); ends without "/".
[[nodiscard]] Result<std::string> NewPrivateExportFolder();

// Exports entry into a new folder of its own inside a private folder of the run (readable by this user only),
// for another program to open or copy: a drop target, the desktop's viewer. Everything exported so goes when the
// program ends, or with the next run when it was killed.
[[nodiscard]] PrivateExportResult ExportPrivately(const FileNode& entry, const std::string& backupFolder,
                                                  ManifestKind manifestKind);

} // namespace marrowick
