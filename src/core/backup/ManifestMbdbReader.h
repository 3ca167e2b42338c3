#pragma once

#include "core/backup/BackupTree.h"
#include "core/platform/Result.h"

#include <string>
#include <string_view>

namespace marrowick {

// Fills tree from Manifest.mbdb in the tree's backup folder. Fails when the file cannot be opened or read; the
// records read until then stay in the tree.
[[nodiscard]] Result<void> ReadManifestMbdb(BackupTree& tree);

// Inserts the folder and regular-file records of a whole Manifest.mbdb's bytes. The 6 header bytes are not
// checked; a record cut off by the end of the data ends the parse, and nothing is read past the data.
void ReadManifestMbdbData(std::string_view data, BackupTree& tree);

} // namespace marrowick
