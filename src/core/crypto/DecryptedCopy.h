#pragma once

#include "core/crypto/DecryptionPipeline.h"
#include "core/crypto/UnlockedBackup.h"
#include "core/platform/Result.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace marrowick {

// Writes the stored files of an encrypted backup decrypted, one after another, through buffers it keeps from file
// to file: most stored files are small, and fresh buffers for each would cost more than decrypting it.
class DecryptedCopier final {
public:
    explicit DecryptedCopier(std::shared_ptr<const UnlockedBackup> backup) : backup_(std::move(backup)) {}

    // CopyWholeFile for a stored file of the backup: the content written is the file decrypted with the key its
    // record holds (wrappedKey), its padding removed, so that its length is the content's, whatever the record's
    // size says. A file whose key is missing or damaged fails at step Check; one that does not decrypt (a length that
    // is not whole blocks, a wrong padding) at step Write, and leaves no file behind, as any cut-off copy does.
    [[nodiscard]] Result<void> Copy(std::string_view wrappedKey, int sourceFd, int targetFolderFd,
                                    const std::string& targetName, std::int64_t mtime);

private:
    [[nodiscard]] Result<void> WriteDecrypted(FileDecryptor& decryptor, int in, int out);

    std::shared_ptr<const UnlockedBackup> backup_;
    std::unique_ptr<char[]> cipher_;
    std::unique_ptr<unsigned char[]> plain_;
    DecryptionPipeline pipeline_; // for large files
};

} // namespace marrowick
