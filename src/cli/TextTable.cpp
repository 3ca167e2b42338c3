#include "cli/TextTable.h"

#include <algorithm>
#include <cwchar>
#include <locale.h>
#include <ostream>
#include <string_view>
#include <wchar.h>

namespace marrowick::cli {
namespace {

// wcwidth knows the widths of the Unicode characters only under a UTF-8 LC_CTYPE; this one is used for the call
// alone, so the program's own locale does not matter.
class Utf8Locale final {
public:
    Utf8Locale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {}
    ~Utf8Locale() {
        if (locale_ != nullptr) {
            freelocale(locale_);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
    [[nodiscard]] locale_t Get() const { return locale_; }

private:
    locale_t locale_;
};

// Terminal columns: wide characters take two, combining marks none, anything else (and each invalid byte) one.
std::size_t DisplayWidth(std::string_view text) {
    static const Utf8Locale utf8;
    const locale_t previous = utf8.Get() != nullptr ? uselocale(utf8.Get()) : nullptr;
    std::size_t width = 0;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < text.size();) {
        wchar_t point = 0;
        const std::size_t length = std::mbrtowc(&point, text.data() + at, text.size() - at, &state);
        if (length == 0 || length > text.size() - at) { // a NUL, or bytes that are not UTF-8
            state = {};
            ++width;
            ++at;
            continue;
        }
        const int columns = wcwidth(point);
        width += columns < 0 ? 1 : static_cast<std::size_t>(columns);
        at += length;
    }
    if (previous != nullptr) {
        uselocale(previous);
    }
    return width;
}

} // namespace

std::string Printable(const std::string& text) {
    std::string out = text;
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return out;
}

std::string Quoted(const std::string& text) {
    return "\"" + Printable(text) + "\"";
}

void TextTable::Print(std::ostream& out) const {
    std::vector<std::size_t> widths(header_.size(), 0);
    const auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], DisplayWidth(Printable(row[i])));
        }
    };
    measure(header_);
    std::for_each(rows_.begin(), rows_.end(), measure);
    const auto print = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            const std::string cell = Printable(row[i]);
            line += cell;
            if (i + 1 < row.size()) {
                line.append(widths[i] - DisplayWidth(cell) + 2, ' ');
            }
        }
        out << line << '\n';
    };
    print(header_);
    std::for_each(rows_.begin(), rows_.end(), print);
}

} // namespace marrowick::cli
