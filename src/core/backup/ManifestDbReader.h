#pragma once

#include "core/backup/BackupTree.h"
#include "core/platform/Result.h"

#include <array>
#include <cstdint>
#include <string>

struct sqlite3;

namespace marrowick {

// Fills tree from Manifest.db in the tree's backup folder, row by row in the database's order, without writing
// anything into that folder. Fails when the database cannot be opened or the query fails; the rows read until then
// stay in the tree.
[[nodiscard]] Result<void> ReadManifestDb(BackupTree& tree);

// ReadManifestDb from a database already open read-only (one decrypted as it is read) of the given size in bytes,
// which bounds the work SQLite may do.
[[nodiscard]] Result<void> ReadOpenManifestDb(sqlite3* db, std::uint64_t bytes, BackupTree& tree);

// Inserts one row of "SELECT fileID, domain, relativePath, flags, file FROM Files", given as its column texts
// (a null pointer counts as empty), as a row without a readable record. A row without a domain adds nothing.
void ManifestDbRow(BackupTree& tree, const std::array<const char*, 5>& columns);

} // namespace marrowick
