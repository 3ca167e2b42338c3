#include "core/crypto/ManifestDbDecryption.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stop_token>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::FromHex;

// FORMATS.md V3: the first block of a Manifest.db under the manifest key 60..7f.
TEST(ManifestDbDecryption, VectorBlockDecryptsToSqlitesHeader) {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "Manifest.db";
    // One 512-byte page: the vector's block, then the encryption of the page's other bytes after it.
    std::string page(512, '\0');
    page.replace(0, 16, std::string("SQLite format 3\0", 16));
    page[16] = 2; // page size 512
    const std::string stored = testing::EncryptCbc(testing::SampleManifestDbKey(), page, false);
    ASSERT_EQ(stored.substr(0, 16), FromHex("fb582b755461b9fa16a64211236362b2"));
    testing::WriteFile(file, stored);
    const Result<SecretBytes> plaintext =
        DecryptManifestDb(file.string(), SecretBytes::CopyOf(testing::SampleManifestDbKey()));
    ASSERT_TRUE(plaintext);
    EXPECT_EQ(plaintext->View(), page);
}

struct LengthCase {
    const char* Name;
    std::size_t Pages;
    std::string Tail; // after the pages
    std::optional<std::size_t> Length;
    unsigned StoredPageSize = 1024;
};

void PrintTo(const LengthCase& row, std::ostream* os) {
    *os << row.Name;
}

class PlaintextLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(PlaintextLengths, KeepPagesAndStripOnlyTrueTrailingPadding) {
    const unsigned stored = GetParam().StoredPageSize;
    const std::size_t pageSize = stored == 1 ? 65536 : stored;
    std::string plaintext(GetParam().Pages * pageSize, '\x10');
    plaintext.replace(0, 16, std::string("SQLite format 3\0", 16));
    plaintext[16] = static_cast<char>(stored >> 8);
    plaintext[17] = static_cast<char>(stored & 0xFF);
    plaintext += GetParam().Tail;
    EXPECT_EQ(DecryptedManifestDbLength(plaintext), GetParam().Length);
}

INSTANTIATE_TEST_SUITE_P(
    ManifestDbDecryption, PlaintextLengths,
    ::testing::Values(LengthCase{"WholePages", 2, "", 2048},
                      LengthCase{"PagesThenPadding", 2, std::string(16, '\x10'), 2048},
                      LengthCase{"PagesThenOneBytePadding", 1, "\x01", 1024},
                      LengthCase{
                          "PaddingThatIsNotAfterWholePages", 1, std::string(15, 'x') + std::string(2, '\x02'), {}},
                      LengthCase{"PaddingBytesDisagree", 1, std::string(15, '\x10') + '\x0f', {}},
                      LengthCase{"PageSizeOneMeans65536", 1, std::string(16, '\x10'), 65536, 1},
                      LengthCase{"PageSizeNotAPowerOfTwo", 2, "", {}, 1000}, LengthCase{"PageSizeZero", 2, "", {}, 0}),
    [](const auto& row) { return std::string(row.param.Name); });

class DamagedManifestDbs : public ::testing::TestWithParam<std::pair<const char*, std::string>> {};

TEST_P(DamagedManifestDbs, AreDamagedManifestDbs) {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "Manifest.db";
    testing::WriteFile(file, GetParam().second);
    const Result<SecretBytes> plaintext =
        DecryptManifestDb(file.string(), SecretBytes::CopyOf(testing::SampleManifestDbKey()));
    ASSERT_FALSE(plaintext);
    EXPECT_EQ(plaintext.Error().Cause, FailureCause::DamagedManifestDb);
}

INSTANTIATE_TEST_SUITE_P(
    ManifestDbDecryption, DamagedManifestDbs,
    ::testing::Values(std::pair{"Empty", std::string()}, std::pair{"NotWholeBlocks", std::string(4097, 'x')},
                      std::pair{"DecryptsToNoSqliteHeader",
                                testing::EncryptCbc(testing::SampleManifestDbKey(), std::string(4096, 'x'), false)},
                      std::pair{"PlainSqliteReadWithAKey",
                                std::string("SQLite format 3\0", 16) + std::string(4080, '\0')}),
    [](const auto& row) { return std::string(row.param.first); });

TEST(ManifestDbDecryption, ALinkIsNotFollowed) {
    const testing::TempDir dir;
    testing::WriteFile(dir.Path() / "real.db", std::string(4096, 'x'));
    fs::create_symlink(dir.Path() / "real.db", dir.Path() / "Manifest.db");
    const Result<SecretBytes> plaintext =
        DecryptManifestDb((dir.Path() / "Manifest.db").string(), SecretBytes::CopyOf(testing::SampleManifestDbKey()));
    ASSERT_FALSE(plaintext);
    EXPECT_EQ(plaintext.Error().Cause, FailureCause::Link);
}

// A device may leave Manifest.db in WAL mode; the bytes in memory must still open.
TEST(ManifestDbDecryption, DatabaseInWalModeOpensInMemory) {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "Manifest.db";
    testing::WriteManifestDb(file, {{.FileID = "ab", .Domain = "HomeDomain", .RelativePath = "a"}}, true);
    Result<SecretBytes> bytes = ReadPlainManifestDb(file.string());
    ASSERT_TRUE(bytes);
    Result<InMemoryDatabase> database = OpenInMemoryDatabase(std::move(*bytes));
    ASSERT_TRUE(database) << database.Error().Detail;
    sqlite3_stmt* raw = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(database->Db.get(), "SELECT relativePath FROM Files", -1, &raw, nullptr), SQLITE_OK);
    const SqliteStatement query(raw);
    ASSERT_EQ(sqlite3_step(query.get()), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0)), "a");
    EXPECT_NE(sqlite3_exec(database->Db.get(), "DELETE FROM Files", nullptr, nullptr, nullptr), SQLITE_OK);
}

// Reading ahead stops when the password turns out wrong, rather than reading a large file to its end.
TEST(ManifestDbDecryption, ReadingStopsWhenAsked) {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "Manifest.db";
    testing::WriteFile(file, std::string(4096, 'x'));
    std::stop_source stop;
    EXPECT_TRUE(ReadManifestDbFile(file.string(), stop.get_token()));
    stop.request_stop();
    const Result<SecretBytes> stopped = ReadManifestDbFile(file.string(), stop.get_token());
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.Error().Cause, FailureCause::Stopped);
}

} // namespace
} // namespace marrowick
