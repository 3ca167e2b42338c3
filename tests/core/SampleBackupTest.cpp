#include "support/SampleBackup.h"
#include "core/platform/SqliteHandles.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <bit>
#include <cstdlib>
#include <ctime>
#include <iterator>

namespace marrowick::testing {
namespace {

namespace fs = std::filesystem;

std::uint64_t ReadBigEndian(const std::string& bytes, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    }
    return value;
}

struct Trailer {
    std::size_t OffsetSize, RefSize, ObjectCount, TopObject, TableOffset;
};

Trailer ReadTrailer(const std::string& plist) {
    const std::size_t t = plist.size() - 32;
    return {plist.at(t + 6) * 1U, plist.at(t + 7) * 1U, ReadBigEndian(plist, t + 8, 8), ReadBigEndian(plist, t + 16, 8),
            ReadBigEndian(plist, t + 24, 8)};
}

std::size_t ObjectOffset(const std::string& plist, const Trailer& trailer, std::size_t index) {
    return ReadBigEndian(plist, trailer.TableOffset + index * trailer.OffsetSize, trailer.OffsetSize);
}

TEST(SampleFileId, IsSha1OfDomainDashPath) {
    SampleFile notes;
    notes.Domain = "AppDomain-com.example.notes";
    notes.RelativePath = "Library/Notes";
    EXPECT_EQ(SampleFileID(notes), "ddc71b4b90adf41858eb321cb7795e8b27c2c7ce");
}

TEST(SamplePlist, XmlPlistKeepsValuesAsGiven) {
    EXPECT_EQ(MakeXmlPlist({{"Display Name", "A &amp; B"}}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n"
              "\t<key>Display Name</key>\n\t<string>A &amp; B</string>\n</dict>\n</plist>\n");
}

TEST(SamplePlist, BinaryTrailerAndOffsetWidthsAreHonoured) {
    for (int width : {1, 2, 4, 8}) {
        SCOPED_TRACE(width);
        const std::string plist = MakeStatusPlist(600000000.5, width);
        ASSERT_EQ(plist.substr(0, 8), "bplist00");
        const Trailer trailer = ReadTrailer(plist);
        EXPECT_EQ(trailer.OffsetSize, static_cast<std::size_t>(width));
        EXPECT_EQ(trailer.RefSize, 1U);
        EXPECT_EQ(trailer.ObjectCount, 13U);
        EXPECT_EQ(trailer.TopObject, 0U);
        EXPECT_EQ(trailer.TableOffset + 13 * trailer.OffsetSize + 32, plist.size());
        const std::size_t top = ObjectOffset(plist, trailer, 0);
        EXPECT_EQ(static_cast<unsigned char>(plist.at(top)), 0xD6);
        // Second pair: key "Date", value a date object.
        const std::size_t key = ObjectOffset(plist, trailer, ReadBigEndian(plist, top + 2, 1));
        EXPECT_EQ(plist.substr(key, 5), "\x54"
                                        "Date");
        const std::size_t date = ObjectOffset(plist, trailer, ReadBigEndian(plist, top + 8, 1));
        ASSERT_EQ(static_cast<unsigned char>(plist.at(date)), 0x33);
        EXPECT_EQ(std::bit_cast<double>(ReadBigEndian(plist, date + 1, 8)), 600000000.5);
        if (width == 2) {
            EXPECT_GT(date, 255U);
        }
        if (width == 4) {
            EXPECT_GT(date, 65535U);
        }
    }
}

TEST(SamplePlist, BinaryStringsAndIntegersUseTheirMarkers) {
    const std::string plist =
        MakeBinaryPlist({{"Zo\xC3\xAB", std::string("0123456789abcdef")}, {"n", std::int64_t{-2}}});
    const Trailer trailer = ReadTrailer(plist);
    ASSERT_EQ(trailer.ObjectCount, 5U);
    EXPECT_EQ(plist.substr(ObjectOffset(plist, trailer, 1), 7), std::string("\x63\x00Z\x00o\x00\xEB", 7));
    EXPECT_EQ(plist.substr(ObjectOffset(plist, trailer, 3), 19), "\x5F\x10\x10"
                                                                 "0123456789abcdef");
    EXPECT_EQ(plist.substr(ObjectOffset(plist, trailer, 4), 9), std::string("\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 9));
}

TEST(SampleManifest, MbdbRecordLayout) {
    MbdbRecord record;
    record.Domain = "HomeDomain";
    record.Path = "a";
    record.MTime = 0x80000001;
    record.Size = 3;
    record.Properties = {{"k", "v"}};
    const std::string expected = std::string("\x00\x0A"
                                             "HomeDomain"
                                             "\x00\x01"
                                             "a"
                                             "\xFF\xFF"
                                             "\x00\x14",
                                             19) +
                                 std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11\x12"
                                             "\x13\x14\xFF\xFF\x81\xA4",
                                             24) +
                                 std::string("\x00\x00\x00\x00\x00\x1F\x2E\x3D"
                                             "\x00\x00\x01\xF5\x00\x00\x01\xF5"
                                             "\x80\x00\x00\x01\x80\x00\x00\xC9\x80\x00\x00\x65"
                                             "\x00\x00\x00\x00\x00\x00\x00\x03\x04\x01"
                                             "\x00\x01k\x00\x01v",
                                             44);
    EXPECT_EQ(MakeMbdbRecord(record), expected);
    EXPECT_EQ(MakeMbdb({record, record}), std::string("mbdb\x05\x00", 6) + expected + expected);

    MbdbRecord folderRecord;
    folderRecord.Domain = "D";
    folderRecord.Mode = 0x41ED;
    const std::string folder = MakeMbdbRecord(folderRecord);
    EXPECT_EQ(folder.substr(0, 13), std::string("\x00\x01"
                                                "D\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x41\xED",
                                                13));
    EXPECT_EQ(folder.size(), 13U - 2 + 40);
}

SqliteDatabase OpenReadOnly(const fs::path& file) {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    return SqliteDatabase(raw);
}

std::vector<std::string> Column(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &raw, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    const SqliteStatement statement(raw);
    std::vector<std::string> values;
    while (sqlite3_step(raw) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
        values.emplace_back(text ? text : "<null>");
    }
    return values;
}

TEST(SampleManifest, ManifestDbReadsBackWithSqlite) {
    const TempDir dir;
    const fs::path file = dir.Path() / "sub" / "Manifest.db";
    WriteManifestDb(file, {{"id1", "HomeDomain", "a", "1"},
                           {std::nullopt, std::nullopt, "b", std::nullopt},
                           {"id3", "AppDomain", std::nullopt, "x2"}});
    const auto db = OpenReadOnly(file);
    EXPECT_EQ(Column(db.get(), "SELECT ifnull(fileID, '<null>') || '|' || ifnull(domain, '<null>') || '|' || "
                               "ifnull(relativePath, '<null>') || '|' || typeof(flags) || ':' || ifnull(flags, '') || "
                               "'|' || typeof(file) FROM Files ORDER BY rowid"),
              (std::vector<std::string>{"id1|HomeDomain|a|integer:1|blob", "<null>|<null>|b|null:|blob",
                                        "id3|AppDomain|<null>|text:x2|blob"}));
    EXPECT_EQ(Column(db.get(), "PRAGMA journal_mode"), std::vector<std::string>{"delete"});
    EXPECT_EQ(Column(db.get(), "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'Files' AND "
                               "name = 'FilesDomainIdx'")
                  .size(),
              1U);
    EXPECT_THROW(WriteManifestDb(file, {{"same", "D", "a", "1"}, {"same", "D", "b", "1"}}), std::runtime_error);
}

TEST(SampleManifest, WalModeStaysInTheHeader) {
    const TempDir dir;
    WriteManifestDb(dir.Path() / "Manifest.db", {{"id", "HomeDomain", "a", "1"}}, true);
    EXPECT_FALSE(fs::exists(dir.Path() / "Manifest.db-wal"));
    const std::string header = ReadFile(dir.Path() / "Manifest.db").substr(18, 2);
    EXPECT_EQ(header, std::string("\x02\x02", 2)); // file format write/read versions: 2 means WAL
    const auto db = OpenReadOnly(dir.Path() / "Manifest.db");
    EXPECT_EQ(Column(db.get(), "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
    EXPECT_EQ(Column(db.get(), "SELECT relativePath FROM Files"), std::vector<std::string>{"a"});
}

TEST(SampleManifest, MbFileRecordIsLaidOutAsDevicesWriteIt) {
    const std::string key = std::string("\x03\x00\x00\x00", 4) + std::string(40, 'k');
    const std::string record = MakeMbFileRecord(
        {.UserID = -2, .Target = "/var/mobile/x", .EncryptionKey = key, .Digest = std::string(20, 'd')});
    const Trailer trailer = ReadTrailer(record);
    EXPECT_EQ(trailer.OffsetSize, 2U);
    EXPECT_EQ(trailer.RefSize, 1U);
    EXPECT_EQ(trailer.TopObject, 0U);
    // $archiver, $objects, $top and $version; an MBFile of 15 keys; the key's data in place; -2 in 8 bytes.
    EXPECT_EQ(static_cast<unsigned char>(record.at(ObjectOffset(record, trailer, 0))), 0xD4);
    EXPECT_NE(record.find("\xDF\x10\x0F"), std::string::npos);
    EXPECT_NE(record.find("\x4F\x10\x2C" + key), std::string::npos);
    EXPECT_NE(record.find("\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE"), std::string::npos);
    EXPECT_NE(record.find("\x5F\x10\x0FNSKeyedArchiver"), std::string::npos);
}

TEST(SampleManifest, RowHoldsTheRecordItIsGiven) {
    const TempDir dir;
    const std::string record = MakeMbFileRecord({.Size = 7});
    WriteManifestDb(dir.Path() / "Manifest.db",
                    {{.FileID = "a", .RelativePath = "x", .File = record}, {.FileID = "b", .RelativePath = "y"}});
    std::string hex;
    for (const unsigned char byte : record) {
        hex += "0123456789ABCDEF"[byte >> 4];
        hex += "0123456789ABCDEF"[byte & 15];
    }
    const auto db = OpenReadOnly(dir.Path() / "Manifest.db");
    const auto blobs = Column(db.get(), "SELECT hex(file) FROM Files ORDER BY fileID");
    ASSERT_EQ(blobs.size(), 2U);
    EXPECT_EQ(blobs[0], hex);
    EXPECT_NE(blobs[1], hex);
}

std::int64_t MTimeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(stat(file.c_str(), &info), 0) << file;
    return info.st_mtim.tv_sec;
}

TEST(SampleBackupWriter, StoresFilesWhereEachManifestLooksForThem) {
    const TempDir dir;
    const SampleBackup backup{
        .DisplayName = "Anna & Bob",
        .Manifest = SampleManifest::Both,
        .Files = {{.RelativePath = "Library", .IsFolder = true},
                  {.RelativePath = "Library/a.txt", .Content = "hello", .MTime = 1500000000},
                  {.RelativePath = "Library/gone.txt", .Content = "x", .StoredFileMissing = true}}};
    const fs::path folder = WriteSampleBackup(dir.Path() / "one" / "backup", backup);
    ASSERT_EQ(folder, dir.Path() / "one" / "backup");

    const std::string id = Sha1Hex("HomeDomain-Library/a.txt");
    for (const fs::path& stored : {folder / id.substr(0, 2) / id, folder / id}) {
        EXPECT_EQ(ReadFile(stored), "hello") << stored;
        EXPECT_EQ(MTimeOf(stored), 1500000000) << stored;
    }
    const std::string missing = Sha1Hex("HomeDomain-Library/gone.txt");
    const std::string library = Sha1Hex("HomeDomain-Library");
    EXPECT_FALSE(fs::exists(folder / missing) || fs::exists(folder / missing.substr(0, 2) / missing));
    EXPECT_FALSE(fs::exists(folder / library) || fs::exists(folder / library.substr(0, 2) / library));

    const auto db = OpenReadOnly(folder / "Manifest.db");
    EXPECT_EQ(Column(db.get(), "SELECT fileID || ':' || flags FROM Files ORDER BY rowid"),
              (std::vector<std::string>{library + ":2", id + ":1", missing + ":1"}));
    const std::string mbdb = ReadFile(folder / "Manifest.mbdb");
    EXPECT_EQ(mbdb.substr(0, 6), std::string("mbdb\x05\x00", 6));
    EXPECT_NE(mbdb.find(std::string("\x00\x0DLibrary/a.txt", 15)), std::string::npos);

    EXPECT_NE(ReadFile(folder / "Info.plist").find("<string>Anna &amp; Bob</string>"), std::string::npos);
    EXPECT_NE(ReadFile(folder / "Manifest.plist").find("<key>IsEncrypted</key>\n\t<false/>"), std::string::npos);
    EXPECT_EQ(ReadFile(folder / "Status.plist"), MakeStatusPlist(backup.Date));
}

TEST(SampleEnvironment, TempHomeRestoresTheEnvironment) {
    const char* realHome = std::getenv("HOME");
    const char* realConfig = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> previousHome = realHome ? std::optional<std::string>(realHome) : std::nullopt;
    const std::optional<std::string> previousConfig =
        realConfig ? std::optional<std::string>(realConfig) : std::nullopt;
    setenv("HOME", "/original/home", 1);
    unsetenv("XDG_CONFIG_HOME");
    fs::path home;
    {
        const TempHome temp("XYZ-2"); // a POSIX zone two hours east of UTC, no time zone database needed
        home = temp.Home();
        EXPECT_TRUE(fs::is_directory(home));
        EXPECT_EQ(fs::path(std::getenv("HOME")), home);
        EXPECT_EQ(fs::path(std::getenv("XDG_DATA_HOME")), home / ".local/share");
        EXPECT_EQ(fs::path(std::getenv("XDG_CONFIG_HOME")), home / ".config");
        EXPECT_EQ(temp.AppDataBackupFolder(), home / ".local/share/Apple Computer/MobileSync/Backup");
        EXPECT_EQ(temp.ProfileBackupFolder(), home / "Apple/MobileSync/Backup");
        EXPECT_EQ(temp.SettingsFolder(), home / ".config/Marrowick");
        std::time_t now = 1593000000;
        std::tm local{};
        localtime_r(&now, &local);
        EXPECT_EQ(local.tm_gmtoff, 7200);
    }
    EXPECT_STREQ(std::getenv("HOME"), "/original/home");
    EXPECT_EQ(std::getenv("XDG_CONFIG_HOME"), nullptr);
    EXPECT_FALSE(fs::exists(home));
    for (const auto& [name, value] : {std::pair{"HOME", previousHome}, std::pair{"XDG_CONFIG_HOME", previousConfig}}) {
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
}

TEST(SampleEnvironment, TempDirRemovesLockedFoldersAndSnapshotsContent) {
    fs::path path;
    {
        const TempDir dir;
        path = dir.Path();
        WriteFile(dir.Path() / "locked" / "inner" / "f", "data");
        const auto snapshot = SnapshotFolder(dir.Path());
        ASSERT_EQ(snapshot.size(), 3U);
        EXPECT_EQ(snapshot.at("locked/inner/f").first, "data");
        EXPECT_EQ(snapshot.at("locked/inner/").first, "");
        fs::permissions(dir.Path() / "locked", fs::perms::none);
    }
    EXPECT_FALSE(fs::exists(path));
}

} // namespace
} // namespace marrowick::testing
