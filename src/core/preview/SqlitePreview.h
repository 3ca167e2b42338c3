#pragma once

#include "core/platform/Result.h"
#include "core/platform/SqliteHandles.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace marrowick {

// The first rows of a table, each cell as text to show.
struct TableRows {
    std::vector<std::string> Columns;
    std::vector<std::vector<std::string>> Rows;
    bool More = false; // the table holds rows past these
};

// A database file's content opened read-only as a private in-memory database: nothing is read from or written to
// disk, and a "-wal" file beside the stored file is never looked at (so what it alone holds is not shown). Every
// query is bounded in work, so that a hostile database fails with TooMuchWork instead of running for hours. Used by
// one thread at a time.
class SqlitePreview final {
public:
    // A longer text cell is cut (at a character's edge) and ends with "…".
    static constexpr std::size_t MaxCellBytes = 256;

    // Virtual machine steps a query may take: well under a second, far more than a hundred rows or a schema need.
    static constexpr long DefaultMaxSteps = 30'000'000;

    // Opens bytes, which the database keeps. Fails (Open, Library) when they are no SQLite database or its schema
    // does not read; every query, the schema's too, stops after about maxSteps steps.
    [[nodiscard]] static Result<SqlitePreview> Open(std::string bytes, long maxSteps = DefaultMaxSteps);

    // The names of the ordinary tables, sorted by SQLite's byte order.
    [[nodiscard]] const std::vector<std::string>& Tables() const { return tables_; }

    // Up to maxRows rows of one of Tables, in the table's order. A NULL cell is "NULL", a blob "<blob N bytes>".
    // Fails (Query) with Library when SQLite refuses (a damaged page, an unknown table), TooMuchWork past the bound.
    [[nodiscard]] Result<TableRows> FirstRows(const std::string& table, std::size_t maxRows);

private:
    struct WorkLeft {
        long Calls = 0; // of the progress handler, left to the running query
        long CallsPerQuery = 0;
    };
    SqlitePreview() = default;

    [[nodiscard]] Failure QueryFailure(int code) const;
    [[nodiscard]] Result<void> ReadTables();

    // Declared first, so that the database goes before what it reads and what its progress handler counts.
    std::unique_ptr<std::string> bytes_;
    std::unique_ptr<WorkLeft> workLeft_;
    SqliteDatabase db_;
    std::vector<std::string> tables_;
};

} // namespace marrowick
