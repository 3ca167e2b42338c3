#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace marrowick {

// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), or 0 when the byte there starts none: a stray
// continuation byte, an overlong form, a surrogate, past U+10FFFF, or cut by the end of text.
[[nodiscard]] std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// The first maxBytes of bytes (fewer, so that no character is cut) as UTF-8 to show: each byte that starts no
// well-formed sequence becomes U+FFFD.
[[nodiscard]] std::string ShownText(std::string_view bytes, std::size_t maxBytes);

// The first maxBytes of bytes as lines of 16: offset, the bytes in hexadecimal, and as ASCII ("." for the others).
[[nodiscard]] std::string HexDump(std::string_view bytes, std::size_t maxBytes);

} // namespace marrowick
