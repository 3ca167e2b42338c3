#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace marrowick {

// What a manifest records of one entry: the device's own size, times, mode and link target. A Manifest.db row
// holds it as an archived MBFile in its "file" column; a Manifest.mbdb record holds the same fields.
struct EntryRecord {
    // File type bits of Mode.
    static constexpr std::uint32_t TypeMask = 0170000;
    static constexpr std::uint32_t RegularType = 0100000;
    static constexpr std::uint32_t FolderType = 0040000;
    static constexpr std::uint32_t LinkType = 0120000;

    std::uint64_t Size = 0;
    std::int64_t LastModified = 0; // seconds since 1970-01-01 UTC
    std::int64_t Birth = 0;
    std::uint32_t Mode = 0; // type and permission bits as in st_mode; 0 when the record holds none
    std::uint32_t ProtectionClass = 0;
    std::string Target{};        // of a link: an absolute device path; empty otherwise
    std::string EncryptionKey{}; // the wrapped per-file key as stored (44 bytes), or empty

    // Empties every field; the strings keep their memory, so that a reader reusing one record does not allocate.
    void Clear();
};

// Decodes a Manifest.db row's "file" blob (an NSKeyedArchiver binary property list whose root is an MBFile) into
// record. False, with record cleared, when the blob is not such an archive; a hostile blob is never read past its
// end and never loops. Absent fields read as 0 or empty, and so do fields of another type or out of their range
// (a negative Size, a key longer than 64 bytes). Allocates only when a text is longer than any before.
[[nodiscard]] bool DecodeEntryRecord(std::string_view blob, EntryRecord& record);

} // namespace marrowick
