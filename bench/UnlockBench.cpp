// Unlocking an encrypted backup (Manifest.plist, keybag, password key, class keys, then Manifest.db opened, its
// header and length checked) against the key derivation alone with the keybag's counts, called on libcrypto
// directly; and, given --tree PLAIN_BACKUP, the tree of that backup read as it is against the same backup encrypted,
// once unlocked, where every page SQLite reads is decrypted.

#include "core/backup/BackupTreeCache.h"
#include "core/crypto/UnlockedBackup.h"
#include "core/crypto/UnlockedBackups.h"
#include "support/SampleBackup.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace marrowick;

const std::string Password = "correct horse";

double Seconds(const std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A plain Manifest.db of about megabytes MB: a Files table whose rows carry 1 MB blobs.
std::string MakeManifestDb(const fs::path& path, int megabytes) {
    fs::remove(path);
    const std::string sql = "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags "
                            "INTEGER, file BLOB); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < " +
                            std::to_string(megabytes) +
                            ") INSERT INTO Files SELECT printf('%040d', i), 'HomeDomain', 'Library/f' || i, 1, "
                            "randomblob(1048576) FROM n;";
    if (const std::string failed = testing::RunSql(path, sql); !failed.empty()) {
        std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), failed.c_str());
        std::exit(1);
    }
    return testing::ReadFile(path);
}

// An encrypted backup with real counts (ITER 10,000, DPIC 10,000,000) and a Manifest.db of megabytes MB.
void WriteBackup(const fs::path& folder, const testing::SampleEncryption& encryption, int megabytes) {
    if (fs::exists(folder / ".complete")) {
        return;
    }
    std::printf("writing %s ...\n", folder.c_str());
    testing::SampleBackup sample;
    sample.Encryption = encryption;
    testing::WriteSampleBackup(folder, sample);
    const std::string plain = MakeManifestDb(folder / "plain.db", megabytes);
    fs::remove(folder / "plain.db");
    std::ofstream(folder / "Manifest.db", std::ios::binary | std::ios::trunc)
        << testing::EncryptCbc(testing::SampleManifestDbKey(), plain);
    std::ofstream(folder / ".complete");
}

double DeriveAlone(const testing::SampleKeybag& keybag) {
    const std::string salt = testing::FromHex("0102030405060708090a0b0c0d0e0f1011121314");
    const std::string doubleSalt = testing::FromHex("2122232425262728292a2b2c2d2e2f3031323334");
    unsigned char first[32];
    unsigned char key[32];
    const auto start = std::chrono::steady_clock::now();
    PKCS5_PBKDF2_HMAC(Password.data(), static_cast<int>(Password.size()),
                      reinterpret_cast<const unsigned char*>(doubleSalt.data()), static_cast<int>(doubleSalt.size()),
                      static_cast<int>(keybag.DoubleProtectionIterations), EVP_sha256(), 32, first);
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(first), 32, reinterpret_cast<const unsigned char*>(salt.data()),
                      static_cast<int>(salt.size()), static_cast<int>(keybag.Iterations), EVP_sha1(), 32, key);
    return Seconds(start);
}

// Drops the page cache where allowed, then reads the manifest back, so that every round starts alike.
void ReadBack(const fs::path& manifest) {
    std::system("sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null");
    std::ifstream in(manifest, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
}

double UnlockAndOpen(const fs::path& folder, int& rows) {
    const auto start = std::chrono::steady_clock::now();
    Result<UnlockedBackup> unlocked = UnlockBackup(folder.string(), SecretBytes::CopyOf(Password));
    const Result<std::unique_ptr<ManifestDbConnection>> manifest =
        unlocked ? unlocked->OpenManifestDb() : Result<std::unique_ptr<ManifestDbConnection>>(unlocked.Error());
    const double seconds = Seconds(start);
    rows = -1;
    sqlite3_stmt* query = nullptr;
    if (manifest && sqlite3_prepare_v2((*manifest)->Db(), "SELECT count(*) FROM Files", -1, &query, nullptr) == 0 &&
        sqlite3_step(query) == SQLITE_ROW) {
        rows = sqlite3_column_int(query, 0);
    }
    sqlite3_finalize(query);
    return seconds;
}

// The plain backup encrypted beside it: its Manifest.db encrypted with the sample's manifest key, and the unlock
// backup's Manifest.plist, which holds that key wrapped.
fs::path EncryptedCopy(const fs::path& plain, const fs::path& unlockBackup) {
    const fs::path copy = plain.parent_path() / ("encrypted-" + plain.filename().string());
    if (fs::exists(copy / ".complete")) {
        return copy;
    }
    std::printf("writing %s ...\n", copy.c_str());
    fs::create_directories(copy);
    fs::copy_file(unlockBackup / "Manifest.plist", copy / "Manifest.plist", fs::copy_options::overwrite_existing);
    std::ofstream(copy / "Manifest.db", std::ios::binary | std::ios::trunc)
        << testing::EncryptCbc(testing::SampleManifestDbKey(), testing::ReadFile(plain / "Manifest.db"));
    std::ofstream(copy / ".complete");
    return copy;
}

double ReadTree(const fs::path& folder, std::size_t& nodes) {
    const auto start = std::chrono::steady_clock::now();
    const CachedBackupTree read = ReadBackupTree(folder.string(), ManifestKindDb);
    const double seconds = Seconds(start);
    nodes = read.Status == TreeStatus::Ok ? read.Tree->NodeCount() : 0;
    return seconds;
}

int CompareTrees(const fs::path& plain, const fs::path& unlockBackup, int runs) {
    const fs::path encrypted = EncryptedCopy(plain, unlockBackup);
    Result<UnlockedBackup> unlocked = UnlockBackup(encrypted.string(), SecretBytes::CopyOf(Password));
    if (!unlocked) {
        std::fprintf(stderr, "cannot unlock %s\n", encrypted.c_str());
        return 1;
    }
    KeepUnlockedBackup(std::make_shared<const UnlockedBackup>(std::move(*unlocked)));
    std::vector<double> plainTimes;
    std::vector<double> encryptedTimes;
    std::vector<double> ratios;
    for (int round = 0; round < runs; ++round) {
        double times[2] = {0, 0};
        std::size_t nodes[2] = {0, 0};
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (turn + round) % 2; // 0 plain, 1 encrypted; the first changes every round
            const fs::path& folder = which == 0 ? plain : encrypted;
            ReadBack(folder / "Manifest.db");
            times[which] = ReadTree(folder, nodes[which]);
        }
        if (nodes[0] == 0 || nodes[0] != nodes[1]) {
            std::fprintf(stderr, "the trees differ: %zu and %zu nodes\n", nodes[0], nodes[1]);
            return 1;
        }
        std::printf("round %d: tree of %zu nodes, plain %.3f s, encrypted %.3f s, %.3fx\n", round + 1, nodes[0],
                    times[0], times[1], times[1] / times[0]);
        plainTimes.push_back(times[0]);
        encryptedTimes.push_back(times[1]);
        ratios.push_back(times[1] / times[0]);
    }
    std::printf("median of %d: plain %.3f s, encrypted %.3f s, ratio %.3fx\n", runs, Median(plainTimes),
                Median(encryptedTimes), Median(ratios));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    fs::path folder = "/tmp/marrowick-bench";
    int runs = 5;
    int megabytes = 500;
    fs::path tree;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--folder") {
            folder = argv[i + 1];
        } else if (option == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--tree") {
            tree = argv[i + 1];
        } else if (option == "--manifest-mb") {
            megabytes = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    testing::SampleEncryption encryption;
    encryption.Keybag.Iterations = 10000;
    encryption.Keybag.DoubleProtectionIterations = 10000000;
    folder /= "unlock-" + std::to_string(megabytes);
    WriteBackup(folder, encryption, megabytes);

    std::vector<double> derive;
    std::vector<double> unlock;
    std::vector<double> ratios;
    for (int round = 0; round < runs; ++round) {
        int rows = 0;
        double derived = 0;
        double unlocked = 0;
        // The two take turns at going first.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 0)) {
                derived = DeriveAlone(encryption.Keybag);
            } else {
                ReadBack(folder / "Manifest.db");
                unlocked = UnlockAndOpen(folder, rows);
            }
        }
        if (rows != megabytes) {
            std::fprintf(stderr, "the decrypted Manifest.db holds %d rows, not %d\n", rows, megabytes);
            return 1;
        }
        std::printf("round %d: derivation alone %.3f s, unlock and Manifest.db (%d MB) %.3f s, %.3fx\n", round + 1,
                    derived, megabytes, unlocked, unlocked / derived);
        derive.push_back(derived);
        unlock.push_back(unlocked);
        ratios.push_back(unlocked / derived);
    }
    std::printf("median of %d: derivation alone %.3f s, unlock and Manifest.db %.3f s, ratio %.3fx\n", runs,
                Median(derive), Median(unlock), Median(ratios));
    return tree.empty() ? 0 : CompareTrees(tree, folder, runs);
}
