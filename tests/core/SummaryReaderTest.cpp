#include "core/backup/SummaryReader.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick {
namespace {

using testing::MakeBinaryPlist;
using testing::MakeStatusPlist;
using testing::MakeXmlPlist;
using testing::SampleBackup;
using testing::SampleManifest;
using testing::TempHome;
using testing::WriteFile;

class SummaryReader : public ::testing::Test {
protected:
    TempHome home{"UTC"};
    std::filesystem::path folder = home.Home() / "backup";

    bool Read(const SampleBackup& backup, BackupRecord& record) {
        testing::WriteSampleBackup(folder, backup);
        return ReadBackupSummary(record, folder.string());
    }
};

TEST_F(SummaryReader, ReadsTheFiveColumnsAndTheManifestKind) {
    SampleBackup backup;
    backup.DisplayName = "Anna’s iPhone";
    BackupRecord record;
    ASSERT_TRUE(Read(backup, record));
    EXPECT_EQ(record.Name, "Anna’s iPhone");
    EXPECT_EQ(record.Time, "2020-01-06 10:40:00");
    EXPECT_EQ(record.Version, "14.2");
    EXPECT_EQ(record.DeviceType, "iPhone 12");
    EXPECT_EQ(record.SerialNumber, "C39XK0ABCDEF");
    EXPECT_EQ(record.ManifestKind, ManifestKindDb);
}

TEST_F(SummaryReader, ManifestDbDecidesOverManifestMbdb) {
    SampleBackup backup;
    BackupRecord record;
    backup.Manifest = SampleManifest::Mbdb;
    ASSERT_TRUE(Read(backup, record));
    EXPECT_EQ(record.ManifestKind, ManifestKindMbdb);

    backup.Manifest = SampleManifest::Both;
    ASSERT_TRUE(Read(backup, record));
    EXPECT_EQ(record.ManifestKind, ManifestKindDb);
}

TEST_F(SummaryReader, FolderWithoutManifestOrPlistIsNoBackup) {
    SampleBackup backup;
    backup.Manifest = SampleManifest::None;
    BackupRecord record;
    EXPECT_FALSE(Read(backup, record));

    backup.Manifest = SampleManifest::Db;
    testing::WriteSampleBackup(folder, backup);
    std::filesystem::remove(folder / "Info.plist");
    EXPECT_FALSE(ReadBackupSummary(record, folder.string()));
}

TEST_F(SummaryReader, MissingProductNameIsListedMissingSerialNumberIsNot) {
    SampleBackup backup;
    backup.ProductName.reset();
    BackupRecord record;
    EXPECT_TRUE(Read(backup, record));
    EXPECT_EQ(record.DeviceType, "");

    backup = SampleBackup();
    backup.SerialNumber.reset();
    EXPECT_FALSE(Read(backup, record));
    EXPECT_EQ(record.Name, "iPhone");
}

TEST_F(SummaryReader, CharacterReferencesAreDecoded) {
    SampleBackup backup;
    backup.DisplayName = "Tom & Jerry <3";
    BackupRecord record;
    ASSERT_TRUE(Read(backup, record));
    EXPECT_EQ(record.Name, "Tom & Jerry <3");

    const std::string key = "<key>Display Name</key>";
    const std::string plist = MakeXmlPlist({{"Display Name", "&#233;&#x263A;&quot;&apos;&gt; &bogus; &#0; &amp"}});
    EXPECT_EQ(ReadPlistStringValue(plist, key), "é☺\"'> &bogus; &#0; &amp");
}

TEST_F(SummaryReader, BinaryInfoPlistIsReadToo) {
    SampleBackup backup;
    backup.BinaryInfoPlist = true;
    backup.DisplayName = "Jürgen’s iPad";
    BackupRecord record;
    ASSERT_TRUE(Read(backup, record));
    EXPECT_EQ(record.Name, "Jürgen’s iPad");
    EXPECT_EQ(record.SerialNumber, "C39XK0ABCDEF");
}

TEST_F(SummaryReader, LongValuesAreKeptWhole) {
    SampleBackup backup;
    backup.DisplayName = std::string(1000, 'x');
    BackupRecord record;
    ASSERT_TRUE(Read(backup, record));
    EXPECT_EQ(record.Name.size(), 1000u);
}

TEST(PlistStringValue, FollowsTheByteSearchRules) {
    const std::string key = "<key>Serial Number</key>";
    // The closing tag must end before the last byte of the file.
    EXPECT_EQ(ReadPlistStringValue(key + "<string>v</string>x", key), "v");
    EXPECT_EQ(ReadPlistStringValue(key + "<string>v</string>", key), "");
    // White space stays; the last <string> before the first </string> starts the value.
    EXPECT_EQ(ReadPlistStringValue(key + "<string> a <string>b</string>\n", key), "b");
    EXPECT_EQ(ReadPlistStringValue(key + "<string> a </string>\n", key), " a ");
    // A non-string element runs on to the next string of the file.
    EXPECT_EQ(ReadPlistStringValue(key + "<integer>5</integer><key>X</key><string>y</string>\n", key), "y");
    // Case matters.
    EXPECT_EQ(ReadPlistStringValue("<key>serial number</key><string>v</string>\n", key), "");
    EXPECT_EQ(ReadPlistStringValue("", key), "");
    // A key too close to the end is not looked at, even with a value behind it in the buffer.
    EXPECT_EQ(ReadPlistStringValue(key + std::string(15, ' '), key), "");
}

TEST(PlistStringValue, InvalidUtf8BecomesQuestionMark) {
    const std::string key = "<key>Display Name</key>";
    EXPECT_EQ(ReadPlistStringValue(key + "<string>a\xFF"
                                         "b</string>\n",
                                   key),
              "a?b");
}

TEST(StatusPlistDate, WholeAndFractionalSecondsGiveTheSameText) {
    TempHome home("UTC");
    EXPECT_EQ(StatusPlistDateText(MakeStatusPlist(600000000.0)), "2020-01-06 10:40:00");
    EXPECT_EQ(StatusPlistDateText(MakeStatusPlist(600000000.9)), "2020-01-06 10:40:00");
    // Truncation is toward zero, also before 2001.
    EXPECT_EQ(StatusPlistDateText(MakeStatusPlist(-0.9)), "2001-01-01 00:00:00");
}

TEST(StatusPlistDate, LocalTimeZoneIsHonoured) {
    TempHome home("Europe/Berlin");
    EXPECT_EQ(StatusPlistDateText(MakeStatusPlist(600000000.0)), "2020-01-06 11:40:00");
}

TEST(StatusPlistDate, EveryOffsetWidthIsRead) {
    TempHome home("UTC");
    for (const int width : {1, 2, 4, 8}) {
        EXPECT_EQ(StatusPlistDateText(MakeStatusPlist(600000000.0, width)), "2020-01-06 10:40:00") << width;
    }
}

TEST(StatusPlistDate, FirstDateObjectCounts) {
    TempHome home("UTC");
    const std::string plist = MakeBinaryPlist({{"A", testing::PlistDate{0.0}}, {"B", testing::PlistDate{600000000.0}}});
    EXPECT_EQ(StatusPlistDateText(plist), "2001-01-01 00:00:00");
    EXPECT_EQ(StatusPlistDateText(MakeBinaryPlist({{"Date", std::string("not a date")}})), "");
}

// Damaged Status.plist files: each gives no date, and no read past its bytes (the sanitizers watch).
struct BrokenFile {
    const char* Name;
    std::string (*Make)();
};

void PrintTo(const BrokenFile& file, std::ostream* out) {
    *out << file.Name;
}

class BrokenStatusPlist : public ::testing::TestWithParam<BrokenFile> {};

std::string Valid() {
    return MakeStatusPlist(600000000.0);
}
std::string Empty() {
    return {};
}
std::string TrailerOnly() {
    return Valid().substr(Valid().size() - 32);
}
std::string CutInHalf() {
    return Valid().substr(0, Valid().size() / 2);
}
std::string CutBeforeTrailer() {
    return Valid().substr(0, Valid().size() - 1);
}
std::string Garbage() {
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        bytes += static_cast<char>((i * 73 + 19) & 0xFF);
    }
    return bytes;
}
std::string WithTrailerByte(int index, unsigned char value) {
    std::string bytes = Valid();
    bytes[bytes.size() - 32 + static_cast<std::size_t>(index)] = static_cast<char>(value);
    return bytes;
}
std::string OffsetSizeZero() {
    return WithTrailerByte(6, 0);
}
std::string OffsetSizeNine() {
    return WithTrailerByte(6, 9);
}
std::string HugeObjectCount() {
    return WithTrailerByte(8, 0xFF);
}
std::string TableBeyondEnd() {
    return WithTrailerByte(24, 0x7F);
}
std::string OffsetsPointOutside() {
    std::string bytes = Valid();
    const auto table = static_cast<std::size_t>(static_cast<unsigned char>(bytes[bytes.size() - 1]));
    for (std::size_t i = table; i < bytes.size() - 32; ++i) {
        bytes[i] = static_cast<char>(0xFF);
    }
    return bytes;
}
std::string DateObjectCutShort() {
    // A lone date marker as the last object byte before the table: its 8 value bytes would run into the table.
    std::string bytes = "bplist00";
    bytes += '\x33';
    const std::size_t table = bytes.size();
    bytes += '\x08';
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 1;
    trailer[31] = static_cast<char>(table);
    return bytes + trailer;
}

TEST_P(BrokenStatusPlist, GivesNoDate) {
    TempHome home("UTC");
    const std::string bytes = GetParam().Make();
    EXPECT_EQ(StatusPlistDateText(bytes), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenStatusPlist,
    ::testing::Values(BrokenFile{"Empty", &Empty}, BrokenFile{"TrailerOnly", &TrailerOnly},
                      BrokenFile{"CutInHalf", &CutInHalf}, BrokenFile{"CutBeforeTrailer", &CutBeforeTrailer},
                      BrokenFile{"Garbage", &Garbage}, BrokenFile{"OffsetSizeZero", &OffsetSizeZero},
                      BrokenFile{"OffsetSizeNine", &OffsetSizeNine}, BrokenFile{"HugeObjectCount", &HugeObjectCount},
                      BrokenFile{"TableBeyondEnd", &TableBeyondEnd},
                      BrokenFile{"OffsetsPointOutside", &OffsetsPointOutside},
                      BrokenFile{"DateObjectCutShort", &DateObjectCutShort}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST_F(SummaryReader, DamagedSummaryFilesGiveNoRow) {
    const std::vector<std::pair<std::string, std::string>> damage = {
        {"Info.plist", ""},
        {"Info.plist", Garbage()},
        {"Info.plist", MakeXmlPlist({{"Display Name", "x"}}).substr(0, 60)},
        {"Info.plist", "bplist00" + Garbage()},
    };
    for (const auto& [file, bytes] : damage) {
        testing::WriteSampleBackup(folder, SampleBackup());
        WriteFile(folder / file, bytes);
        BackupRecord record;
        EXPECT_FALSE(ReadBackupSummary(record, folder.string())) << file << " of " << bytes.size() << " bytes";
    }
}

// Where the backup's time comes from: Status.plist, else Manifest.plist, else Info.plist.
struct BackupTimeCase {
    const char* Name;
    SampleBackup Backup;
    std::string (*Status)(); // replaces the Status.plist written, when set
    const char* Time;        // "" when the folder is no backup
};

void PrintTo(const BackupTimeCase& row, std::ostream* out) {
    *out << row.Name;
}

std::string Undated() {
    return MakeBinaryPlist({{"BackupState", std::string("new")}, {"SnapshotState", std::string("finished")}});
}

constexpr const char* StatusTime = "2020-01-06 10:40:00";
constexpr const char* ManifestTime = "2016-11-05 00:53:20";
constexpr const char* InfoTime = "2013-09-04 15:06:40";

SampleBackup Dated(bool statusPlist, std::optional<double> manifest, std::optional<double> info, bool binary) {
    return {.Date = 600000000.0,
            .StatusPlist = statusPlist,
            .ManifestDate = manifest,
            .InfoDate = info,
            .BinaryManifestPlist = binary,
            .BinaryInfoPlist = binary};
}

class BackupTime : public SummaryReader, public ::testing::WithParamInterface<BackupTimeCase> {};

TEST_P(BackupTime, ComesFromTheFirstFileThatHasOne) {
    testing::WriteSampleBackup(folder, GetParam().Backup);
    if (GetParam().Status != nullptr) {
        WriteFile(folder / "Status.plist", GetParam().Status());
    }
    BackupRecord record;
    EXPECT_EQ(ReadBackupSummary(record, folder.string()), *GetParam().Time != '\0');
    EXPECT_EQ(record.Time, GetParam().Time);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupTime,
    ::testing::Values(
        BackupTimeCase{"StatusWins", Dated(true, 500000000, 400000000, false), nullptr, StatusTime},
        BackupTimeCase{"NoStatusXml", Dated(false, 500000000, 400000000, false), nullptr, ManifestTime},
        BackupTimeCase{"NoStatusBinary", Dated(false, 500000000, 400000000, true), nullptr, ManifestTime},
        BackupTimeCase{"UndatedStatus", Dated(true, 500000000, 400000000, false), &Undated, ManifestTime},
        BackupTimeCase{"CutStatus", Dated(true, 500000000, 400000000, false), &CutInHalf, ManifestTime},
        BackupTimeCase{"NoManifestDateXml", Dated(false, std::nullopt, 400000000, false), nullptr, InfoTime},
        BackupTimeCase{"NoManifestDateBinary", Dated(false, std::nullopt, 400000000, true), nullptr, InfoTime},
        BackupTimeCase{"NoTimeXml", Dated(false, std::nullopt, std::nullopt, false), nullptr, ""},
        BackupTimeCase{"NoTimeBinary", Dated(true, std::nullopt, std::nullopt, true), &Garbage, ""}),
    [](const auto& row) { return std::string(row.param.Name); });

// XML dates are taken only in the form Apple writes and only from the top dictionary.
struct XmlDateCase {
    const char* Name;
    const char* Body; // the top dictionary's content
    const char* Time;
};

void PrintTo(const XmlDateCase& row, std::ostream* out) {
    *out << row.Name;
}

class XmlPlistDate : public ::testing::TestWithParam<XmlDateCase> {};

TEST_P(XmlPlistDate, IsReadStrictly) {
    TempHome home("UTC");
    const std::string plist =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n") + GetParam().Body +
        "\n</dict>\n</plist>\n";
    EXPECT_EQ(ReadPlistDateValue(plist, "Date"), GetParam().Time);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlPlistDate,
    ::testing::Values(
        XmlDateCase{"Plain", "<key>Date</key>\n\t<date>2020-01-06T10:00:00Z</date>", "2020-01-06 10:00:00"},
        XmlDateCase{"LeapDay", "<key>Date</key><date>2020-02-29T23:59:59Z</date>", "2020-02-29 23:59:59"},
        XmlDateCase{"NotALeapYear", "<key>Date</key><date>2019-02-29T10:00:00Z</date>", ""},
        XmlDateCase{"MonthThirteen", "<key>Date</key><date>2020-13-06T10:00:00Z</date>", ""},
        XmlDateCase{"Hour24", "<key>Date</key><date>2020-01-06T24:00:00Z</date>", ""},
        XmlDateCase{"LeapSecond", "<key>Date</key><date>2016-12-31T23:59:60Z</date>", ""},
        XmlDateCase{"Fraction", "<key>Date</key><date>2020-01-06T10:00:00.5Z</date>", ""},
        XmlDateCase{"Offset", "<key>Date</key><date>2020-01-06T10:00:00+01:00</date>", ""},
        XmlDateCase{"SignedField", "<key>Date</key><date>2020-+1-06T10:00:00Z</date>", ""},
        XmlDateCase{"Unclosed", "<key>Date</key><date>2020-01-06T10:00:00Z", ""},
        XmlDateCase{"AString", "<key>Date</key><string>2020-01-06T10:00:00Z</string>", ""},
        XmlDateCase{"OtherKeyBetween", "<key>Date</key><key>X</key><date>2020-01-06T10:00:00Z</date>", ""},
        XmlDateCase{"OnlyNested", "<key>A</key><dict><key>Date</key><date>2020-01-06T10:00:00Z</date></dict>", ""},
        XmlDateCase{"NestedFirst",
                    "<key>A</key><array><dict><key>Date</key><date>2001-01-01T00:00:00Z</date></dict></array>"
                    "<key>B</key><dict/><key>Date</key><date>2020-01-06T10:00:00Z</date>",
                    "2020-01-06 10:00:00"},
        XmlDateCase{"InAComment",
                    "<!-- <key>Date</key><date>2001-01-01T00:00:00Z</date> <dict> -->"
                    "<key>Date</key><date>2020-01-06T10:00:00Z</date>",
                    "2020-01-06 10:00:00"},
        XmlDateCase{"UnclosedComment", "<!-- <key>Date</key><date>2020-01-06T10:00:00Z</date>", ""}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST(PlistDateValue, XmlDateIsShownInLocalTime) {
    TempHome home("Europe/Berlin");
    EXPECT_EQ(
        ReadPlistDateValue("<plist><dict><key>Date</key><date>2020-01-06T10:00:00Z</date></dict></plist>", "Date"),
        "2020-01-06 11:00:00");
}

TEST(PlistDateValue, BinaryDateIsLookedUpByKey) {
    TempHome home("UTC");
    const std::string plist = MakeBinaryPlist(
        {{"A", testing::PlistDate{0.0}}, {"Date", testing::PlistDate{600000000.0}}, {"Name", std::string("x")}});
    EXPECT_EQ(ReadPlistDateValue(plist, "Date"), "2020-01-06 10:40:00");
    EXPECT_EQ(ReadPlistDateValue(plist, "Name"), "");
    EXPECT_EQ(ReadPlistDateValue(plist, "Last Backup Date"), "");
    EXPECT_EQ(ReadPlistDateValue(CutInHalf(), "Date"), "");
}

TEST_F(SummaryReader, UnreadableInfoPlistGivesNoRow) {
    testing::WriteSampleBackup(folder, SampleBackup());
    std::filesystem::remove(folder / "Info.plist");
    std::filesystem::create_directory(folder / "Info.plist");
    BackupRecord record;
    EXPECT_FALSE(ReadBackupSummary(record, folder.string()));
}

} // namespace
} // namespace marrowick
