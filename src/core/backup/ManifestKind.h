#pragma once

namespace marrowick {

// Which index a backup keeps of its files. The values are the ones the backup list has always given them.
enum class ManifestKind {
    Mbdb = 2016, // Manifest.mbdb, binary records
    Db = 2017,   // Manifest.db, an SQLite database
};

inline constexpr ManifestKind ManifestKindDb = ManifestKind::Db;
inline constexpr ManifestKind ManifestKindMbdb = ManifestKind::Mbdb;

} // namespace marrowick
