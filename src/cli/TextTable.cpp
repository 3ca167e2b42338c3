#include "cli/TextTable.h"

#include <algorithm>
#include <ostream>

namespace marrowick::cli {
namespace {

std::size_t DisplayWidth(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
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
