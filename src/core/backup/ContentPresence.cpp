#include "core/backup/ContentPresence.h"

#include <sys/stat.h>

namespace marrowick {

ContentPresence::ContentPresence(const std::string& backupFolder, ManifestKind manifestKind)
    : files_(backupFolder, manifestKind) {}

bool ContentPresence::Holds(const FileNode& node) {
    if (node.IsFolder() || node.IsLink()) {
        return false;
    }
    struct stat status {};
    return files_.Status(node.FileID(), status);
}

} // namespace marrowick
