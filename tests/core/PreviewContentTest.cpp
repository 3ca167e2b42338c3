#include "core/backup/XmlPlist.h"
#include "core/preview/ContentKind.h"
#include "core/preview/PlistXml.h"
#include "core/preview/PreviewText.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowick {
namespace {

using namespace std::string_literals;
using testing::BinaryPlistWriter;

struct SniffCase {
    const char* Name;
    std::string Head;
    std::string FileName;
    ContentKind Kind;
};

void PrintTo(const SniffCase& row, std::ostream* os) {
    *os << row.Name;
}

class Sniffing : public ::testing::TestWithParam<SniffCase> {};

TEST_P(Sniffing, ContentDecidesAndTheNameOnlyHints) {
    EXPECT_EQ(SniffContentKind(GetParam().Head, GetParam().FileName), GetParam().Kind);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Sniffing,
    ::testing::Values(SniffCase{"Jpeg", "\xFF\xD8\xFF\xE0\x00\x10JFIF"s, "a.bin", ContentKind::Image},
                      SniffCase{"PngNamedText", "\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, "a.txt", ContentKind::Image},
                      SniffCase{"Gif", "GIF89a\x01\x00"s, "", ContentKind::Image},
                      SniffCase{"Heic",
                                "\0\0\0\x18"
                                "ftypheic\0\0\0\0mif1heic"s,
                                "IMG_0001.JPG", ContentKind::Heic},
                      SniffCase{"HeifGenericBrand",
                                "\0\0\0\x18"
                                "ftypmif1\0\0\0\0"s,
                                "", ContentKind::Heic},
                      SniffCase{"Mp4IsNotHeif",
                                "\0\0\0\x18"
                                "ftypisom\0\0\0\0"s,
                                "clip.heic", ContentKind::Other},
                      SniffCase{"BinaryPlist", "bplist00\xD1\x01\x02"s, "x.plist", ContentKind::BinaryPlist},
                      SniffCase{"Sqlite", "SQLite format 3\0\x10\0"s, "sms.db", ContentKind::Sqlite},
                      SniffCase{"XmlPlist", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<plist version=\"1.0\">"s, "",
                                ContentKind::XmlPlist},
                      SniffCase{"XmlThatIsNoPlist", "<?xml version=\"1.0\"?><svg/>"s, "", ContentKind::Text},
                      SniffCase{"PlistNamedTextWithoutDeclaration", "<plist><dict/></plist>"s, "a.PLIST",
                                ContentKind::XmlPlist},
                      SniffCase{"Utf8Text", "Z\xC3\xBCrich\tcaf\xC3\xA9\r\n"s, "", ContentKind::Text},
                      SniffCase{"TextCutInsideACharacter", "abc \xE2\x82"s, "", ContentKind::Text},
                      SniffCase{"InvalidUtf8", "abc \xC0\xAF"s, "", ContentKind::Other},
                      SniffCase{"ControlCharacter", "abc\x01"s, "", ContentKind::Other},
                      SniffCase{"UnknownNamedJpeg", "\0\1\2\3"s, "photo.jpeg", ContentKind::Image},
                      SniffCase{"UnknownNamedHeif", "\0\1\2\3"s, "photo.HEIF", ContentKind::Heic},
                      SniffCase{"Empty", ""s, "notes.txt", ContentKind::Other}),
    [](const ::testing::TestParamInfo<SniffCase>& row) { return std::string(row.param.Name); });

TEST(FileTypeGuess, NamesKnownSignaturesAndNothingElse) {
    EXPECT_EQ(GuessFileType("%PDF-1.7\n"), "PDF document");
    EXPECT_EQ(GuessFileType("\0\0\0\x20"
                            "ftypM4A \0\0\0\0"s),
              "MPEG-4 audio");
    EXPECT_EQ(GuessFileType("\xFF\xD8\xFF\xDB"), "JPEG image");
    EXPECT_EQ(GuessFileType("\0\1\2\3"s), "");
    EXPECT_EQ(GuessFileType("plain words"), "text");
}

struct ShownTextCase {
    const char* Name;
    std::string Bytes;
    std::size_t MaxBytes;
    std::string Shown;
};

void PrintTo(const ShownTextCase& row, std::ostream* os) {
    *os << row.Name;
}

class TextShown : public ::testing::TestWithParam<ShownTextCase> {};

TEST_P(TextShown, IsValidUtf8NeverCutInsideACharacter) {
    EXPECT_EQ(ShownText(GetParam().Bytes, GetParam().MaxBytes), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TextShown,
    ::testing::Values(ShownTextCase{"Whole", "caf\xC3\xA9", 100, "caf\xC3\xA9"},
                      ShownTextCase{"CutBeforeACharacter", "caf\xC3\xA9", 4, "caf"},
                      ShownTextCase{"StrayByteReplaced", "a\x80z", 100, "a\xEF\xBF\xBDz"},
                      ShownTextCase{"OverlongReplacedBytewise", "\xC0\xAF", 100, "\xEF\xBF\xBD\xEF\xBF\xBD"},
                      ShownTextCase{"SurrogateReplaced", "\xED\xA0\x80", 3, "\xEF\xBF\xBD"},
                      ShownTextCase{"FourBytesKept", "\xF0\x9F\x98\x80", 4, "\xF0\x9F\x98\x80"},
                      ShownTextCase{"PastUnicodeReplaced", "\xF4\x90\x80\x80!", 100,
                                    "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!"}),
    [](const ::testing::TestParamInfo<ShownTextCase>& row) { return std::string(row.param.Name); });

TEST(HexDump, ShowsOffsetsBytesAndPrintableCharactersUpToTheBound) {
    const std::string bytes = "SQLite format 3\0\x10\x00\x7F"s + std::string(600, 'A');
    const std::string dump = HexDump(bytes, 512);
    EXPECT_EQ(dump.substr(0, dump.find('\n')),
              "00000000  53 51 4c 69 74 65 20 66  6f 72 6d 61 74 20 33 00  |SQLite format 3.|");
    EXPECT_EQ(dump.substr(dump.find('\n') + 1, 24), "00000010  10 00 7f 41 41");
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 32);
    EXPECT_EQ(HexDump("ab", 512), "00000000  61 62" + std::string(43, ' ') + "  |ab|\n");
}

TEST(BinaryPlistAsXml, ReadsBackWithTheXmlReaderToTheSameValues) {
    BinaryPlistWriter writer;
    const auto top = writer.Dict();
    const auto add = [&writer, top](const std::string& key, BinaryPlistWriter::Object value) {
        writer.Insert(top, writer.String(key), value);
    };
    add("Name", writer.String("Kim & <Sam>"));
    add("Wide", writer.String("Z\xC3\xBCrich"));
    add("Count", writer.Integer(-5));
    add("Big", writer.Integer(1LL << 40));
    add("Ratio", writer.Raw("\x23\x3F\xF8\0\0\0\0\0\0"s));
    add("On", writer.Bool(true));
    add("Off", writer.Bool(false));
    add("Blob", writer.Data("\x00\x01\xFFhello"s));
    add("When", writer.Date(600000000.0));
    add("Ref", writer.Uid(7));
    const auto nested = writer.Array();
    writer.Append(nested, writer.String("inside"));
    add("List", nested);
    add("Empty", writer.Array());
    const Result<std::string> xml = BinaryPlistToXml(writer.Finish(), 1 << 20);
    ASSERT_TRUE(xml);

    EXPECT_TRUE(xml->starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist"));
    EXPECT_TRUE(xml->ends_with("</dict>\n</plist>\n"));
    EXPECT_EQ(XmlPlistElementText(*xml, "Name", "string"), "Kim &amp; &lt;Sam&gt;");
    EXPECT_EQ(XmlPlistElementText(*xml, "Wide", "string"), "Z\xC3\xBCrich");
    EXPECT_EQ(XmlPlistElementText(*xml, "Count", "integer"), "-5");
    EXPECT_EQ(XmlPlistElementText(*xml, "Big", "integer"), "1099511627776");
    EXPECT_EQ(XmlPlistElementText(*xml, "Ratio", "real"), "1.5");
    EXPECT_EQ(XmlPlistBoolValue(*xml, "On"), true);
    EXPECT_EQ(XmlPlistBoolValue(*xml, "Off"), false);
    EXPECT_EQ(XmlPlistDataValue(*xml, "Blob"), "\x00\x01\xFFhello"s);
    // 600,000,000 s after 2001-01-01: 2020-01-06 10:40:00 UTC.
    EXPECT_EQ(XmlPlistElementText(*xml, "When", "date"), "2020-01-06T10:40:00Z");
    EXPECT_NE(xml->find("<dict>\n\t\t<key>CF$UID</key>\n\t\t<integer>7</integer>\n\t</dict>"), std::string::npos);
    EXPECT_NE(xml->find("<array>\n\t\t<string>inside</string>\n\t</array>"), std::string::npos);
    EXPECT_EQ(XmlPlistElementText(*xml, "Sibling", "string"), std::nullopt);
    EXPECT_NE(FindTopLevelValue(*xml, "Empty"), std::string::npos);
}

TEST(BinaryPlistAsXml, HostileListsEndAsCommentsWithinTheBound) {
    BinaryPlistWriter selfHolding;
    const auto loop = selfHolding.Array();
    selfHolding.Append(loop, loop);
    const Result<std::string> deep = BinaryPlistToXml(selfHolding.Finish(), 1 << 20);
    ASSERT_TRUE(deep);
    EXPECT_NE(deep->find("<!-- nested too deep -->"), std::string::npos);
    EXPECT_TRUE(deep->ends_with("</plist>\n"));

    // Each level holds the next 50 times: 50^6 strings, unless the text stops at its bound.
    BinaryPlistWriter fan;
    auto level = fan.Array();
    const auto top = level;
    for (int depth = 0; depth < 6; ++depth) {
        const auto next = fan.Array();
        for (int i = 0; i < 50; ++i) {
            fan.Append(level, next);
        }
        level = next;
    }
    fan.Append(level, fan.String("leaf"));
    ASSERT_EQ(top, 0U);
    const Result<std::string> wide = BinaryPlistToXml(fan.Finish(2), 65536);
    ASSERT_TRUE(wide);
    EXPECT_LT(wide->size(), 66000U);
    EXPECT_TRUE(wide->ends_with("<!-- cut: the list goes on past what is shown -->\n"));

    BinaryPlistWriter broken;
    const auto list = broken.Array();
    broken.Append(list, 99);
    const Result<std::string> dangling = BinaryPlistToXml(broken.Finish(), 1 << 20);
    ASSERT_TRUE(dangling);
    EXPECT_NE(dangling->find("<!-- unreadable object -->"), std::string::npos);

    for (const std::string& notPlist : {"bplist00"s, "<?xml?>"s, "bplist00"s + std::string(40, '\xFF')}) {
        const Result<std::string> refused = BinaryPlistToXml(notPlist, 1 << 20);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.Error().Cause, FailureCause::Library);
    }
}

} // namespace
} // namespace marrowick
