#pragma once

#include <string_view>

namespace marrowick {

// True when the whole of name matches the shell pattern, ASCII letters in either case: "*" any run of characters,
// "?" one character, "[...]" one character of a set ("[!...]" or "[^...]" not of it, "a-z" a range), "\" makes the
// next character plain. A character is a UTF-8 sequence, or a lone byte where the bytes are no UTF-8. A "[" without
// its "]" stands for itself. Time is at most proportional to the pattern's length times the name's, whatever the
// stars, unlike fnmatch(3), whose stars backtrack into one another.
[[nodiscard]] bool MatchesNamePattern(std::string_view pattern, std::string_view name);

} // namespace marrowick
