#include "core/backup/BinaryPlist.h"

#include "core/backup/TextConversion.h"

#include <bit>
#include <cstring>

namespace marrowick {
namespace {

constexpr std::uint64_t TrailerSize = 32;

} // namespace

std::uint64_t ReadBigEndian64(const unsigned char* p) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

BinaryPlist::BinaryPlist(std::string_view data) : data_(data) {
    const std::uint64_t size = data_.size();
    if (size < TrailerSize) {
        return;
    }
    const auto* trailer = reinterpret_cast<const unsigned char*>(data_.data()) + size - TrailerSize;
    offsetSize_ = trailer[6];
    referenceSize_ = trailer[7];
    objectCount_ = ReadBigEndian64(trailer + 8);
    topObject_ = ReadBigEndian64(trailer + 16);
    offsetTable_ = ReadBigEndian64(trailer + 24);
    if (offsetSize_ < 1 || offsetSize_ > 8 || offsetTable_ > size - TrailerSize) {
        return;
    }
    // Checked by division, so that a hostile count cannot overflow the product.
    valid_ = objectCount_ <= (size - TrailerSize - offsetTable_) / offsetSize_;
}

std::optional<std::uint64_t> BinaryPlist::ReadUnsigned(std::uint64_t position, unsigned width) const {
    if (width < 1 || width > 8 || position > data_.size() || data_.size() - position < width) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(data_[position + i]);
    }
    return value;
}

std::optional<std::uint64_t> BinaryPlist::ObjectOffset(std::uint64_t object) const {
    if (!valid_ || object >= objectCount_) {
        return std::nullopt;
    }
    const auto offset = ReadUnsigned(offsetTable_ + object * offsetSize_, offsetSize_);
    if (!offset || *offset >= data_.size()) {
        return std::nullopt;
    }
    return offset;
}

std::optional<unsigned char> BinaryPlist::Marker(std::uint64_t object) const {
    const auto offset = ObjectOffset(object);
    if (!offset) {
        return std::nullopt;
    }
    return static_cast<unsigned char>(data_[*offset]);
}

std::optional<double> BinaryPlist::Date(std::uint64_t object) const {
    const auto offset = ObjectOffset(object);
    if (!offset || static_cast<unsigned char>(data_[*offset]) != DateMarker) {
        return std::nullopt;
    }
    // Objects lie before the offset table; a date running into it is cut.
    const auto bits = ReadUnsigned(*offset + 1, 8);
    if (!bits || *offset + 9 > offsetTable_) {
        return std::nullopt;
    }
    return std::bit_cast<double>(*bits);
}

std::optional<bool> BinaryPlist::Boolean(std::uint64_t object) const {
    const auto marker = Marker(object);
    if (marker == 0x08 || marker == 0x09) {
        return *marker == 0x09;
    }
    return std::nullopt;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> BinaryPlist::CountAndStart(std::uint64_t offset) const {
    const auto marker = static_cast<unsigned char>(data_[offset]);
    if ((marker & 0x0F) != 0x0F) {
        return std::pair{std::uint64_t{marker & 0x0Fu}, offset + 1};
    }
    // A longer count follows as an integer object: 0x1n with 2^n bytes.
    const auto intMarker = ReadUnsigned(offset + 1, 1);
    if (!intMarker || (*intMarker & 0xF0) != 0x10 || (*intMarker & 0x0F) > 3) {
        return std::nullopt;
    }
    const unsigned width = 1u << (*intMarker & 0x0F);
    const auto count = ReadUnsigned(offset + 2, width);
    if (!count) {
        return std::nullopt;
    }
    return std::pair{*count, offset + 2 + width};
}

std::optional<BinaryPlist::StringSpan> BinaryPlist::StringAt(std::uint64_t object) const {
    const auto offset = ObjectOffset(object);
    if (!offset) {
        return std::nullopt;
    }
    const unsigned kind = static_cast<unsigned char>(data_[*offset]) >> 4;
    if (kind != 0x5 && kind != 0x6 && kind != 0x7) {
        return std::nullopt;
    }
    const auto countAndStart = CountAndStart(*offset);
    if (!countAndStart) {
        return std::nullopt;
    }
    const auto [count, start] = *countAndStart;
    const bool wide = kind == 0x6;
    const std::uint64_t available = data_.size() - std::min<std::uint64_t>(start, data_.size());
    if (count > (wide ? available / 2 : available)) {
        return std::nullopt;
    }
    return StringSpan{start, count, wide};
}

std::string BinaryPlist::Decode(const StringSpan& span) const {
    if (!span.Wide) {
        return std::string(data_.substr(span.Start, span.Count));
    }
    std::u16string wide(span.Count, u'\0');
    for (std::uint64_t i = 0; i < span.Count; ++i) {
        wide[i] = static_cast<char16_t>(*ReadUnsigned(span.Start + 2 * i, 2));
    }
    return WideToUtf8(wide);
}

std::optional<std::string> BinaryPlist::String(std::uint64_t object) const {
    const auto span = StringAt(object);
    if (!span) {
        return std::nullopt;
    }
    return Decode(*span);
}

bool BinaryPlist::StringEquals(std::uint64_t object, std::string_view text) const {
    const auto span = StringAt(object);
    if (!span) {
        return false;
    }
    if (!span->Wide) {
        return span->Count == text.size() && data_.substr(span->Start, span->Count) == text;
    }
    // Each UTF-16 unit becomes one to three bytes of UTF-8, so only a string of at most text's length is decoded.
    return span->Count <= text.size() && text.size() <= 3 * span->Count && Decode(*span) == text;
}

std::optional<std::uint64_t> BinaryPlist::DictionaryValue(std::uint64_t dictionary, std::string_view key) const {
    const auto offset = ObjectOffset(dictionary);
    if (!offset || (static_cast<unsigned char>(data_[*offset]) >> 4) != 0xD) {
        return std::nullopt;
    }
    const auto countAndStart = CountAndStart(*offset);
    if (!countAndStart || referenceSize_ < 1 || referenceSize_ > 8) {
        return std::nullopt;
    }
    const auto [count, start] = *countAndStart;
    if (count > data_.size() / referenceSize_) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto keyObject = ReadUnsigned(start + i * referenceSize_, referenceSize_);
        if (!keyObject) {
            return std::nullopt;
        }
        // Compared in place: many keys may share one large string object.
        if (StringEquals(*keyObject, key)) {
            return ReadUnsigned(start + (count + i) * referenceSize_, referenceSize_);
        }
    }
    return std::nullopt;
}

} // namespace marrowick
