#pragma once

#include <sqlite3.h>

#include <memory>
#include <string_view>

namespace marrowick {

// Owners of SQLite handles, so that no early return leaves a database open or a statement unfinalized.
struct SqliteDatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct SqliteStatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteDatabase = std::unique_ptr<sqlite3, SqliteDatabaseCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;

// The first 16 bytes of every SQLite database file.
inline constexpr std::string_view SqliteHeader{"SQLite format 3\0", 16};

} // namespace marrowick
