#pragma once

#include "core/backup/FileNode.h"
#include "core/backup/ManifestKind.h"
#include "core/platform/Result.h"

#include <cstddef>
#include <stop_token>
#include <string>

namespace marrowick {

// The largest stored file read whole into memory to be shown: a long video or a disk image is not shown, while
// the largest photos and the databases a person opens (Messages, Photos) fit.
inline constexpr std::size_t MaxPreviewBytes = std::size_t{256} << 20;

// What a read needs of a node, copied, so that a worker does not depend on the tree staying in memory.
struct EntryToRead {
    std::string Path;
    std::string FileID;
    std::string EncryptionKey;
    bool IsFolder = false;
    bool IsLink = false;

    [[nodiscard]] static EntryToRead Of(const FileNode& node);
};

// The whole content of entry's stored file, in memory only, decrypted when the backup is encrypted and was unlocked
// in this run. The stored file is opened only as a regular file (no link, no FIFO). Failures:
//   Open   Folder or DeviceLink: the entry has no content; NoStoredFileId or BadStoredFileId: no stored file can
//          hold it; System ENOENT: the backup does not hold it; Link or NotRegularFile: something else stands there;
//          Encrypted: the backup is encrypted and not unlocked; MissingFileKey, DamagedFileKey as unlocking gives;
//   Read   TooLarge: more than maxBytes stored; System: reading failed (ECANCELED once stop is requested);
//          DamagedStoredFile: the content does not decrypt.
// backupFolder ends with "/". Safe on any thread.
[[nodiscard]] Result<std::string> ReadEntryContent(const EntryToRead& entry, const std::string& backupFolder,
                                                   ManifestKind manifestKind, std::size_t maxBytes = MaxPreviewBytes,
                                                   const std::stop_token& stop = {});

} // namespace marrowick
