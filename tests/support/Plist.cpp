#include "support/Detail.h"
#include "support/SampleBackup.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <ctime>
#include <stdexcept>

namespace marrowick::testing {

namespace detail {

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

XmlPlistWriter::XmlPlistWriter()
    : out_(
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
          "<plist version=\"1.0\">\n<dict>\n") {}

void XmlPlistWriter::Line(const std::string& text) {
    out_.append(static_cast<std::size_t>(depth_), '\t');
    out_ += text;
    out_ += '\n';
}

void XmlPlistWriter::Key(const std::string& key) {
    Line("<key>" + key + "</key>");
}

void XmlPlistWriter::String(const std::string& value) {
    Line("<string>" + value + "</string>");
}

void XmlPlistWriter::Date(double secondsSince2001) {
    constexpr std::time_t kEpoch2001 = 978307200;
    const std::time_t time = kEpoch2001 + static_cast<std::time_t>(std::floor(secondsSince2001));
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    Line(std::string("<date>") + text + "</date>");
}

void XmlPlistWriter::Data(const std::string& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j) {
            group = (group << 8) | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0U);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            encoded.push_back(j <= count ? kAlphabet[(group >> (18 - 6 * j)) & 0x3F] : '=');
        }
    }
    Line("<data>");
    Line(encoded);
    Line("</data>");
}

void XmlPlistWriter::Bool(bool value) {
    Line(value ? "<true/>" : "<false/>");
}

void XmlPlistWriter::BeginDict() {
    Line("<dict>");
    ++depth_;
}

void XmlPlistWriter::EndDict() {
    --depth_;
    Line("</dict>");
}

std::string XmlPlistWriter::Finish() {
    while (depth_ > 1) {
        EndDict();
    }
    return out_ + "</dict>\n</plist>\n";
}

} // namespace detail

namespace {

using detail::AppendBigEndian;

int WidthFor(std::uint64_t value) {
    if (value <= 0xFF) {
        return 1;
    }
    if (value <= 0xFFFF) {
        return 2;
    }
    return value <= 0xFFFFFFFFULL ? 4 : 8;
}

// 1-, 2- and 4-byte integers are unsigned in the format; only the 8-byte form carries a sign.
void AppendInteger(std::string& out, std::int64_t value) {
    const int width = value < 0 ? 8 : WidthFor(static_cast<std::uint64_t>(value));
    out.push_back(static_cast<char>(0x10 | std::countr_zero(static_cast<unsigned>(width))));
    AppendBigEndian(out, static_cast<std::uint64_t>(value), width);
}

void AppendMarker(std::string& out, unsigned kind, std::size_t count) {
    if (count < 15) {
        out.push_back(static_cast<char>(kind | count));
        return;
    }
    out.push_back(static_cast<char>(kind | 0x0F));
    AppendInteger(out, static_cast<std::int64_t>(count));
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

void AppendString(std::string& out, const std::string& text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        AppendMarker(out, 0x50, text.size());
        out += text;
        return;
    }
    const std::u16string units = Utf8ToUtf16(text);
    AppendMarker(out, 0x60, units.size());
    for (char16_t unit : units) {
        AppendBigEndian(out, unit, 2);
    }
}

} // namespace

std::string MakeXmlPlist(const std::vector<std::pair<std::string, std::string>>& stringKeys) {
    detail::XmlPlistWriter writer;
    for (const auto& [key, value] : stringKeys) {
        writer.Key(key);
        writer.String(value);
    }
    return writer.Finish();
}

BinaryPlistWriter::Object BinaryPlistWriter::Add(std::string bytes, unsigned kind) {
    objects_.push_back({std::move(bytes), {}, kind});
    return objects_.size() - 1;
}

BinaryPlistWriter::Object BinaryPlistWriter::String(const std::string& text) {
    std::string bytes;
    AppendString(bytes, text);
    return Add(std::move(bytes));
}

BinaryPlistWriter::Object BinaryPlistWriter::Integer(std::int64_t value) {
    std::string bytes;
    AppendInteger(bytes, value);
    return Add(std::move(bytes));
}

BinaryPlistWriter::Object BinaryPlistWriter::Date(double secondsSince2001) {
    std::string bytes(1, '\x33');
    AppendBigEndian(bytes, std::bit_cast<std::uint64_t>(secondsSince2001), 8);
    return Add(std::move(bytes));
}

BinaryPlistWriter::Object BinaryPlistWriter::Bool(bool value) {
    return Add(value ? "\x09" : "\x08");
}

BinaryPlistWriter::Object BinaryPlistWriter::Value(const PlistValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return String(*text);
    }
    if (const auto* date = std::get_if<PlistDate>(&value)) {
        return Date(date->Seconds);
    }
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return Integer(*number);
    }
    if (const auto* data = std::get_if<PlistData>(&value)) {
        return Data(data->Bytes);
    }
    return Bool(std::get<bool>(value));
}

BinaryPlistWriter::Object BinaryPlistWriter::Data(const std::string& bytes) {
    std::string encoded;
    AppendMarker(encoded, 0x40, bytes.size());
    return Add(encoded + bytes);
}

BinaryPlistWriter::Object BinaryPlistWriter::Uid(std::uint64_t value) {
    const int width = WidthFor(value);
    std::string bytes(1, static_cast<char>(0x80 | (width - 1)));
    AppendBigEndian(bytes, value, width);
    return Add(std::move(bytes));
}

BinaryPlistWriter::Object BinaryPlistWriter::Array(std::vector<Object> elements) {
    const Object array = Add({}, 0xA0);
    objects_[array].References = std::move(elements);
    return array;
}

BinaryPlistWriter::Object BinaryPlistWriter::Dict() {
    return Add({}, 0xD0);
}

BinaryPlistWriter::Object BinaryPlistWriter::Raw(std::string bytes) {
    return Add(std::move(bytes));
}

void BinaryPlistWriter::Append(Object array, Object element) {
    objects_.at(array).References.push_back(element);
}

void BinaryPlistWriter::Insert(Object dict, Object key, Object value) {
    std::vector<Object>& references = objects_.at(dict).References;
    references.push_back(key);
    references.push_back(value);
}

void BinaryPlistWriter::AppendObject(std::string& out, const Encoded& object, int refSize) const {
    if (object.Kind == 0) {
        out += object.Bytes;
        return;
    }
    const std::vector<Object>& references = object.References;
    if (object.Kind == 0xA0) {
        AppendMarker(out, 0xA0, references.size());
        for (Object element : references) {
            AppendBigEndian(out, element, refSize);
        }
        return;
    }
    // A dictionary's pairs are kept together; the format wants every key, then every value.
    AppendMarker(out, 0xD0, references.size() / 2);
    for (int half = 0; half < 2; ++half) {
        for (std::size_t i = static_cast<std::size_t>(half); i < references.size(); i += 2) {
            AppendBigEndian(out, references[i], refSize);
        }
    }
}

std::string BinaryPlistWriter::Finish(int offsetSize) const {
    if (offsetSize != 1 && offsetSize != 2 && offsetSize != 4 && offsetSize != 8) {
        throw std::invalid_argument("BinaryPlistWriter: offset size must be 1, 2, 4 or 8");
    }
    const std::size_t objectCount = objects_.size();
    const int refSize = WidthFor(objectCount);
    // Unreferenced bytes after the top object push every other offset past what a narrower entry can hold,
    // so a reader that ignores the declared width reads garbage.
    const std::size_t padTo = offsetSize == 2 ? 0x100 : offsetSize == 4 ? 0x10000 : 0;
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objectCount);
    for (std::size_t i = 0; i < objectCount; ++i) {
        if (i == 1 && out.size() < padTo) {
            out.append(padTo - out.size(), '\0');
        }
        offsets.push_back(out.size());
        AppendObject(out, objects_[i], refSize);
    }

    const int width = std::max(offsetSize, WidthFor(offsets.empty() ? 0 : offsets.back()));
    const std::uint64_t tableOffset = out.size();
    for (std::uint64_t offset : offsets) {
        AppendBigEndian(out, offset, width);
    }
    out.append(6, '\0');
    out.push_back(static_cast<char>(width));
    out.push_back(static_cast<char>(refSize));
    AppendBigEndian(out, objectCount, 8);
    AppendBigEndian(out, 0, 8);
    AppendBigEndian(out, tableOffset, 8);
    return out;
}

std::string MakeBinaryPlist(const PlistDict& dict, int offsetSize) {
    // The dict, then the keys, then the values, as Apple lays them out.
    BinaryPlistWriter writer;
    const auto top = writer.Dict();
    std::vector<BinaryPlistWriter::Object> keys;
    for (const auto& [key, value] : dict) {
        keys.push_back(writer.String(key));
    }
    for (std::size_t i = 0; i < dict.size(); ++i) {
        writer.Insert(top, keys[i], writer.Value(dict[i].second));
    }
    return writer.Finish(offsetSize);
}

std::string MakeStatusPlist(double dateSeconds, int offsetSize) {
    std::string uuid = Sha1Hex("status-" + std::to_string(dateSeconds)).substr(0, 32);
    std::transform(uuid.begin(), uuid.end(), uuid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const PlistDict dict = {
        {"BackupState", std::string("new")},
        {"Date", PlistDate{dateSeconds}},
        {"IsFullBackup", false},
        {"SnapshotState", std::string("finished")},
        {"UUID", uuid},
        {"Version", std::string("3.3")},
    };
    return MakeBinaryPlist(dict, offsetSize);
}

} // namespace marrowick::testing
