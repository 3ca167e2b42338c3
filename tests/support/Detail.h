#pragma once

#include <cstdint>
#include <string>

// Pieces shared by the sample writers; not for tests.
namespace marrowick::testing::detail {

inline void AppendBigEndian(std::string& out, std::uint64_t value, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

std::string XmlEscape(const std::string& text);

// Lays out an XML property list as Apple's serializer does: one element a line, tab indents.
class XmlPlistWriter {
public:
    XmlPlistWriter();
    void Key(const std::string& key);
    void String(const std::string& value);
    void Date(double secondsSince2001);
    void Data(const std::string& bytes);
    void Bool(bool value);
    void BeginDict();
    void EndDict();
    [[nodiscard]] std::string Finish();

private:
    void Line(const std::string& text);

    std::string out_;
    int depth_ = 1;
};

} // namespace marrowick::testing::detail
