#pragma once

// A temporary folder per test and a raw look into a history database, for
// checks the store's own API must not be trusted with.

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zapfer::history::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zapfer-history-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Runs one query on its own connection and gives the first column of the first
// row as text ("" when there is no row, "error: ..." when it fails).
inline std::string queryText(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string answer;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        answer = std::string("error: ") + sqlite3_errmsg(db);
        sqlite3_close_v2(db);
        return answer;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        answer = std::string("error: ") + sqlite3_errmsg(db);
    } else {
        const int code = sqlite3_step(statement);
        if (code == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr)
            answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        else if (code != SQLITE_ROW && code != SQLITE_DONE)
            answer = std::string("error: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    sqlite3_close_v2(db);
    return answer;
}

// Runs a script of statements; "" when it went through, the error otherwise.
inline std::string executeScript(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string error;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = sqlite3_errmsg(db);
    } else if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
    }
    sqlite3_close_v2(db);
    return error;
}

} // namespace zapfer::history::test
