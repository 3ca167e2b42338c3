#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/crypto/DecryptAhead.h"
#include "core/crypto/DecryptionPipeline.h"
#include "core/crypto/UnlockedBackup.h"
#include "core/platform/Result.h"

#include <memory>
#include <string>

namespace marrowick {

// Writes the stored files of an export from an encrypted backup decrypted, one after another: small files are read
// and decrypted ahead on a thread of their own, large ones decrypted on the calling thread while a second writes.
class DecryptedCopier final {
public:
    // For an export of selected and everything below it; backupFolder ends with "/".
    DecryptedCopier(std::shared_ptr<const UnlockedBackup> backup, const std::string& backupFolder,
                    ManifestKind manifestKind, const FileNode& selected)
        : backup_(backup), ahead_(std::move(backup), backupFolder, manifestKind, selected) {}

    // CopyWholeFile for node's stored file (DecryptAhead::HasStoredFile; nodes come in the export's order): the
    // content written is the file decrypted with the key its record holds, its padding removed, so that its length
    // is the content's, whatever the record's size says. A stored file that does not open fails at step Open, as
    // StoredFiles::Open says; a file whose key is missing or damaged at step Check; one that does not decrypt (a
    // length that is not whole blocks, a wrong padding) at step Write, and leaves no file behind.
    [[nodiscard]] Result<void> Copy(const FileNode& node, int targetFolderFd, const std::string& targetName);

private:
    std::shared_ptr<const UnlockedBackup> backup_;
    DecryptAhead ahead_;
    DecryptionPipeline pipeline_; // for large files
};

} // namespace marrowick
