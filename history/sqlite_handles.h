#pragma once

// Owning wrappers for SQLite's connection and statement handles, and the
// one place SQLite's result codes become HistoryErrors. Private to history/.

#include "history_result.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zapfer::history {

struct DatabaseCloser {
    void operator()(sqlite3* db) const;
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;

// The error of a failed call on `db`, as text naming `what` was being done.
HistoryError errorOf(sqlite3* db, int code, std::string_view what);

// Runs statements without results (pragmas that answer are fine: the answer is dropped).
HistoryStatus execute(sqlite3* db, const char* sql, std::string_view what);

class Statement {
public:
    static HistoryResult<Statement> prepare(sqlite3* db, std::string_view sql);

    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) noexcept = default;

    // Bind indexes start at 1, as in SQLite.
    void bind(int index, std::int64_t value);
    void bind(int index, std::string_view text);
    // Not copied: `text` must stay as it is until run() or reset(). For the
    // history's writes, which bind a hundred names a transfer.
    void bindBorrowed(int index, std::string_view text);
    void bind(int index, std::optional<std::int64_t> value);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Ready for the next binding; keeps nothing of the last run.
    void reset();
    // One step for statements without rows, then reset(): SQLITE_DONE or an
    // error code (the connection's message still names it).
    int run();

    bool isNull(int column) const;
    std::int64_t int64At(int column) const;
    std::string textAt(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const;
    };
    explicit Statement(sqlite3_stmt* statement) : m_statement(statement) {}

    std::unique_ptr<sqlite3_stmt, Finalizer> m_statement;
};

// BEGIN IMMEDIATE at once, so the write lock is taken (waiting up to the busy
// timeout) before anything is read: a deferred transaction that reads first
// cannot wait for the lock later and would fail with SQLITE_BUSY at once.
// Rolled back when destroyed without commit().
class WriteTransaction {
public:
    static HistoryResult<WriteTransaction> begin(sqlite3* db);
    WriteTransaction(WriteTransaction&& other) noexcept;
    WriteTransaction& operator=(WriteTransaction&&) = delete;
    ~WriteTransaction();

    HistoryStatus commit();

private:
    explicit WriteTransaction(sqlite3* db) : m_db(db) {}
    sqlite3* m_db = nullptr; // not owned; null once committed or rolled back
};

} // namespace zapfer::history
