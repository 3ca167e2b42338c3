#pragma once

#include "core/crypto/ManifestDbDecryption.h"
#include "core/platform/Result.h"
#include "core/platform/SqliteHandles.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

namespace marrowick {

// A Manifest.db open read-only in SQLite through a file system of its own that reads the pages from a
// ManifestDbFile: decrypted as SQLite asks for them, so that no copy of the whole database is made, nothing is
// written anywhere, and nothing beside the file is looked for.
class ManifestDbConnection final {
public:
    // Library with SQLite's words when SQLite refuses the file.
    [[nodiscard]] static Result<std::unique_ptr<ManifestDbConnection>> Open(ManifestDbFile file);

    explicit ManifestDbConnection(ManifestDbFile file) : file_(std::move(file)) {}
    ~ManifestDbConnection();
    ManifestDbConnection(const ManifestDbConnection&) = delete;
    ManifestDbConnection& operator=(const ManifestDbConnection&) = delete;

    [[nodiscard]] sqlite3* Db() const { return db_.get(); }
    // The database's length.
    [[nodiscard]] std::uint64_t Size() const { return file_.Length(); }

private:
    ManifestDbFile file_;
    std::string vfsName_;
    sqlite3_vfs vfs_{};
    bool registered_ = false;
    SqliteDatabase db_;
};

} // namespace marrowick
