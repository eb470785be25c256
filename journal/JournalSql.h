#pragma once
// What the journal's sources share about their SQL: the prepared statement and how a row's key
// holds its search. Only journal/ includes it.

#include <sqlite3.h>

#include <cstdint>
#include <string_view>

#include "text/Text.h"

namespace velmora::journal_sql {

// A row's key is its search's id times this, plus its 1-based place in the search. A search's
// rows are then one range of keys in their order, and a new row goes at the end of its range:
// no index to keep up, and the cheapest page splits (a third less written per row than a
// two-column key). A search holds fewer rows than this; ids stay far below 2^31.
// SQL reads a row key's search as key >> 32.
constexpr std::int64_t kKeysPerSearch = std::int64_t{1} << 32;

// One prepared statement, finalized when it goes. A statement that failed to prepare fails
// every step with the preparation's code.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
        : code_(sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr)) {}
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& Bind(int index, const char* text) {
        sqlite3_bind_text(stmt_, index, text, -1, SQLITE_STATIC);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or the error.
    int Step() { return code_ != SQLITE_OK ? code_ : sqlite3_step(stmt_); }

    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string_view String(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text
                   ? std::string_view(reinterpret_cast<const char*>(text),
                                      static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                   : std::string_view();
    }
    Text Bytes(int column) const {
        const void* bytes = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return bytes ? Text(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                     : Text();
    }
    sqlite3_stmt* get() { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int code_;
};

}  // namespace velmora::journal_sql
