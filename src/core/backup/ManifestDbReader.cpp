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
#include <optional>
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

constexpr const char* ManifestName = "Manifest.db";

Failure SqliteFailure(FailureStep step, sqlite3* db, int rc) {
    Failure failure = Failure::Because(step, ManifestName, FailureCause::Library);
    failure.Detail = SqliteErrorText(db, rc);
    return failure;
}

Result<void> Open(const std::string& uri, int flags, SqliteDatabase& db) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, flags, nullptr);
    db.reset(raw);
    if (rc != SQLITE_OK) {
        return SqliteFailure(FailureStep::Open, raw, rc);
    }
    return {};
}

Result<void> Execute(sqlite3* db, const char* sql) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        return SqliteFailure(FailureStep::Query, db, rc);
    }
    return {};
}

// Files must be a table whose every column is stored: a view, a virtual table or a column computed as it is read
// could give rows without end or values larger than the file. A missing table is left to the query to report.
Result<void> CheckFilesTable(sqlite3* db) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT type = 'table' AND "
                       "(SELECT count(*) FROM pragma_table_xinfo('Files') WHERE hidden NOT IN (0, 3)) = 0 "
                       "FROM pragma_table_list WHERE schema = 'main' AND name = 'Files' COLLATE NOCASE",
                       -1, &raw, nullptr);
    const SqliteStatement check(raw);
    const int rc = sqlite3_step(check.get());
    if (rc == SQLITE_DONE) {
        return {};
    }
    if (rc != SQLITE_ROW) {
        return SqliteFailure(FailureStep::Query, db, rc);
    }
    if (sqlite3_column_int(check.get(), 0) != 1) {
        return Failure::Because(FailureStep::Check, ManifestName, FailureCause::NotPlainTable);
    }
    return {};
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

Result<void> ReadRows(sqlite3* db, BackupTree& tree) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, ManifestQuery, -1, &raw, nullptr);
    const SqliteStatement query(raw);
    std::string devicePath;
    EntryRecord record;
    const auto text = [&query](int column) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), column));
        return value != nullptr ? std::string_view(value) : std::string_view();
    };
    const auto decodeRecord = [&query, &record] {
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(query.get(), 4));
        const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(query.get(), 4));
        return blob != nullptr && DecodeEntryRecord({blob, bytes}, record) ? &record : nullptr;
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
        tree.QueueInsertion(FileEntry{devicePath, text(0), text(3), decodeRecord()});
    }
    tree.InsertQueued();
    if (rc == SQLITE_INTERRUPT) {
        return Failure::Because(FailureStep::Query, ManifestName, FailureCause::TooMuchWork);
    }
    if (rc != SQLITE_DONE) {
        return SqliteFailure(FailureStep::Query, db, rc);
    }
    return {};
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
    tree.InsertIntoTree(FileEntry{devicePath, text(0), text(3)});
}

namespace {

// The database's real path, so that SQLite can be told to follow no link to it.
std::string RealManifestPath(const std::string& backupFolder) {
    const std::string real = RealPath(backupFolder);
    return real.empty() ? backupFolder + ManifestName : real + "/" + ManifestName;
}

// Opens the manifest of a backup without a side file as it lies: immutable, so that SQLite creates nothing beside it.
Result<void> OpenInPlace(const std::string& backupFolder, SqliteDatabase& db) {
    return Open(FileUri(RealManifestPath(backupFolder)) + "?immutable=1",
                SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, db);
}

// Opens private copies of the manifest and its side file, which SQLite replays there. The copies are named only
// until SQLite has read the side file: from then on it reads them through its descriptors alone.
Result<void> OpenCopy(int manifestFd, const std::string& sideName, int sideFd, SqliteDatabase& db) {
    PrivateCopies copies;
    Result<void> made = copies.Add(ManifestName, manifestFd);
    if (made) {
        made = copies.Add(sideName, sideFd);
    }
    if (made) {
        made = copies.Publish();
    }
    if (!made) {
        return made;
    }
    Result<void> opened = Open(FileUri(copies.Folder() + ManifestName), SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, db);
    if (opened) {
        // Exclusive: SQLite then keeps the side file's index in memory, not in a file beside it.
        opened = Execute(db.get(), "PRAGMA locking_mode=EXCLUSIVE; SELECT count(*) FROM sqlite_master");
    }
    if (opened) {
        sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    return opened; // the copies' names go with them
}

std::uint64_t SizeOf(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

Result<void> OpenAndReadRows(BackupTree& tree) {
    Result<FileDescriptor> folder = OpenFolderHandle(tree.BackupFolder());
    if (!folder) {
        return folder.Error();
    }
    Result<FileDescriptor> manifest = OpenRegularFileAt(folder->Get(), ManifestName);
    if (!manifest) {
        return manifest.Error();
    }
    // Side files hold committed (WAL) or original (rollback journal) pages that an immutable open would ignore.
    std::string sideName;
    for (const char* name : {"Manifest.db-wal", "Manifest.db-journal"}) {
        if (EntryExistsAt(folder->Get(), name)) {
            sideName = name;
            break;
        }
    }
    std::optional<Result<FileDescriptor>> side;
    if (!sideName.empty()) {
        side = OpenRegularFileAt(folder->Get(), sideName);
        if (!*side) {
            return side->Error();
        }
    }
    SqliteDatabase db;
    Result<void> opened =
        side ? OpenCopy(manifest->Get(), sideName, (*side)->Get(), db) : OpenInPlace(tree.BackupFolder(), db);
    if (!opened) {
        return opened;
    }
    std::uint64_t steps = 0;
    LimitWork(db.get(), SizeOf(manifest->Get()) + (side ? SizeOf((*side)->Get()) : 0), steps);
    if (Result<void> checked = CheckFilesTable(db.get()); !checked) {
        return checked;
    }
    return ReadRows(db.get(), tree);
}

} // namespace

Result<void> ReadManifestDb(BackupTree& tree) {
    tree.BeginBulkInsertion();
    Result<void> read = OpenAndReadRows(tree);
    tree.FinishInsertion();
    return read;
}

Result<void> ReadOpenManifestDb(sqlite3* db, std::uint64_t bytes, BackupTree& tree) {
    tree.BeginBulkInsertion();
    std::uint64_t steps = 0;
    LimitWork(db, bytes, steps);
    Result<void> read = CheckFilesTable(db);
    if (read) {
        read = ReadRows(db, tree);
    }
    tree.FinishInsertion();
    return read;
}

} // namespace marrowick
