#pragma once

namespace marrowick {

// Which index a backup keeps of its files.
inline constexpr int ManifestKindDb = 2017;   // Manifest.db, an SQLite database
inline constexpr int ManifestKindMbdb = 2016; // Manifest.mbdb, binary records

} // namespace marrowick
