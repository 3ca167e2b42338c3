#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace marrowick::cli {

// Rows printed in columns padded to their widest cell, measured in terminal columns (not bytes or characters).
class TextTable final {
public:
    explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
    void AddRow(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void Print(std::ostream& out) const;

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

// Control characters (a newline in a device name, say) shown as "?" so that one entry stays on one line.
[[nodiscard]] std::string Printable(const std::string& text);
// Printable text in double quotes, as messages name folders and files.
[[nodiscard]] std::string Quoted(const std::string& text);

} // namespace marrowick::cli
