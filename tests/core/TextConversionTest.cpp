#include "core/backup/TextConversion.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

TEST(TextConversion, RoundTripsEveryPlane) {
    const std::string text = "abc é ☺ 𝄞 日本";
    const std::u16string wide = Utf8ToWide(text);
    EXPECT_EQ(wide, u"abc é ☺ 𝄞 日本");
    EXPECT_EQ(WideToUtf8(wide), text);
    EXPECT_EQ(Utf8ToAnsi(text), text);
    EXPECT_EQ(AnsiToWide(""), u"");
}

TEST(TextConversion, MalformedInputBecomesQuestionMarks) {
    EXPECT_EQ(Utf8ToAnsi("a\xC0\xAF"
                         "b"),
              "a??b");                                                       // overlong "/"
    EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");                            // encoded surrogate
    EXPECT_EQ(Utf8ToAnsi("x\xE2\x98"), "x??");                               // cut sequence
    EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80"), "????");                       // beyond U+10FFFF
    EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800)) + u"z"), "?z"); // lone surrogate
    EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xDC00))), "?");
}

} // namespace
} // namespace marrowick
