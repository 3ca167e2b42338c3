#include "core/search/SearchQuery.h"

#include "core/backup/TextConversion.h"
#include "core/search/NamePattern.h"

#include <algorithm>
#include <cstddef>

namespace marrowick {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// needle is in lower case already; the first byte is looked for before the rest is compared.
bool ContainsFolded(std::string_view name, std::string_view needle) {
    if (needle.size() > name.size()) {
        return false;
    }
    const char first = needle.front();
    const std::size_t lastStart = name.size() - needle.size();
    for (std::size_t at = 0; at <= lastStart; ++at) {
        if (AsciiLower(name[at]) != first) {
            continue;
        }
        std::size_t i = 1;
        while (i < needle.size() && AsciiLower(name[at + i]) == needle[i]) {
            ++i;
        }
        if (i == needle.size()) {
            return true;
        }
    }
    return false;
}

} // namespace

SearchQuery::SearchQuery(std::string_view text) : text_(Trimmed(text)) {
    pattern_ = text_.find_first_of("*?[") != std::string::npos;
    if (!pattern_) {
        std::transform(text_.begin(), text_.end(), text_.begin(), AsciiLower);
    }
}

bool SearchQuery::Matches(std::string_view name) const {
    if (text_.empty()) {
        return false;
    }
    return pattern_ ? MatchesNamePattern(text_, name) : ContainsFolded(name, text_);
}

} // namespace marrowick
