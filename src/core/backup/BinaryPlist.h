#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marrowick {

// The unsigned value of 8 bytes, most significant first.
[[nodiscard]] inline std::uint64_t ReadBigEndian64(const unsigned char* p) {
    return std::uint64_t{p[0]} << 56 | std::uint64_t{p[1]} << 48 | std::uint64_t{p[2]} << 40 |
           std::uint64_t{p[3]} << 32 | std::uint64_t{p[4]} << 24 | std::uint64_t{p[5]} << 16 |
           std::uint64_t{p[6]} << 8 | p[7];
}

// A reader of the binary property list format ("bplist00") over bytes it does not own. Every read is checked
// against the data: a cut or hostile file gives "nothing", never a read past its end. Objects are read in place,
// so that a caller decoding many small lists allocates nothing.
class BinaryPlist final {
public:
    // Object markers of the format (high nibble, with the low nibble for the fixed-size ones).
    static constexpr unsigned char DateMarker = 0x33;
    // An object number past any list's objects, for which every accessor gives nothing.
    static constexpr std::uint64_t NoObject = ~std::uint64_t{0};

    // An array or dictionary whose references were all found inside the data, so that reading one needs no
    // other check than its index. Only the reader makes them.
    class Collection {
    public:
        Collection() = default;
        // Elements of an array, pairs of a dictionary.
        [[nodiscard]] std::uint64_t Count() const { return count_; }

    private:
        friend class BinaryPlist;
        Collection(std::uint64_t count, std::uint64_t start, std::uint64_t slots)
            : count_(count), start_(start), slots_(slots) {}
        std::uint64_t count_ = 0;
        std::uint64_t start_ = 0;
        // References that lie from start_: count_ for an array, twice that for a dictionary.
        std::uint64_t slots_ = 0;
    };

    explicit BinaryPlist(std::string_view data);

    // True when data starts as a binary property list does; an XML one starts otherwise.
    [[nodiscard]] static bool IsBinary(std::string_view data) { return data.starts_with("bplist00"); }

    // False when the trailer or the offset table does not fit the data.
    [[nodiscard]] bool Valid() const { return valid_; }
    [[nodiscard]] std::uint64_t ObjectCount() const { return objectCount_; }
    [[nodiscard]] std::uint64_t TopObject() const { return topObject_; }

    [[nodiscard]] std::optional<unsigned char> Marker(std::uint64_t object) const;
    // Seconds since 2001-01-01 UTC of a date object.
    [[nodiscard]] std::optional<double> Date(std::uint64_t object) const;
    // An ASCII, UTF-8 or UTF-16 string object, as UTF-8.
    [[nodiscard]] std::optional<std::string> String(std::uint64_t object) const;
    // The same into text, reusing its memory; false, leaving text as it was, when the object is no string.
    [[nodiscard]] bool AssignString(std::uint64_t object, std::string& text) const;
    // The bytes of an ASCII or UTF-8 string object, to compare in place; nothing for a UTF-16 one.
    [[nodiscard]] std::optional<std::string_view> NarrowString(std::uint64_t object) const;
    [[nodiscard]] std::optional<bool> Boolean(std::uint64_t object) const;
    // A real object of 4 or 8 bytes.
    [[nodiscard]] std::optional<double> Real(std::uint64_t object) const;
    // An integer object. The format stores 1, 2 and 4 bytes unsigned and 8 bytes signed; 16-byte ones are refused.
    [[nodiscard]] std::optional<std::int64_t> Integer(std::uint64_t object) const;
    // The value of a UID object, a keyed archive's index into its $objects array.
    [[nodiscard]] std::optional<std::uint64_t> Uid(std::uint64_t object) const;
    // The bytes of a data object, in place.
    [[nodiscard]] std::optional<std::string_view> Data(std::uint64_t object) const;

    [[nodiscard]] std::optional<Collection> Array(std::uint64_t object) const;
    [[nodiscard]] std::optional<Collection> Dictionary(std::uint64_t object) const;
    // The object at index of an array, and a dictionary's key and value at index; NoObject past the end.
    [[nodiscard]] std::uint64_t Element(const Collection& array, std::uint64_t index) const;
    [[nodiscard]] std::uint64_t Key(const Collection& dictionary, std::uint64_t index) const;
    [[nodiscard]] std::uint64_t Value(const Collection& dictionary, std::uint64_t index) const;
    // Calls visit(key, value) for each pair of a dictionary whose key is an ASCII or UTF-8 string: key is its text in
    // place, value the value's object number. Pairs under other keys are passed over.
    template <class Visit>
    void ForEachStringKey(const Collection& dictionary, Visit visit) const;
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
    // The value under the first UTF-16 key equal to key.
    [[nodiscard]] std::optional<std::uint64_t> WideKeyValue(const Collection& dictionary, std::string_view key) const;
    // Where an object starts, or 0 when it is no object of this list.
    [[nodiscard]] std::uint64_t ObjectOffset(std::uint64_t object) const;
    // width (1 to 8) bytes at position, most significant first; position lies before the trailer.
    [[nodiscard]] std::uint64_t ReadAt(std::uint64_t position, unsigned width) const;
    // The reference at position, whose width is the list's.
    [[nodiscard]] std::uint64_t ReadReference(std::uint64_t position) const;
    // width bytes at position, all of them before the offset table.
    [[nodiscard]] std::optional<std::uint64_t> ReadObjectBytes(std::uint64_t position, unsigned width) const;
    // The content of a data, string, array or dictionary object at offset: Count elements from Start, or Start 0
    // when its count cannot be read. Count is not checked against the data.
    struct CountedSpan {
        std::uint64_t Count = 0;
        std::uint64_t Start = 0;
    };
    [[nodiscard]] CountedSpan Content(std::uint64_t offset) const;
    // The same for a count of 15 and more, which follows the marker as an integer object.
    [[nodiscard]] CountedSpan LongContent(std::uint64_t offset) const;
    // True when count items of size bytes each, from start, lie before the offset table.
    [[nodiscard]] bool Fits(const CountedSpan& span, std::uint64_t size) const;
    // A collection of the given kind (high nibble) whose references, referencesPerElement each, all fit.
    [[nodiscard]] std::optional<Collection> CollectionAt(std::uint64_t object, unsigned kind,
                                                         unsigned referencesPerElement) const;
    [[nodiscard]] std::uint64_t Reference(const Collection& collection, std::uint64_t slot) const;

    std::string_view data_;
    const unsigned char* bytes_ = nullptr;
    bool valid_ = false;
    unsigned offsetSize_ = 0;
    unsigned referenceSize_ = 0;
    // What an 8-byte read is shifted by to keep an offset or a reference alone.
    unsigned offsetShift_ = 0;
    unsigned referenceShift_ = 0;
    // Zero unless the list is valid, so that every object lookup fails on an invalid one.
    std::uint64_t objectCount_ = 0;
    std::uint64_t topObject_ = 0;
    // Objects lie between the header and the offset table; a payload running into the table is cut.
    std::uint64_t offsetTable_ = 0;
};

// The accessors a decoder calls many times per list are defined here, so that they inline into it: a Manifest.db
// holds a list for each of up to a million rows.

inline std::uint64_t BinaryPlist::ReadAt(std::uint64_t position, unsigned width) const {
    // Every position read lies before the 32-byte trailer, so 8 bytes from it are inside the data whatever the width.
    return ReadBigEndian64(bytes_ + position) >> (64 - 8 * width);
}

inline std::uint64_t BinaryPlist::ReadReference(std::uint64_t position) const {
    return ReadBigEndian64(bytes_ + position) >> referenceShift_;
}

inline std::optional<std::uint64_t> BinaryPlist::ReadObjectBytes(std::uint64_t position, unsigned width) const {
    if (position > offsetTable_ || offsetTable_ - position < width) {
        return std::nullopt;
    }
    return ReadAt(position, width);
}

inline std::uint64_t BinaryPlist::ObjectOffset(std::uint64_t object) const {
    // The constructor found the whole offset table inside the data.
    if (object >= objectCount_) {
        return 0;
    }
    const std::uint64_t offset = ReadBigEndian64(bytes_ + offsetTable_ + object * offsetSize_) >> offsetShift_;
    // Inside the object area [8, offsetTable_), which the constructor found not empty, in one unsigned compare.
    return offset - 8 < offsetTable_ - 8 ? offset : 0;
}

inline BinaryPlist::CountedSpan BinaryPlist::Content(std::uint64_t offset) const {
    const unsigned count = bytes_[offset] & 0x0Fu;
    if (count != 0x0F) {
        return CountedSpan{count, offset + 1};
    }
    // Most longer counts are one byte (0x10 n): the marker is followed by at least the trailer, so both are there.
    if (bytes_[offset + 1] == 0x10 && offset + 3 <= offsetTable_) {
        return CountedSpan{bytes_[offset + 2], offset + 3};
    }
    return LongContent(offset);
}

inline bool BinaryPlist::Fits(const CountedSpan& span, std::uint64_t size) const {
    // A count past the bytes available fails first; any other is too small for the product to overflow.
    const std::uint64_t available = offsetTable_ - span.Start;
    return span.Start != 0 && span.Count <= available && span.Count * size <= available;
}

inline std::optional<std::int64_t> BinaryPlist::Integer(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0 || (bytes_[offset] & 0xF0) != 0x10 || (bytes_[offset] & 0x0F) > 3) {
        return std::nullopt;
    }
    const unsigned width = 1u << (bytes_[offset] & 0x0F);
    if (offsetTable_ - offset - 1 < width) {
        return std::nullopt;
    }
    // Only the 8-byte form is signed, and it holds every value: the cast gives back its two's complement.
    return static_cast<std::int64_t>(ReadAt(offset + 1, width));
}

inline std::optional<std::uint64_t> BinaryPlist::Uid(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0 || (bytes_[offset] & 0xF0) != 0x80 || (bytes_[offset] & 0x0F) > 7) {
        return std::nullopt;
    }
    const unsigned width = (bytes_[offset] & 0x0Fu) + 1;
    if (offsetTable_ - offset - 1 < width) {
        return std::nullopt;
    }
    return ReadAt(offset + 1, width);
}

// Forced inline, as CollectionAt: GCC would call both out of line from the dictionary loops, and a record would take
// a tenth longer to decode.
[[gnu::always_inline]] inline std::optional<std::string_view> BinaryPlist::NarrowString(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    // Markers 0x5n (ASCII) and 0x7n (UTF-8) alone pass the mask.
    if (offset == 0 || (bytes_[offset] & 0xD0) != 0x50) {
        return std::nullopt;
    }
    const CountedSpan text = Content(offset);
    if (!Fits(text, 1)) {
        return std::nullopt;
    }
    return std::string_view(data_.data() + text.Start, text.Count);
}

[[gnu::always_inline]] inline std::optional<BinaryPlist::Collection>
BinaryPlist::CollectionAt(std::uint64_t object, unsigned kind, unsigned referencesPerElement) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0 || (bytes_[offset] >> 4) != kind) {
        return std::nullopt;
    }
    const CountedSpan references = Content(offset);
    if (!Fits(references, std::uint64_t{referenceSize_} * referencesPerElement)) {
        return std::nullopt;
    }
    return Collection(references.Count, references.Start, references.Count * referencesPerElement);
}

inline std::optional<BinaryPlist::Collection> BinaryPlist::Array(std::uint64_t object) const {
    return CollectionAt(object, 0xA, 1);
}

inline std::optional<BinaryPlist::Collection> BinaryPlist::Dictionary(std::uint64_t object) const {
    return CollectionAt(object, 0xD, 2);
}

inline std::uint64_t BinaryPlist::Reference(const Collection& collection, std::uint64_t slot) const {
    return slot < collection.slots_ ? ReadReference(collection.start_ + slot * referenceSize_) : NoObject;
}

inline std::uint64_t BinaryPlist::Element(const Collection& array, std::uint64_t index) const {
    return Reference(array, index);
}

inline std::uint64_t BinaryPlist::Key(const Collection& dictionary, std::uint64_t index) const {
    return index < dictionary.count_ ? Reference(dictionary, index) : NoObject;
}

inline std::uint64_t BinaryPlist::Value(const Collection& dictionary, std::uint64_t index) const {
    return index < dictionary.count_ ? Reference(dictionary, dictionary.count_ + index) : NoObject;
}

template <class Visit>
void BinaryPlist::ForEachStringKey(const Collection& dictionary, Visit visit) const {
    // Only a dictionary holds a value for each of its keys.
    if (dictionary.slots_ != 2 * dictionary.count_) {
        return;
    }
    const std::uint64_t values = dictionary.start_ + dictionary.count_ * referenceSize_;
    for (std::uint64_t i = 0; i < dictionary.count_; ++i) {
        const auto key = NarrowString(ReadReference(dictionary.start_ + i * referenceSize_));
        if (key) {
            visit(*key, ReadReference(values + i * referenceSize_));
        }
    }
}

inline std::optional<std::uint64_t> BinaryPlist::DictionaryValue(std::uint64_t dictionary, std::string_view key) const {
    const auto pairs = Dictionary(dictionary);
    if (!pairs) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < pairs->Count(); ++i) {
        // Compared in place: many keys may share one large string object.
        if (NarrowString(Key(*pairs, i)) == key) {
            return Value(*pairs, i);
        }
    }
    return WideKeyValue(*pairs, key);
}

} // namespace marrowick
