#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marrowick {

// The unsigned value of 8 bytes, most significant first.
[[nodiscard]] std::uint64_t ReadBigEndian64(const unsigned char* p);

// A reader of the binary property list format ("bplist00") over bytes it does not own. Every read is checked
// against the data: a cut or hostile file gives "nothing", never a read past its end.
class BinaryPlist final {
public:
    // Object markers of the format (high nibble, with the low nibble for the fixed-size ones).
    static constexpr unsigned char DateMarker = 0x33;

    explicit BinaryPlist(std::string_view data);

    // True when data starts as a binary property list does; an XML one starts otherwise.
    [[nodiscard]] static bool IsBinary(std::string_view data) { return data.starts_with("bplist00"); }

    // False when the trailer or the offset table does not fit the data.
    [[nodiscard]] bool Valid() const { return valid_; }
    [[nodiscard]] std::uint64_t ObjectCount() const { return valid_ ? objectCount_ : 0; }
    [[nodiscard]] std::uint64_t TopObject() const { return topObject_; }

    [[nodiscard]] std::optional<unsigned char> Marker(std::uint64_t object) const;
    // Seconds since 2001-01-01 UTC of a date object.
    [[nodiscard]] std::optional<double> Date(std::uint64_t object) const;
    // An ASCII, UTF-8 or UTF-16 string object, as UTF-8.
    [[nodiscard]] std::optional<std::string> String(std::uint64_t object) const;
    [[nodiscard]] std::optional<bool> Boolean(std::uint64_t object) const;
    // The object that a dictionary holds under a string key.
    [[nodiscard]] std::optional<std::uint64_t> DictionaryValue(std::uint64_t dictionary, std::string_view key) const;

private:
    // Where a string object's characters are: Count bytes, or Count UTF-16 units when Wide.
    struct StringSpan {
        std::uint64_t Start = 0;
        std::uint64_t Count = 0;
        bool Wide = false;
    };
    [[nodiscard]] std::optional<StringSpan> StringAt(std::uint64_t object) const;
    [[nodiscard]] std::string Decode(const StringSpan& span) const;
    // True when the object is a string equal to text, found without copying a longer string.
    [[nodiscard]] bool StringEquals(std::uint64_t object, std::string_view text) const;
    [[nodiscard]] std::optional<std::uint64_t> ObjectOffset(std::uint64_t object) const;
    [[nodiscard]] std::optional<std::uint64_t> ReadUnsigned(std::uint64_t position, unsigned width) const;
    // The element count of a string, array or dictionary object and where its content begins.
    [[nodiscard]] std::optional<std::pair<std::uint64_t, std::uint64_t>> CountAndStart(std::uint64_t offset) const;

    std::string_view data_;
    bool valid_ = false;
    unsigned offsetSize_ = 0;
    unsigned referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t topObject_ = 0;
    std::uint64_t offsetTable_ = 0;
};

} // namespace marrowick
