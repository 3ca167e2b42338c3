#include "core/preview/SqlitePreview.h"

#include "core/preview/PreviewText.h"

#include <new>

namespace marrowick {
namespace {

// SQLite calls the progress handler every this many virtual machine steps.
constexpr int StepsPerCall = 1000;
constexpr std::size_t MaxTables = 10000;

// Where the header says how the file is journalled: 2 for WAL, which an in-memory database cannot read.
constexpr std::size_t WriteVersionOffset = 18;
constexpr std::size_t ReadVersionOffset = 19;

int CountStep(void* context) {
    auto* left = static_cast<long*>(context);
    return --*left < 0 ? 1 : 0;
}

Failure OpenFailure(std::string detail) {
    Failure failure = Failure::Because(FailureStep::Open, {}, FailureCause::Library);
    failure.Detail = std::move(detail);
    return failure;
}

std::string QuotedName(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

std::string CellText(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
        return "NULL";
    case SQLITE_BLOB:
        return "<blob " + std::to_string(sqlite3_column_bytes(statement, column)) + " bytes>";
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        const std::string_view whole(text == nullptr ? "" : text,
                                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
        std::string shown = ShownText(whole, SqlitePreview::MaxCellBytes);
        if (shown.size() < whole.size() && whole.size() > SqlitePreview::MaxCellBytes) {
            shown += "\xE2\x80\xA6";
        }
        return shown;
    }
    }
}

} // namespace

Result<SqlitePreview> SqlitePreview::Open(std::string bytes, long maxSteps) {
    if (!std::string_view(bytes).starts_with(SqliteHeader)) {
        return OpenFailure("not an SQLite database");
    }
    SqlitePreview preview;
    preview.bytes_ = std::make_unique<std::string>(std::move(bytes));
    preview.workLeft_ = std::make_unique<WorkLeft>();
    preview.workLeft_->CallsPerQuery = maxSteps / StepsPerCall;
    std::string& data = *preview.bytes_;
    // The copy is private: marking it as rolled back instead of WAL changes nothing a reader sees.
    if (data.size() > ReadVersionOffset && data[WriteVersionOffset] == 2 && data[ReadVersionOffset] == 2) {
        data[WriteVersionOffset] = 1;
        data[ReadVersionOffset] = 1;
    }
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    preview.db_.reset(db);
    if (opened != SQLITE_OK) {
        return OpenFailure(db == nullptr ? "out of memory" : sqlite3_errmsg(db));
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_progress_handler(db, StepsPerCall, &CountStep, &preview.workLeft_->Calls);
    const int loaded = sqlite3_deserialize(db, "main", reinterpret_cast<unsigned char*>(data.data()),
                                           static_cast<sqlite3_int64>(data.size()),
                                           static_cast<sqlite3_int64>(data.size()), SQLITE_DESERIALIZE_READONLY);
    if (loaded != SQLITE_OK) {
        return OpenFailure(sqlite3_errmsg(db));
    }
    if (Result<void> tables = preview.ReadTables(); !tables) {
        Failure failure = tables.Error();
        failure.Step = FailureStep::Open;
        return failure;
    }
    return preview;
}

Failure SqlitePreview::QueryFailure(int code) const {
    if (code == SQLITE_INTERRUPT) {
        return Failure::Because(FailureStep::Query, {}, FailureCause::TooMuchWork);
    }
    if (code == SQLITE_NOMEM) {
        return Failure::Because(FailureStep::Query, {}, FailureCause::OutOfMemory);
    }
    Failure failure = Failure::Because(FailureStep::Query, {}, FailureCause::Library);
    failure.Detail = sqlite3_errmsg(db_.get());
    return failure;
}

Result<void> SqlitePreview::ReadTables() {
    workLeft_->Calls = workLeft_->CallsPerQuery;
    sqlite3_stmt* raw = nullptr;
    int code = sqlite3_prepare_v2(db_.get(),
                                  "SELECT name FROM sqlite_schema WHERE type = 'table' AND "
                                  "coalesce(sql, '') NOT LIKE 'CREATE VIRTUAL TABLE%' ORDER BY name",
                                  -1, &raw, nullptr);
    const SqliteStatement statement(raw);
    if (code != SQLITE_OK) {
        return QueryFailure(code);
    }
    while ((code = sqlite3_step(raw)) == SQLITE_ROW && tables_.size() < MaxTables) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
        tables_.emplace_back(name == nullptr ? "" : name);
    }
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        return QueryFailure(code);
    }
    return {};
}

Result<TableRows> SqlitePreview::FirstRows(const std::string& table, std::size_t maxRows) {
    workLeft_->Calls = workLeft_->CallsPerQuery;
    const std::string sql = "SELECT * FROM " + QuotedName(table) + " LIMIT " + std::to_string(maxRows + 1);
    sqlite3_stmt* raw = nullptr;
    int code = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
    const SqliteStatement statement(raw);
    if (code != SQLITE_OK) {
        return QueryFailure(code);
    }
    try {
        TableRows rows;
        const int columns = sqlite3_column_count(raw);
        for (int column = 0; column < columns; ++column) {
            const char* name = sqlite3_column_name(raw, column);
            rows.Columns.emplace_back(name == nullptr ? "" : name);
        }
        while ((code = sqlite3_step(raw)) == SQLITE_ROW) {
            if (rows.Rows.size() == maxRows) {
                rows.More = true;
                return rows;
            }
            std::vector<std::string>& row = rows.Rows.emplace_back();
            for (int column = 0; column < columns; ++column) {
                row.push_back(CellText(raw, column));
            }
        }
        if (code != SQLITE_DONE) {
            return QueryFailure(code);
        }
        return rows;
    } catch (const std::bad_alloc&) {
        return Failure::Because(FailureStep::Query, {}, FailureCause::OutOfMemory);
    }
}

} // namespace marrowick
