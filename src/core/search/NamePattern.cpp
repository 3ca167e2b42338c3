#include "core/search/NamePattern.h"

#include <cstddef>
#include <optional>

namespace marrowick {
namespace {

constexpr std::size_t NoStar = std::string_view::npos;

struct Character {
    char32_t Code = 0;
    std::size_t Length = 1;
};

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0U) == 0x80U;
}

// One UTF-8 sequence from at; a byte that starts none is a character of its own, coded above Unicode's range so
// that it equals no real character.
Character ReadCharacter(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80U) {
        return {lead, 1};
    }
    if (lead >= 0xC2U && lead <= 0xDFU) {
        length = 2;
        code = lead & 0x1FU;
    } else if (lead >= 0xE0U && lead <= 0xEFU) {
        length = 3;
        code = lead & 0x0FU;
    } else if (lead >= 0xF0U && lead <= 0xF4U) {
        length = 4;
        code = lead & 0x07U;
    }
    if (length == 0 || at + length > text.size()) {
        return {0x110000U + lead, 1};
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!IsContinuation(byte)) {
            return {0x110000U + lead, 1};
        }
        code = (code << 6U) | (byte & 0x3FU);
    }
    return {code, length};
}

char32_t Lower(char32_t code) {
    return code >= U'A' && code <= U'Z' ? code + (U'a' - U'A') : code;
}

char32_t Upper(char32_t code) {
    return code >= U'a' && code <= U'z' ? code - (U'a' - U'A') : code;
}

// A character of the pattern, "\" taking the one after it as it stands.
Character ReadPatternCharacter(std::string_view pattern, std::size_t at) {
    if (pattern[at] == '\\' && at + 1 < pattern.size()) {
        Character escaped = ReadCharacter(pattern, at + 1);
        ++escaped.Length;
        return escaped;
    }
    return ReadCharacter(pattern, at);
}

enum class ElementKind { One, Any, Set };

struct Element {
    ElementKind Kind = ElementKind::One;
    std::size_t Length = 1;
    char32_t Code = 0;
    std::string_view Members{}; // a set's, between "[" (and "!" or "^") and "]"
    bool Negated = false;
};

// A set starting at the "[" at open, or nothing when no "]" closes it.
std::optional<Element> ReadSet(std::string_view pattern, std::size_t open) {
    std::size_t at = open + 1;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated) {
        ++at;
    }
    const std::size_t first = at;
    if (at < pattern.size() && pattern[at] == ']') {
        ++at;
    }
    while (at < pattern.size() && pattern[at] != ']') {
        at += ReadPatternCharacter(pattern, at).Length;
    }
    if (at >= pattern.size()) {
        return std::nullopt;
    }
    return Element{.Kind = ElementKind::Set,
                   .Length = at + 1 - open,
                   .Members = pattern.substr(first, at - first),
                   .Negated = negated};
}

Element ReadElement(std::string_view pattern, std::size_t at) {
    if (pattern[at] == '?') {
        return Element{.Kind = ElementKind::Any};
    }
    if (pattern[at] == '[') {
        if (std::optional<Element> set = ReadSet(pattern, at)) {
            return *set;
        }
    }
    const Character character = ReadPatternCharacter(pattern, at);
    return Element{.Kind = ElementKind::One, .Length = character.Length, .Code = character.Code};
}

bool InRange(char32_t code, char32_t low, char32_t high) {
    return (Lower(code) >= low && Lower(code) <= high) || (Upper(code) >= low && Upper(code) <= high);
}

bool InSet(std::string_view members, char32_t code) {
    std::size_t at = 0;
    while (at < members.size()) {
        const Character low = ReadPatternCharacter(members, at);
        at += low.Length;
        if (at + 1 < members.size() && members[at] == '-') {
            const Character high = ReadPatternCharacter(members, at + 1);
            at += 1 + high.Length;
            if (InRange(code, low.Code, high.Code)) {
                return true;
            }
        } else if (Lower(low.Code) == Lower(code)) {
            return true;
        }
    }
    return false;
}

bool ElementMatches(const Element& element, char32_t code) {
    switch (element.Kind) {
    case ElementKind::Any:
        return true;
    case ElementKind::Set:
        return InSet(element.Members, code) != element.Negated;
    case ElementKind::One:
        break;
    }
    return Lower(element.Code) == Lower(code);
}

} // namespace

bool MatchesNamePattern(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    // Only the latest star is ever retried: whatever an earlier star could take instead, the later one can too.
    std::size_t afterStar = NoStar;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            afterStar = ++p;
            starName = n;
            continue;
        }
        if (p < pattern.size()) {
            const Element element = ReadElement(pattern, p);
            const Character character = ReadCharacter(name, n);
            if (ElementMatches(element, character.Code)) {
                p += element.Length;
                n += character.Length;
                continue;
            }
        }
        if (afterStar == NoStar) {
            return false;
        }
        starName += ReadCharacter(name, starName).Length;
        n = starName;
        p = afterStar;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace marrowick
