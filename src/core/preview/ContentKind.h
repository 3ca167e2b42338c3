#pragma once

#include <cstddef>
#include <string_view>

namespace marrowick {

// How a file's content can be shown.
enum class ContentKind {
    Image,       // JPEG, PNG or GIF
    Heic,        // HEIF/HEIC, as cameras of phones write photos
    BinaryPlist, // "bplist00"
    XmlPlist,
    Sqlite,
    Text, // UTF-8 (or ASCII) without control characters other than white space
    Other,
};

// The bytes SniffContentKind and GuessFileType look at; fewer are fine.
inline constexpr std::size_t SniffBytes = 4096;

// The kind of content whose first bytes are head. The content decides; name (the file's name on the device) is
// only a hint, taken when the content is not recognised, or to tell an XML plist without its "<?xml" line.
[[nodiscard]] ContentKind SniffContentKind(std::string_view head, std::string_view name);

// A few words for a person naming what the content whose first bytes are head is ("PDF document", "ZIP archive"),
// "" when its bytes tell nothing known.
[[nodiscard]] std::string_view GuessFileType(std::string_view head);

} // namespace marrowick
