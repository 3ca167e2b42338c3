#include "core/crypto/ManifestDbDecryption.h"
#include "core/crypto/ManifestDbConnection.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::FromHex;

// FORMATS.md V3: the first block of a Manifest.db under the manifest key 60..7f. Any range reads as its plaintext.
TEST(ManifestDbDecryption, VectorBlockDecryptsToSqlitesHeaderAndAnyRangeToItsPlaintext) {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "Manifest.db";
    std::string pages(3 * 512, '\0');
    for (std::size_t i = 0; i < pages.size(); ++i) {
        pages[i] = static_cast<char>(i * 7 + i / 13);
    }
    pages.replace(0, 16, std::string("SQLite format 3\0", 16));
    pages[16] = 2; // page size 512
    pages[17] = 0;
    const std::string stored = testing::EncryptCbc(testing::SampleManifestDbKey(), pages);
    ASSERT_EQ(stored.substr(0, 16), FromHex("fb582b755461b9fa16a64211236362b2"));
    testing::WriteFile(file, stored);
    const SecretBytes key = SecretBytes::CopyOf(testing::SampleManifestDbKey());
    Result<ManifestDbFile> opened = ManifestDbFile::Open(file.string(), &key);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Length(), pages.size());
    for (const auto& [offset, size] : std::vector<std::pair<std::size_t, std::size_t>>{
             {0, 1536}, {0, 512}, {512, 512}, {5, 40}, {15, 2}, {1530, 6}, {700, 1}, {16, 16}, {100, 0}}) {
        std::string read(size, '?');
        ASSERT_TRUE(opened->Read(offset, size, reinterpret_cast<unsigned char*>(read.data()))) << offset;
        EXPECT_EQ(read, pages.substr(offset, size)) << offset << "+" << size;
    }
    unsigned char beyond[2];
    EXPECT_FALSE(opened->Read(1535, 2, beyond));
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
    const SecretBytes key = SecretBytes::CopyOf(testing::SampleManifestDbKey());
    const Result<ManifestDbFile> opened = ManifestDbFile::Open(file.string(), &key);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.Error().Cause, FailureCause::DamagedManifestDb);
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
    const SecretBytes key = SecretBytes::CopyOf(testing::SampleManifestDbKey());
    const Result<ManifestDbFile> opened = ManifestDbFile::Open((dir.Path() / "Manifest.db").string(), &key);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.Error().Cause, FailureCause::Link);
}

// A device may leave Manifest.db in WAL mode; read without its write-ahead log, it must still open, read-only.
TEST(ManifestDbDecryption, DatabaseInWalModeOpens) {
    const testing::TempDir dir;
    const fs::path file = dir.Path() / "Manifest.db";
    testing::WriteManifestDb(file, {{.FileID = "ab", .Domain = "HomeDomain", .RelativePath = "a"}}, true);
    Result<ManifestDbFile> opened = ManifestDbFile::Open(file.string(), nullptr);
    ASSERT_TRUE(opened);
    const Result<std::unique_ptr<ManifestDbConnection>> database = ManifestDbConnection::Open(std::move(*opened));
    ASSERT_TRUE(database) << database.Error().Detail;
    sqlite3* db = (*database)->Db();
    sqlite3_stmt* raw = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT relativePath FROM Files", -1, &raw, nullptr), SQLITE_OK);
    const SqliteStatement query(raw);
    ASSERT_EQ(sqlite3_step(query.get()), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0)), "a");
    EXPECT_NE(sqlite3_exec(db, "DELETE FROM Files", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(testing::ReadFile(file).substr(18, 2), std::string("\2\2", 2));
}

} // namespace
} // namespace marrowick
