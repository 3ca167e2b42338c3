#pragma once

#include <string>
#include <string_view>

namespace marrowick {

// What a person typed into a search box, ready to test names against. Leading and trailing white space is dropped
// (a stray space after a name should not hide it), inner white space is kept; text of white space alone finds
// nothing. Text holding "*", "?" or "[" is a shell pattern that must match the whole name; any other text is found
// anywhere in a name. Both ignore the case of ASCII letters; other letters match by their exact bytes.
class SearchQuery final {
public:
    explicit SearchQuery(std::string_view text);

    // True when the query finds nothing at all.
    [[nodiscard]] bool Empty() const { return text_.empty(); }
    [[nodiscard]] bool IsPattern() const { return pattern_; }
    // The text as matched: trimmed, and with ASCII letters in lower case unless it is a pattern.
    [[nodiscard]] const std::string& Text() const { return text_; }
    [[nodiscard]] bool Matches(std::string_view name) const;

private:
    // ASCII letters in lower case for a substring, as typed for a pattern.
    std::string text_;
    bool pattern_ = false;
};

} // namespace marrowick
