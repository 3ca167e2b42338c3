#include "core/backup/ManifestDbReader.h"

#include "core/backup/DomainMapping.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Files.h"
#include "core/platform/PrivateCopies.h"
#include "core/platform/SqliteHandles.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace marrowick {

namespace {

constexpr char ManifestQuery[] = "SELECT fileID, domain, relativePath, flags, file FROM Files";

// A file: URI naming path, with every byte but the unreserved ones and "/" percent-encoded.
std::string FileUri(const std::string& path) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string uri = path.starts_with('/') ? "file://" : "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(Hex[byte >> 4]);
            uri.push_back(Hex[byte & 0xF]);
        }
    }
    return uri;
}

std::string SqliteErrorText(sqlite3* db, int rc) {
    return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

bool Open(const std::string& uri, int flags, SqliteDatabase& db, std::string& failure) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, flags, nullptr);
    db.reset(raw);
    if (rc != SQLITE_OK) {
        failure = "Manifest.db: " + SqliteErrorText(raw, rc);
        return false;
    }
    return true;
}

bool Execute(sqlite3* db, const char* sql, std::string& failure) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        failure = "Manifest.db: " + SqliteErrorText(db, rc);
        return false;
    }
    return true;
}

// Files must be a table whose every column is stored: a view, a virtual table or a column computed as it is read
// could give rows without end or values larger than the file. A missing table is left to the query to report.
bool CheckFilesTable(sqlite3* db, std::string& failure) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT type = 'table' AND "
                       "(SELECT count(*) FROM pragma_table_xinfo('Files') WHERE hidden NOT IN (0, 3)) = 0 "
                       "FROM pragma_table_list WHERE schema = 'main' AND name = 'Files' COLLATE NOCASE",
                       -1, &raw, nullptr);
    const SqliteStatement check(raw);
    const int rc = sqlite3_step(check.get());
    if (rc == SQLITE_DONE) {
        return true;
    }
    if (rc != SQLITE_ROW) {
        failure = "Manifest.db: " + SqliteErrorText(db, rc);
        return false;
    }
    if (sqlite3_column_int(check.get(), 0) != 1) {
        failure = "Manifest.db: the file list is not a plain table, so it is not read.";
        return false;
    }
    return true;
}

// Reading a table takes a few steps per stored byte; a database that asks for far more is not a backup's
// manifest, and SQLite is stopped.
constexpr std::uint64_t StepsPerByte = 16;
constexpr std::uint64_t BaseSteps = 10'000'000;
constexpr int StepsPerCheck = 1000;

int CountSteps(void* left) {
    auto& steps = *static_cast<std::uint64_t*>(left);
    if (steps < StepsPerCheck) {
        return 1;
    }
    steps -= StepsPerCheck;
    return 0;
}

// Bounds what SQLite may do by the size of the files it reads.
void LimitWork(sqlite3* db, std::uint64_t bytes, std::uint64_t& steps) {
    steps = BaseSteps + StepsPerByte * bytes;
    sqlite3_progress_handler(db, StepsPerCheck, &CountSteps, &steps);
    const std::uint64_t longest = std::min<std::uint64_t>(bytes, 1'000'000'000);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, static_cast<int>(std::max<std::uint64_t>(longest, 1'000'000)));
}

bool ReadRows(sqlite3* db, BackupTree& tree, std::string& failure) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, ManifestQuery, -1, &raw, nullptr);
    const SqliteStatement query(raw);
    std::string devicePath;
    const auto text = [&query](int column) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), column));
        return value != nullptr ? std::string_view(value) : std::string_view();
    };
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(query.get());
        if (rc != SQLITE_ROW) {
            break;
        }
        // The same as ManifestDbRow, queued so that the tree fetches its memory while earlier rows are
        // inserted.
        const std::string_view domain = text(1);
        if (domain.empty()) {
            continue;
        }
        DomainToDevicePath(domain, text(2), devicePath);
        tree.QueueInsertion(FileEntry{devicePath, text(0), text(3), 0, 0});
    }
    tree.InsertQueued();
    if (rc == SQLITE_INTERRUPT) {
        failure = "Manifest.db: reading stopped, as the file list asks for far more work than its size allows.";
        return false;
    }
    if (rc != SQLITE_DONE) {
        failure = "Manifest.db: " + SqliteErrorText(db, rc);
        return false;
    }
    return true;
}

} // namespace

void ManifestDbRow(BackupTree& tree, const std::array<const char*, 5>& columns) {
    const auto text = [&columns](int column) {
        return columns[column] != nullptr ? std::string_view(columns[column]) : std::string_view();
    };
    const std::string_view domain = text(1);
    if (domain.empty()) {
        return;
    }
    thread_local std::string devicePath;
    DomainToDevicePath(domain, text(2), devicePath);
    tree.InsertIntoTree(FileEntry{devicePath, text(0), text(3), 0, 0});
}

namespace {

std::string FileFailure(const std::string& name, int error) {
    return name + ": " + FileOpenProblem(error);
}

// The database's real path, so that SQLite can be told to follow no link to it.
std::string RealManifestPath(const std::string& backupFolder) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(backupFolder.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) + "/Manifest.db" : backupFolder + "Manifest.db";
}

// Opens the manifest of a backup without a side file as it lies: immutable, so that SQLite creates nothing beside it.
bool OpenInPlace(const std::string& backupFolder, SqliteDatabase& db, std::string& failure) {
    return Open(FileUri(RealManifestPath(backupFolder)) + "?immutable=1",
                SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, db, failure);
}

// Opens private copies of the manifest and its side file, which SQLite replays there. The copies are named only
// until SQLite has read the side file: from then on it reads them through its descriptors alone.
bool OpenCopy(int manifestFd, const std::string& sideName, int sideFd, PrivateCopies& copies, SqliteDatabase& db,
              std::string& failure) {
    int error = copies.Add("Manifest.db", manifestFd);
    if (error == 0) {
        error = copies.Add(sideName, sideFd);
    }
    if (error == 0) {
        error = copies.Publish();
    }
    if (error != 0) {
        failure = "Manifest.db: cannot make a private copy: " + ErrorText(error);
        return false;
    }
    const bool opened =
        Open(FileUri(copies.Folder() + "Manifest.db"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, db, failure) &&
        // Exclusive: SQLite then keeps the side file's index in memory, not in a file beside it.
        Execute(db.get(), "PRAGMA locking_mode=EXCLUSIVE; SELECT count(*) FROM sqlite_master", failure);
    if (opened) {
        sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    copies.Withdraw();
    return opened;
}

std::uint64_t SizeOf(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

bool OpenAndReadRows(BackupTree& tree, std::string& failure) {
    int error = 0;
    const FileDescriptor folder = OpenFolderHandle(tree.BackupFolder(), &error);
    const FileDescriptor manifest =
        folder.IsOpen() ? OpenRegularFileAt(folder.Get(), "Manifest.db", &error) : FileDescriptor();
    if (!manifest.IsOpen()) {
        failure = FileFailure("Manifest.db", error);
        return false;
    }
    // Side files hold committed (WAL) or original (rollback journal) pages that an immutable open would ignore.
    std::string sideName;
    for (const char* name : {"Manifest.db-wal", "Manifest.db-journal"}) {
        if (EntryExistsAt(folder.Get(), name)) {
            sideName = name;
            break;
        }
    }
    const FileDescriptor side = sideName.empty() ? FileDescriptor() : OpenRegularFileAt(folder.Get(), sideName, &error);
    if (!sideName.empty() && !side.IsOpen()) {
        failure = FileFailure(sideName, error);
        return false;
    }
    SqliteDatabase db;
    PrivateCopies copies;
    const bool opened = side.IsOpen() ? OpenCopy(manifest.Get(), sideName, side.Get(), copies, db, failure)
                                      : OpenInPlace(tree.BackupFolder(), db, failure);
    std::uint64_t steps = 0;
    if (opened) {
        LimitWork(db.get(), SizeOf(manifest.Get()) + (side.IsOpen() ? SizeOf(side.Get()) : 0), steps);
    }
    return opened && CheckFilesTable(db.get(), failure) && ReadRows(db.get(), tree, failure);
}

} // namespace

bool ReadManifestDb(BackupTree& tree, std::string& failure) {
    tree.BeginBulkInsertion();
    const bool read = OpenAndReadRows(tree, failure);
    tree.FinishInsertion();
    return read;
}

} // namespace marrowick
