#include "core/preview/PlistXml.h"

#include "core/backup/BinaryPlist.h"
#include "core/preview/PreviewText.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace marrowick {
namespace {

constexpr unsigned MaxDepth = 64;
// Seconds from 1970-01-01 to 2001-01-01, the epoch of plist dates.
constexpr double PlistEpoch = 978307200;

std::string Base64(std::string_view bytes) {
    static constexpr std::string_view Digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            group = group << 8 | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0U);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            text += i <= count ? Digits[(group >> (18 - 6 * i)) & 0x3F] : '=';
        }
    }
    return text;
}

// "2020-01-06T12:00:00Z"; nothing for a time no calendar date of four digits holds.
std::optional<std::string> IsoDate(double secondsSince2001) {
    const double unixSeconds = std::floor(secondsSince2001 + PlistEpoch);
    if (!(unixSeconds >= -62135596800.0 && unixSeconds < 253402300800.0)) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const sys_seconds time{seconds(static_cast<std::int64_t>(unixSeconds))};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return std::string(text.data());
}

class XmlWriter final {
public:
    XmlWriter(const BinaryPlist& plist, std::size_t maxBytes) : plist_(plist), maxBytes_(maxBytes) {}

    std::string Write() {
        out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n";
        Object(plist_.TopObject(), 0);
        if (Full()) {
            out_ += "\n<!-- cut: the list goes on past what is shown -->\n";
        } else {
            out_ += "</plist>\n";
        }
        return std::move(out_);
    }

private:
    [[nodiscard]] bool Full() const { return out_.size() > maxBytes_; }
    // What is left to write before the text is full; a long payload is cut to it, never written whole.
    [[nodiscard]] std::size_t Budget() const { return Full() ? 0 : maxBytes_ - out_.size() + 1; }

    void Line(std::string_view text, unsigned depth) {
        out_.append(depth, '\t');
        out_ += text;
        out_ += '\n';
    }

    void Element(std::string_view name, std::string_view text, unsigned depth) {
        out_.append(depth, '\t');
        out_ += '<';
        out_ += name;
        out_ += '>';
        AppendEscaped(text);
        out_ += "</";
        out_ += name;
        out_ += ">\n";
    }

    void AppendEscaped(std::string_view text) {
        for (const char c : ShownText(text, text.size() * 3)) {
            switch (c) {
            case '&':
                out_ += "&amp;";
                break;
            case '<':
                out_ += "&lt;";
                break;
            case '>':
                out_ += "&gt;";
                break;
            default:
                out_ += c;
            }
        }
    }

    void Object(std::uint64_t object, unsigned depth) {
        if (Full()) {
            return;
        }
        if (!Scalar(object, depth) && !Collection(object, depth)) {
            Line("<!-- unreadable object -->", depth);
        }
    }

    bool Scalar(std::uint64_t object, unsigned depth) {
        if (const auto value = plist_.Boolean(object)) {
            Line(*value ? "<true/>" : "<false/>", depth);
        } else if (const auto integer = plist_.Integer(object)) {
            Element("integer", std::to_string(*integer), depth);
        } else if (const auto real = plist_.Real(object)) {
            std::array<char, 32> text{};
            const auto written = std::to_chars(text.data(), text.data() + text.size(), *real);
            Element("real", std::string_view(text.data(), written.ptr - text.data()), depth);
        } else if (const auto date = plist_.Date(object)) {
            const std::optional<std::string> iso = IsoDate(*date);
            Line(iso ? "<date>" + *iso + "</date>" : "<!-- date out of range -->", depth);
        } else if (const auto data = plist_.Data(object)) {
            Element("data", Base64(data->substr(0, Budget())), depth);
        } else if (const auto text = plist_.String(object)) {
            Element("string", std::string_view(*text).substr(0, Budget()), depth);
        } else if (const auto uid = plist_.Uid(object)) {
            Line("<dict>", depth);
            Element("key", "CF$UID", depth + 1);
            Element("integer", std::to_string(*uid), depth + 1);
            Line("</dict>", depth);
        } else {
            return false;
        }
        return true;
    }

    bool Collection(std::uint64_t object, unsigned depth) {
        const auto array = plist_.Array(object);
        const auto dictionary = array ? std::nullopt : plist_.Dictionary(object);
        if (!array && !dictionary) {
            return false;
        }
        const std::string_view name = array ? "array" : "dict";
        if ((array ? array->Count() : dictionary->Count()) == 0) {
            Line(array ? "<array/>" : "<dict/>", depth);
            return true;
        }
        if (depth >= MaxDepth) {
            Line("<!-- nested too deep -->", depth);
            return true;
        }
        Line("<" + std::string(name) + ">", depth);
        if (array) {
            for (std::uint64_t i = 0; i < array->Count() && !Full(); ++i) {
                Object(plist_.Element(*array, i), depth + 1);
            }
        } else {
            for (std::uint64_t i = 0; i < dictionary->Count() && !Full(); ++i) {
                Element("key", plist_.String(plist_.Key(*dictionary, i)).value_or("?"), depth + 1);
                Object(plist_.Value(*dictionary, i), depth + 1);
            }
        }
        Line("</" + std::string(name) + ">", depth);
        return true;
    }

    const BinaryPlist& plist_;
    std::size_t maxBytes_;
    std::string out_;
};

} // namespace

Result<std::string> BinaryPlistToXml(std::string_view data, std::size_t maxBytes) {
    const BinaryPlist plist(data);
    if (!BinaryPlist::IsBinary(data) || !plist.Valid()) {
        Failure failure = Failure::Because(FailureStep::Read, {}, FailureCause::Library);
        failure.Detail = "not a binary property list";
        return failure;
    }
    try {
        return XmlWriter(plist, maxBytes).Write();
    } catch (const std::bad_alloc&) {
        return Failure::Because(FailureStep::Read, {}, FailureCause::OutOfMemory);
    }
}

} // namespace marrowick
