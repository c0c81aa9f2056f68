#include "sqlite_handles.h"

#include <utility>

namespace zapfer::history {

void DatabaseCloser::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

HistoryError errorOf(sqlite3* db, int code, std::string_view what) {
    HistoryError error;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        error.kind = HistoryError::Kind::Busy;
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        error.kind = HistoryError::Kind::Corrupt;
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_FULL:
    case SQLITE_PERM:
        error.kind = HistoryError::Kind::Io;
        break;
    default:
        error.kind = HistoryError::Kind::Other;
        break;
    }
    // The connection's message is only about this call when it holds this code.
    const char* message = db != nullptr && sqlite3_extended_errcode(db) == code
                              ? sqlite3_errmsg(db)
                              : sqlite3_errstr(code);
    error.text = std::string(what) + ": " + message;
    return error;
}

HistoryStatus execute(sqlite3* db, const char* sql, std::string_view what) {
    char* message = nullptr;
    const int code = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    sqlite3_free(message); // errmsg of the connection says the same
    if (code != SQLITE_OK)
        return errorOf(db, code, what);
    return std::monostate{};
}

void Statement::Finalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

HistoryResult<Statement> Statement::prepare(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    const int code =
        sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), 0, &raw, nullptr);
    Statement statement(raw); // owns it even on failure
    if (code != SQLITE_OK)
        return errorOf(db, code, "preparing a query");
    return statement;
}

void Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_statement.get(), index, value);
}

void Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text64(m_statement.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                        SQLITE_UTF8);
}

void Statement::bindBorrowed(int index, std::string_view text) {
    sqlite3_bind_text64(m_statement.get(), index, text.data(), text.size(), SQLITE_STATIC,
                        SQLITE_UTF8);
}

void Statement::bind(int index, std::optional<std::int64_t> value) {
    if (value)
        bind(index, *value);
    else
        sqlite3_bind_null(m_statement.get(), index);
}

int Statement::step() {
    return sqlite3_step(m_statement.get());
}

void Statement::reset() {
    sqlite3_reset(m_statement.get());
    sqlite3_clear_bindings(m_statement.get());
}

int Statement::run() {
    const int code = step();
    reset();
    return code;
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL;
}

std::int64_t Statement::int64At(int column) const {
    return sqlite3_column_int64(m_statement.get(), column);
}

std::string Statement::textAt(int column) const {
    const auto* text = sqlite3_column_text(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    if (text == nullptr)
        return {};
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

HistoryResult<WriteTransaction> WriteTransaction::begin(sqlite3* db) {
    auto begun = execute(db, "BEGIN IMMEDIATE", "starting a write");
    if (!begun)
        return begun.error();
    return WriteTransaction(db);
}

WriteTransaction::WriteTransaction(WriteTransaction&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)) {}

WriteTransaction::~WriteTransaction() {
    if (m_db != nullptr)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

HistoryStatus WriteTransaction::commit() {
    auto committed = execute(m_db, "COMMIT", "saving to the history");
    if (!committed)
        return committed; // the destructor rolls back what is left
    m_db = nullptr;
    return committed;
}

} // namespace zapfer::history
