#include "core/preview/PreviewText.h"

#include <algorithm>
#include <array>

namespace marrowick {
namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD";
constexpr std::size_t BytesPerLine = 16;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) {
        return 1;
    }
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF (RFC 3629).
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    std::size_t length = 0;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        low = first == 0xE0 ? 0xA0 : 0x80;
        high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        low = first == 0xF0 ? 0x90 : 0x80;
        high = first == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(at + i))) {
            return 0;
        }
    }
    return length;
}

std::string ShownText(std::string_view bytes, std::size_t maxBytes) {
    std::string text;
    text.reserve(std::min(bytes.size(), maxBytes));
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, at);
        const std::string_view shown = length == 0 ? Replacement : bytes.substr(at, length);
        if (text.size() + shown.size() > maxBytes) {
            break;
        }
        text += shown;
        at += std::max<std::size_t>(length, 1);
    }
    return text;
}

std::string HexDump(std::string_view bytes, std::size_t maxBytes) {
    static constexpr std::array<char, 16> Digits{'0', '1', '2', '3', '4', '5', '6', '7',
                                                 '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    const std::string_view shown = bytes.substr(0, maxBytes);
    std::string dump;
    for (std::size_t line = 0; line < shown.size(); line += BytesPerLine) {
        const std::string_view row = shown.substr(line, BytesPerLine);
        for (int shift = 28; shift >= 0; shift -= 4) {
            dump += Digits[(line >> shift) & 0xF];
        }
        dump += ' ';
        for (std::size_t i = 0; i < BytesPerLine; ++i) {
            dump += i == BytesPerLine / 2 ? "  " : " ";
            if (i < row.size()) {
                const auto byte = static_cast<unsigned char>(row[i]);
                dump += Digits[byte >> 4];
                dump += Digits[byte & 0xF];
            } else {
                dump += "  ";
            }
        }
        dump += "  |";
        for (const char c : row) {
            dump += c >= 0x20 && c < 0x7F ? c : '.';
        }
        dump += "|\n";
    }
    return dump;
}

} // namespace marrowick
