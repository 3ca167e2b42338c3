#include "core/backup/Base64.h"

#include <cstdint>

namespace marrowick {

namespace {

constexpr int NotADigit = -1;
constexpr int Space = -2;
constexpr int Pad = -3;

int DigitValue(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    switch (c) {
    case '+':
        return 62;
    case '/':
        return 63;
    case '=':
        return Pad;
    case ' ':
    case '\t':
    case '\r':
    case '\n':
        return Space;
    default:
        return NotADigit;
    }
}

} // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int digits = 0;
    int pads = 0;
    for (const char c : text) {
        const int value = DigitValue(c);
        if (value == Space) {
            continue;
        }
        if (value == NotADigit || (value >= 0 && pads > 0)) {
            return std::nullopt;
        }
        if (value == Pad) {
            ++pads;
            continue;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++digits % 4 == 0) {
            bytes.push_back(static_cast<char>(bits >> 16));
            bytes.push_back(static_cast<char>(bits >> 8));
            bytes.push_back(static_cast<char>(bits));
            bits = 0;
        }
    }
    // One digit carries 6 bits: 2 left over make one byte, 3 two; 1 makes none. Padding only fills the last group.
    const int left = digits % 4;
    if (left == 1 || pads > 2 || (pads > 0 && left + pads != 4)) {
        return std::nullopt;
    }
    if (left >= 2) {
        bits <<= 6 * (4 - left);
        bytes.push_back(static_cast<char>(bits >> 16));
        if (left == 3) {
            bytes.push_back(static_cast<char>(bits >> 8));
        }
    }
    return bytes;
}

} // namespace marrowick
