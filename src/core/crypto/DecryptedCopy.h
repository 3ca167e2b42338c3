#pragma once

#include "core/crypto/UnlockedBackup.h"
#include "core/platform/Result.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace marrowick {

// CopyWholeFile for a stored file of an encrypted backup: the content written is the file decrypted with the key
// its record holds (wrappedKey), its padding removed, so that its length is the content's, whatever the record's
// size says. A file whose key is missing or damaged fails at step Check; one that does not decrypt (a length that
// is not whole blocks, a wrong padding) at step Write, and leaves no file behind, as any cut-off copy does.
[[nodiscard]] Result<void> CopyDecryptedFile(const UnlockedBackup& backup, std::string_view wrappedKey, int sourceFd,
                                             int targetFolderFd, const std::string& targetName, std::int64_t mtime);

} // namespace marrowick
