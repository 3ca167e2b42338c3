#include "core/backup/BinaryPlist.h"

#include "core/backup/TextConversion.h"

#include <bit>

namespace marrowick {
namespace {

constexpr std::uint64_t HeaderSize = 8;
constexpr std::uint64_t TrailerSize = 32;

} // namespace

BinaryPlist::BinaryPlist(std::string_view data)
    : data_(data), bytes_(reinterpret_cast<const unsigned char*>(data.data())) {
    const std::uint64_t size = data_.size();
    if (size < TrailerSize) {
        return;
    }
    const unsigned char* trailer = bytes_ + size - TrailerSize;
    offsetSize_ = trailer[6];
    referenceSize_ = trailer[7];
    const std::uint64_t objectCount = ReadBigEndian64(trailer + 8);
    topObject_ = ReadBigEndian64(trailer + 16);
    offsetTable_ = ReadBigEndian64(trailer + 24);
    if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8 || offsetTable_ <= HeaderSize ||
        offsetTable_ > size - TrailerSize) {
        return;
    }
    // Checked by division, so that a hostile count cannot overflow the product.
    valid_ = objectCount <= (size - TrailerSize - offsetTable_) / offsetSize_;
    offsetShift_ = 64 - 8 * offsetSize_;
    referenceShift_ = 64 - 8 * referenceSize_;
    objectCount_ = valid_ ? objectCount : 0;
}

BinaryPlist::CountedSpan BinaryPlist::LongContent(std::uint64_t offset) const {
    const auto intMarker = ReadObjectBytes(offset + 1, 1);
    if (!intMarker || (*intMarker & 0xF0) != 0x10 || (*intMarker & 0x0F) > 3) {
        return {};
    }
    const unsigned width = 1u << (*intMarker & 0x0F);
    const auto count = ReadObjectBytes(offset + 2, width);
    if (!count) {
        return {};
    }
    return CountedSpan{*count, offset + 2 + width};
}

std::optional<unsigned char> BinaryPlist::Marker(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0) {
        return std::nullopt;
    }
    return bytes_[offset];
}

std::optional<double> BinaryPlist::Date(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0 || bytes_[offset] != DateMarker) {
        return std::nullopt;
    }
    const auto bits = ReadObjectBytes(offset + 1, 8);
    if (!bits) {
        return std::nullopt;
    }
    return std::bit_cast<double>(*bits);
}

std::optional<double> BinaryPlist::Real(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0 || (bytes_[offset] != 0x22 && bytes_[offset] != 0x23)) {
        return std::nullopt;
    }
    const unsigned width = bytes_[offset] == 0x22 ? 4 : 8;
    const auto bits = ReadObjectBytes(offset + 1, width);
    if (!bits) {
        return std::nullopt;
    }
    if (width == 4) {
        return std::bit_cast<float>(static_cast<std::uint32_t>(*bits));
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

std::optional<std::string_view> BinaryPlist::Data(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    if (offset == 0 || (bytes_[offset] >> 4) != 0x4) {
        return std::nullopt;
    }
    const CountedSpan bytes = Content(offset);
    if (!Fits(bytes, 1)) {
        return std::nullopt;
    }
    return std::string_view(data_.data() + bytes.Start, bytes.Count);
}

std::optional<BinaryPlist::StringSpan> BinaryPlist::StringAt(std::uint64_t object) const {
    const std::uint64_t offset = ObjectOffset(object);
    const unsigned kind = offset == 0 ? 0 : bytes_[offset] >> 4;
    if (kind != 0x5 && kind != 0x6 && kind != 0x7) {
        return std::nullopt;
    }
    const bool wide = kind == 0x6;
    const CountedSpan characters = Content(offset);
    if (!Fits(characters, wide ? 2 : 1)) {
        return std::nullopt;
    }
    return StringSpan{characters.Start, characters.Count, wide};
}

bool BinaryPlist::AssignString(std::uint64_t object, std::string& text) const {
    const auto span = StringAt(object);
    if (!span) {
        return false;
    }
    if (span->Wide) {
        AssignUtf16BigEndianAsUtf8(data_.substr(span->Start, 2 * span->Count), text);
    } else {
        text.assign(data_.substr(span->Start, span->Count));
    }
    return true;
}

std::optional<std::string> BinaryPlist::String(std::uint64_t object) const {
    std::string text;
    if (!AssignString(object, text)) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::uint64_t> BinaryPlist::WideKeyValue(const Collection& dictionary, std::string_view key) const {
    std::string decoded;
    for (std::uint64_t i = 0; i < dictionary.Count(); ++i) {
        const auto span = StringAt(Key(dictionary, i));
        // Each UTF-16 unit becomes one to three bytes of UTF-8, so only a string of at most key's length is decoded.
        if (!span || !span->Wide || span->Count > key.size() || key.size() > 3 * span->Count) {
            continue;
        }
        AssignUtf16BigEndianAsUtf8(data_.substr(span->Start, 2 * span->Count), decoded);
        if (decoded == key) {
            return Value(dictionary, i);
        }
    }
    return std::nullopt;
}

} // namespace marrowick
