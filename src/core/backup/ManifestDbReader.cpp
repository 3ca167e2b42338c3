#include "core/backup/ManifestDbReader.h"

#include "core/backup/DomainMapping.h"
#include "core/platform/SqliteHandles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowick {

namespace {

constexpr char ManifestQuery[] = "SELECT fileID, domain, relativePath, flags, file FROM Files";

// A private folder for a copy of the database, removed with its content when the object goes.
class PrivateFolder final {
public:
    PrivateFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/marrowick-db-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern + "/";
        }
    }
    ~PrivateFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    std::string path_;
};

bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

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

std::string ErrorText(sqlite3* db, int rc) {
    return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

bool Open(const std::string& uri, int flags, SqliteDatabase& db, std::string& failure) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, flags, nullptr);
    db.reset(raw);
    if (rc != SQLITE_OK) {
        failure = "Manifest.db: " + ErrorText(raw, rc);
        return false;
    }
    return true;
}

// Copies the database and its side file into folder; SQLite then replays or rolls back the side file there.
bool CopyWithSideFile(const std::string& manifest, const std::string& sideSuffix, const std::string& folder,
                      std::string& failure) {
    for (const std::string& suffix : {std::string(), sideSuffix}) {
        std::error_code error;
        std::filesystem::copy_file(manifest + suffix, folder + "Manifest.db" + suffix, error);
        if (error) {
            failure = "Manifest.db" + suffix + ": " + error.message();
            return false;
        }
    }
    return true;
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
    if (rc != SQLITE_DONE) {
        failure = "Manifest.db: " + ErrorText(db, rc);
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

bool OpenAndReadRows(BackupTree& tree, std::string& failure) {
    const std::string manifest = tree.BackupFolder() + "Manifest.db";
    if (!Exists(manifest)) {
        failure = "Manifest.db: " + std::string(std::strerror(ENOENT));
        return false;
    }
    // Side files hold committed (WAL) or original (rollback journal) pages that an immutable open would ignore.
    std::string sideSuffix;
    for (const char* suffix : {"-wal", "-journal"}) {
        if (Exists(manifest + suffix)) {
            sideSuffix = suffix;
            break;
        }
    }
    if (sideSuffix.empty()) {
        SqliteDatabase db;
        return Open(FileUri(manifest) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, db, failure) &&
               ReadRows(db.get(), tree, failure);
    }
    const PrivateFolder copy;
    if (copy.Path().empty()) {
        failure = "Manifest.db: cannot make a private copy: " + std::string(std::strerror(errno));
        return false;
    }
    if (!CopyWithSideFile(manifest, sideSuffix, copy.Path(), failure)) {
        return false;
    }
    SqliteDatabase db;
    return Open(FileUri(copy.Path() + "Manifest.db"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, db, failure) &&
           ReadRows(db.get(), tree, failure);
}

} // namespace

bool ReadManifestDb(BackupTree& tree, std::string& failure) {
    tree.BeginBulkInsertion();
    const bool read = OpenAndReadRows(tree, failure);
    tree.FinishInsertion();
    return read;
}

} // namespace marrowick
