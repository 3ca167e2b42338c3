#pragma once

#include <string>
#include <string_view>

// The program's strings are bytes in the system code page, which is UTF-8 here; plists and manifests are UTF-8
// and the windows want UTF-16. Invalid UTF-8 and unpaired surrogates become "?".
namespace marrowick {

[[nodiscard]] std::u16string AnsiToWide(std::string_view text);
[[nodiscard]] std::string WideToUtf8(std::u16string_view text);
// Replaces out with the UTF-8 of UTF-16 big-endian bytes (an odd last byte is ignored), reusing out's memory.
void AssignUtf16BigEndianAsUtf8(std::string_view bytes, std::string& out);
[[nodiscard]] std::u16string Utf8ToWide(std::string_view text);
[[nodiscard]] std::string WideToAnsi(std::u16string_view text);
[[nodiscard]] std::string Utf8ToAnsi(std::string_view text);

// c in lower case when it is an ASCII capital; any other byte as it is.
[[nodiscard]] constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace marrowick
