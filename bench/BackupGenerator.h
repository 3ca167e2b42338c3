#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace marrowick::bench {

// The file a completed synthetic backup holds; named anew whenever the generator changes what it writes.
inline constexpr const char* CompleteMarker = "/.complete-records";

// One manifest entry of a synthetic backup.
struct SyntheticEntry {
    std::string Domain;
    std::string RelativePath;
    bool IsFolder = false;
};

// count entries with the mix of a large real backup: a camera roll folder of min(100000, count / 2) photos,
// application containers with caches of a few hundred to a few thousand files, message attachments nested five
// deep, and a row of its own for most folders. The order is shuffled, as devices do not write rows sorted.
[[nodiscard]] std::vector<SyntheticEntry> MakeSyntheticEntries(std::size_t count, std::uint32_t seed = 2017);

// Writes a Manifest.db backup into folder: the Files table with a real record per row (sizes and times that the
// stored files do not have, one file in 500 a link, one in 1,000 over 4 GiB) and an empty stored file
// <folder>/<ab>/<id> for every file row but the links. Reuses the folder when a previous run completed it. False
// on failure.
bool EnsureManifestDbBackup(const std::string& folder, const std::vector<SyntheticEntry>& entries);

// Writes a Manifest.mbdb backup into folder (no stored files: that reader does not look at them).
bool EnsureManifestMbdbBackup(const std::string& folder, const std::vector<SyntheticEntry>& entries);

} // namespace marrowick::bench
