#include "core/backup/EntryRecord.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

namespace marrowick {
namespace {

using testing::BinaryPlistWriter;
using testing::KeyedArchiveWriter;
using testing::MakeMbFileRecord;
using testing::MbFileFields;
using Object = BinaryPlistWriter::Object;

// Protection class 3, little-endian, then a 40-byte wrapped key.
const std::string WrappedKey = std::string("\x03\x00\x00\x00", 4) + std::string(40, '\xA7');

// A record's expected fields; the defaults are those of a record written from default MbFileFields.
struct Expected {
    std::uint64_t Size = 0;
    std::int64_t LastModified = 1600000000;
    std::int64_t Birth = 1500000000;
    std::uint32_t Mode = 0100644;
    std::uint32_t ProtectionClass = 3;
    std::string Target{};
    std::string EncryptionKey{};
};

void ExpectFields(const EntryRecord& actual, const Expected& expected) {
    EXPECT_EQ(actual.Size, expected.Size);
    EXPECT_EQ(actual.LastModified, expected.LastModified);
    EXPECT_EQ(actual.Birth, expected.Birth);
    EXPECT_EQ(actual.Mode, expected.Mode);
    EXPECT_EQ(actual.ProtectionClass, expected.ProtectionClass);
    EXPECT_EQ(actual.Target, expected.Target);
    EXPECT_EQ(actual.EncryptionKey, expected.EncryptionKey);
}

bool Cleared(const EntryRecord& record) {
    return record.Size == 0 && record.LastModified == 0 && record.Birth == 0 && record.Mode == 0 &&
           record.ProtectionClass == 0 && record.Target.empty() && record.EncryptionKey.empty();
}

// ---- Records as devices write them --------------------------------------------------------------------------

struct DecodeCase {
    const char* Name;
    MbFileFields Fields;
    Expected Record;
};

void PrintTo(const DecodeCase& row, std::ostream* os) {
    *os << row.Name;
}

class RecordDecodes : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(RecordDecodes, IntoItsFields) {
    EntryRecord record;
    ASSERT_TRUE(DecodeEntryRecord(MakeMbFileRecord(GetParam().Fields), record));
    ExpectFields(record, GetParam().Record);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordDecodes,
    ::testing::Values(
        DecodeCase{"FileWithKeyInPlace",
                   {.Size = 1234,
                    .Mode = 0100600,
                    .ProtectionClass = 4,
                    .EncryptionKey = WrappedKey,
                    .Digest = std::string(20, '\x11')},
                   {.Size = 1234, .Mode = 0100600, .ProtectionClass = 4, .EncryptionKey = WrappedKey}},
        // The encrypted sample's layout: no inode, protection class or flags, the key's data behind a UID.
        DecodeCase{"FileWithKeyBehindUid",
                   {.Size = 70000,
                    .EncryptionKey = WrappedKey,
                    .KeyAsUid = true,
                    .LeftOut = {"InodeNumber", "ProtectionClass", "Flags"}},
                   {.Size = 70000, .ProtectionClass = 0, .EncryptionKey = WrappedKey}},
        DecodeCase{"LinkWithAsciiTarget",
                   {.Mode = 0120755, .ProtectionClass = 0, .Target = "/private/var/mobile/Library/Caches"},
                   {.Mode = 0120755, .ProtectionClass = 0, .Target = "/private/var/mobile/Library/Caches"}},
        DecodeCase{"LinkWithUtf16Target",
                   {.Mode = 0120755, .Target = "/var/mobile/Zo\xC3\xAB/\xF0\x9F\x8E\xB5 Mix"},
                   {.Mode = 0120755, .Target = "/var/mobile/Zo\xC3\xAB/\xF0\x9F\x8E\xB5 Mix"}},
        DecodeCase{"FiveGiBWithNegativeTimesAndOwners",
                   {.Size = 5ULL << 30, .LastModified = -1, .Birth = -978307200, .UserID = -2, .GroupID = -2},
                   {.Size = 5ULL << 30, .LastModified = -1, .Birth = -978307200}},
        DecodeCase{"WidestFourByteValuesAndNarrowestEightByteOne",
                   {.Size = 0xFFFFFFFF, .LastModified = 0xFFFFFFFF, .Birth = 0x100000000},
                   {.Size = 0xFFFFFFFF, .LastModified = 0xFFFFFFFF, .Birth = 0x100000000}},
        DecodeCase{
            "KeyOf64BytesIsKept", {.EncryptionKey = std::string(64, 'k')}, {.EncryptionKey = std::string(64, 'k')}},
        DecodeCase{"KeyOf65BytesIsNoKey", {.EncryptionKey = std::string(65, 'k'), .KeyAsUid = true}, {}},
        DecodeCase{"NothingButItsClass",
                   {.LeftOut = {"LastModified", "Flags", "GroupID", "LastStatusChange", "Birth", "Size", "InodeNumber",
                                "Mode", "ProtectionClass", "UserID", "RelativePath"}},
                   {.LastModified = 0, .Birth = 0, .Mode = 0, .ProtectionClass = 0}}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST(EntryRecord, ReusedRecordKeepsNothingOfTheLastOneAndItsMemory) {
    EntryRecord record;
    ASSERT_TRUE(DecodeEntryRecord(
        MakeMbFileRecord({.Mode = 0120755, .Target = std::string(100, 'x'), .EncryptionKey = WrappedKey}), record));
    const char* targetMemory = record.Target.data();

    ASSERT_TRUE(DecodeEntryRecord(MakeMbFileRecord({.Mode = 0120755, .Target = "/short"}), record));
    EXPECT_EQ(record.Target, "/short");
    EXPECT_EQ(record.Target.data(), targetMemory);
    EXPECT_EQ(record.EncryptionKey, "");

    ASSERT_TRUE(DecodeEntryRecord(MakeMbFileRecord({.Size = 9}), record));
    ExpectFields(record, {.Size = 9});
}

// ---- Fields that cannot be read are absent; the rest of the record is read ----------------------------------

// An MBFile archive holding a valid Mode and what a case puts beside it.
class MbFileArchive {
public:
    MbFileArchive() {
        (void)archive_.Archive(root_);
        Put("$class", archive_.ArchiveClass({"MBFile"}));
        Put("Mode", Plist().Integer(0100644));
    }
    BinaryPlistWriter& Plist() { return archive_.Plist(); }
    Object Archive(Object object) { return archive_.Archive(object); }
    void Put(const std::string& key, Object value) { Plist().Insert(root_, Plist().String(key), value); }
    // A key holder as NSKeyedArchiver writes it, holding data under NS.data; the holder's UID.
    Object KeyHolder(const std::function<Object(Object holderUid)>& data) {
        const Object holder = Plist().Dict();
        const Object uid = Archive(holder);
        Plist().Insert(holder, Plist().String("NS.data"), data(uid));
        return uid;
    }
    [[nodiscard]] std::string Finish() const { return archive_.Finish(); }

private:
    KeyedArchiveWriter archive_;
    Object root_ = archive_.Plist().Dict();
};

struct FieldCase {
    const char* Name;
    std::function<void(MbFileArchive&)> Put;
};

void PrintTo(const FieldCase& row, std::ostream* os) {
    *os << row.Name;
}

class UnreadableField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(UnreadableField, ReadsAsAbsent) {
    MbFileArchive archive;
    GetParam().Put(archive);
    EntryRecord record;
    ASSERT_TRUE(DecodeEntryRecord(archive.Finish(), record));
    ExpectFields(record, {.LastModified = 0, .Birth = 0, .ProtectionClass = 0});
}

// A 16-byte integer and payloads whose counts run far past the object area.
const std::string SixteenByteInteger = std::string("\x14", 1) + std::string(15, '\0') + "\x01";
const std::string CutString = "\x5F\x11\x7F\xFF"
                              "abc";
const std::string CutData = "\x4F\x11\x7F\xFF"
                            "abc";

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableField,
    ::testing::Values(
        FieldCase{"SizeAsText", [](MbFileArchive& a) { a.Put("Size", a.Plist().String("12")); }},
        FieldCase{"SizeOf16Bytes", [](MbFileArchive& a) { a.Put("Size", a.Plist().Raw(SixteenByteInteger)); }},
        FieldCase{"NegativeSize", [](MbFileArchive& a) { a.Put("Size", a.Plist().Integer(-5)); }},
        FieldCase{"NegativeClass", [](MbFileArchive& a) { a.Put("ProtectionClass", a.Plist().Integer(-1)); }},
        FieldCase{"ClassPast32Bits",
                  [](MbFileArchive& a) { a.Put("ProtectionClass", a.Plist().Integer(0x100000003)); }},
        FieldCase{"TargetNil", [](MbFileArchive& a) { a.Put("Target", a.Plist().Uid(0)); }},
        FieldCase{"TargetPastObjects", [](MbFileArchive& a) { a.Put("Target", a.Plist().Uid(200)); }},
        FieldCase{"TargetInPlaceOfUid", [](MbFileArchive& a) { a.Put("Target", a.Plist().String("/var/x")); }},
        FieldCase{"TargetToNumber", [](MbFileArchive& a) { a.Put("Target", a.Archive(a.Plist().Integer(5))); }},
        FieldCase{"TargetCutShort", [](MbFileArchive& a) { a.Put("Target", a.Archive(a.Plist().Raw(CutString))); }},
        FieldCase{"KeyIsTheRoot", [](MbFileArchive& a) { a.Put("EncryptionKey", a.Plist().Uid(1)); }},
        FieldCase{"KeyDataIsItsHolder",
                  [](MbFileArchive& a) { a.Put("EncryptionKey", a.KeyHolder([](Object self) { return self; })); }},
        FieldCase{"KeyDataBehindTwoUids",
                  [](MbFileArchive& a) {
                      const Object data = a.Archive(a.Archive(a.Plist().Data(WrappedKey)));
                      a.Put("EncryptionKey", a.KeyHolder([data](Object) { return data; }));
                  }},
        FieldCase{"KeyDataAsText",
                  [](MbFileArchive& a) {
                      a.Put("EncryptionKey", a.KeyHolder([&a](Object) { return a.Plist().String("key"); }));
                  }},
        FieldCase{"KeyDataCutShort",
                  [](MbFileArchive& a) {
                      a.Put("EncryptionKey", a.KeyHolder([&a](Object) { return a.Plist().Raw(CutData); }));
                  }}),
    [](const auto& row) { return std::string(row.param.Name); });

// ---- Blobs that are no MBFile archive -----------------------------------------------------------------------

// A small MBFile archive laid out piece by piece, so that a case can break one piece.
struct ShapedArchive {
    BinaryPlistWriter Plist;
    Object Top = Plist.Dict();
    Object ObjectsArray = Plist.Array();
    Object Root = Plist.Dict();
    Object Class = Plist.Dict();
    // What $objects holds after "$null": the root, its class and its path.
    Object RootElement = Root;
    std::optional<Object> Objects = ObjectsArray;
    std::optional<Object> RootHolder = Plist.Dict();
    Object RootUid = Plist.Uid(1);
    Object ClassUid = Plist.Uid(2);
    Object ClassName = Plist.String("MBFile");

    std::string Finish() {
        for (Object element : {Plist.String("$null"), RootElement, Class, Plist.String("Library/a")}) {
            Plist.Append(ObjectsArray, element);
        }
        Plist.Insert(Top, Plist.String("$archiver"), Plist.String("NSKeyedArchiver"));
        if (Objects) {
            Plist.Insert(Top, Plist.String("$objects"), *Objects);
        }
        if (RootHolder) {
            Plist.Insert(*RootHolder, Plist.String("root"), RootUid);
            Plist.Insert(Top, Plist.String("$top"), *RootHolder);
        }
        Plist.Insert(Root, Plist.String("$class"), ClassUid);
        Plist.Insert(Root, Plist.String("RelativePath"), Plist.Uid(3));
        Plist.Insert(Root, Plist.String("Size"), Plist.Integer(7));
        Plist.Insert(Class, Plist.String("$classname"), ClassName);
        return Plist.Finish();
    }
};

std::string Shaped(const std::function<void(ShapedArchive&)>& shape) {
    ShapedArchive archive;
    shape(archive);
    return archive.Finish();
}

void PutBigEndian(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes.at(at + i) = static_cast<char>(value >> (8 * (width - 1 - i)));
    }
}

std::uint64_t GetBigEndian(const std::string& bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

// A real record with its trailer or offset table changed; patch gets the blob and where the trailer starts.
std::string Patched(const std::function<void(std::string&, std::size_t)>& patch) {
    std::string blob = MakeMbFileRecord({.Target = "/var/x", .EncryptionKey = WrappedKey});
    patch(blob, blob.size() - 32);
    return blob;
}

// Every offset table entry set to value.
void SetOffsets(std::string& blob, std::size_t trailer, std::uint64_t value) {
    const std::size_t width = static_cast<unsigned char>(blob[trailer + 6]);
    const std::uint64_t table = GetBigEndian(blob, trailer + 24, 8);
    for (std::uint64_t i = 0; i < GetBigEndian(blob, trailer + 8, 8); ++i) {
        PutBigEndian(blob, table + i * width, value, width);
    }
}

struct RefusedCase {
    const char* Name;
    std::function<std::string()> Make;
};

void PrintTo(const RefusedCase& row, std::ostream* os) {
    *os << row.Name;
}

class RefusedRecord : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedRecord, IsFalseWithTheRecordCleared) {
    EntryRecord record;
    record.Target = "/old";
    record.EncryptionKey = "old";
    EXPECT_FALSE(DecodeEntryRecord(GetParam().Make(), record));
    EXPECT_TRUE(Cleared(record));
}

TEST(RefusedRecord, ArchiveThatTheCasesBreakDecodes) {
    EntryRecord record;
    ASSERT_TRUE(DecodeEntryRecord(Shaped([](ShapedArchive&) {}), record));
    EXPECT_EQ(record.Size, 7U);
    ASSERT_TRUE(DecodeEntryRecord(Patched([](std::string&, std::size_t) {}), record));
    EXPECT_EQ(record.EncryptionKey, WrappedKey);
}

// A count near 2^60, for an array and for a dictionary.
const std::string HugeArray("\xAF\x13\x0F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01", 11);
const std::string HugeDictionary("\xDF\x13\x0F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01\x01", 12);

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedRecord,
    ::testing::Values(
        RefusedCase{"Empty", [] { return std::string(); }},
        RefusedCase{"XmlPlist",
                    [] {
                        return testing::MakeXmlPlist({{"$archiver", "NSKeyedArchiver"}});
                    }},
        RefusedCase{"PlistThatIsNoArchive", [] { return testing::MakeStatusPlist(600000000.0); }},
        RefusedCase{"NoObjects", [] { return Shaped([](ShapedArchive& a) { a.Objects.reset(); }); }},
        RefusedCase{"ObjectsInADictionary", [] { return Shaped([](ShapedArchive& a) { a.Objects = a.Root; }); }},
        RefusedCase{"ObjectsCountHuge",
                    [] { return Shaped([](ShapedArchive& a) { a.Objects = a.Plist.Raw(HugeArray); }); }},
        RefusedCase{"NoTop", [] { return Shaped([](ShapedArchive& a) { a.RootHolder.reset(); }); }},
        RefusedCase{"RootNil", [] { return Shaped([](ShapedArchive& a) { a.RootUid = a.Plist.Uid(0); }); }},
        RefusedCase{"RootPastObjects", [] { return Shaped([](ShapedArchive& a) { a.RootUid = a.Plist.Uid(4); }); }},
        RefusedCase{"RootNoUid", [] { return Shaped([](ShapedArchive& a) { a.RootUid = a.Plist.Integer(1); }); }},
        RefusedCase{"RootIsText", [] { return Shaped([](ShapedArchive& a) { a.RootUid = a.Plist.Uid(3); }); }},
        RefusedCase{"RootIsTheTopLevel", [] { return Shaped([](ShapedArchive& a) { a.RootElement = a.Top; }); }},
        RefusedCase{"RootKeyCountHuge",
                    [] { return Shaped([](ShapedArchive& a) { a.RootElement = a.Plist.Raw(HugeDictionary); }); }},
        RefusedCase{"ClassIsTheRoot", [] { return Shaped([](ShapedArchive& a) { a.ClassUid = a.Plist.Uid(1); }); }},
        RefusedCase{"ClassPastObjects", [] { return Shaped([](ShapedArchive& a) { a.ClassUid = a.Plist.Uid(99); }); }},
        RefusedCase{"ClassOfAnotherName",
                    [] { return Shaped([](ShapedArchive& a) { a.ClassName = a.Plist.String("NSData"); }); }},
        RefusedCase{"NoClass", [] { return MakeMbFileRecord({.LeftOut = {"$class"}}); }},
        RefusedCase{"OtherHeader", [] { return Patched([](std::string& blob, std::size_t) { blob[7] = '1'; }); }},
        RefusedCase{"OffsetsIntoTheTable",
                    [] {
                        return Patched([](std::string& blob, std::size_t trailer) {
                            SetOffsets(blob, trailer, GetBigEndian(blob, trailer + 24, 8));
                        });
                    }},
        RefusedCase{
            "OffsetsIntoTheHeader",
            [] { return Patched([](std::string& blob, std::size_t trailer) { SetOffsets(blob, trailer, 7); }); }},
        RefusedCase{"TablePastTheEnd",
                    [] {
                        return Patched([](std::string& blob, std::size_t trailer) {
                            PutBigEndian(blob, trailer + 24, blob.size(), 8);
                        });
                    }},
        RefusedCase{"ObjectCountHuge",
                    [] {
                        return Patched([](std::string& blob, std::size_t trailer) {
                            PutBigEndian(blob, trailer + 8, 1ULL << 61, 8);
                        });
                    }},
        RefusedCase{"TopObjectPastTheCount",
                    [] {
                        return Patched([](std::string& blob, std::size_t trailer) {
                            PutBigEndian(blob, trailer + 16, GetBigEndian(blob, trailer + 8, 8), 8);
                        });
                    }},
        RefusedCase{"ReferenceWidthZero",
                    [] { return Patched([](std::string& blob, std::size_t trailer) { blob[trailer + 7] = 0; }); }},
        RefusedCase{"OffsetWidthNine",
                    [] { return Patched([](std::string& blob, std::size_t trailer) { blob[trailer + 6] = 9; }); }}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST(RefusedRecord, EveryCutIsRefusedAndEveryAlteredByteReadInBounds) {
    const std::string blob = MakeMbFileRecord({.Target = "/var/x", .EncryptionKey = WrappedKey, .KeyAsUid = true});
    EntryRecord record;
    for (std::size_t length = 0; length < blob.size(); ++length) {
        // A buffer of exactly the cut's size, so that the sanitizers see a read past its end.
        const std::vector<char> cut(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(DecodeEntryRecord({cut.data(), cut.size()}, record)) << length;
        EXPECT_TRUE(Cleared(record)) << length;
    }
    for (std::size_t at = 0; at < blob.size(); ++at) {
        for (const unsigned char flip : {0x01, 0x10, 0x80, 0xFF}) {
            std::vector<char> altered(blob.begin(), blob.end());
            altered[at] = static_cast<char>(altered[at] ^ flip);
            const bool decoded = DecodeEntryRecord({altered.data(), altered.size()}, record);
            EXPECT_TRUE(decoded || Cleared(record)) << at;
            EXPECT_LE(record.EncryptionKey.size(), 64U) << at;
        }
    }
}

} // namespace
} // namespace marrowick
