#include "history_schema.h"

#include "sqlite_handles.h"

#include <iterator>
#include <string>

namespace zapfer::history {
namespace {

// Step i takes a database from version i to version i + 1. Steps are never
// edited once released: a change is a new step at the end.
const char* const kMigrations[] = {
    // 1: transfers and their files.
    R"sql(
    CREATE TABLE transfers (
        id INTEGER PRIMARY KEY,
        started_ms INTEGER NOT NULL,
        ended_ms INTEGER NOT NULL,
        direction TEXT NOT NULL,
        link TEXT NOT NULL,
        peer TEXT NOT NULL,
        peer_name TEXT NOT NULL,
        outcome TEXT NOT NULL,
        refusal_code INTEGER,
        bytes INTEGER NOT NULL,
        duration_ms INTEGER NOT NULL
    );
    CREATE TABLE files (
        id INTEGER PRIMARY KEY,
        transfer_id INTEGER NOT NULL REFERENCES transfers(id) ON DELETE CASCADE,
        position INTEGER NOT NULL,
        name_sent TEXT NOT NULL,
        name_stored TEXT NOT NULL,
        size INTEGER NOT NULL,
        bytes_done INTEGER NOT NULL,
        result TEXT NOT NULL
    );
    CREATE INDEX files_of_transfer ON files(transfer_id, position);
    )sql",
    // 2: the whole-file CRC-32, and why a transfer failed.
    R"sql(
    ALTER TABLE files ADD COLUMN crc32 INTEGER;
    ALTER TABLE transfers ADD COLUMN detail TEXT NOT NULL DEFAULT '';
    )sql",
};

constexpr int kCurrentVersion = static_cast<int>(std::size(kMigrations));

} // namespace

int currentSchemaVersion() {
    return kCurrentVersion;
}

HistoryError newerVersionError(int version) {
    return {HistoryError::Kind::NewerVersion,
            "written by a newer Zapfer (schema version " + std::to_string(version) +
                ", this one knows up to " + std::to_string(kCurrentVersion) +
                "); it is left as it is"};
}

HistoryResult<int> schemaVersionOf(sqlite3* db) {
    auto statement = Statement::prepare(db, "PRAGMA user_version");
    if (!statement)
        return statement.error();
    const int code = statement.value().step();
    if (code != SQLITE_ROW)
        return errorOf(db, code, "reading the history's version");
    return static_cast<int>(statement.value().int64At(0));
}

HistoryStatus migrateToCurrent(sqlite3* db) {
    // Most opens find the database current: no write lock for them.
    auto version = schemaVersionOf(db);
    if (!version)
        return version.error();
    if (version.value() > kCurrentVersion)
        return newerVersionError(version.value());
    if (version.value() == kCurrentVersion)
        return std::monostate{};

    auto transaction = WriteTransaction::begin(db);
    if (!transaction)
        return transaction.error();
    // Another process may have migrated between the look and the lock.
    version = schemaVersionOf(db);
    if (!version)
        return version.error();
    if (version.value() > kCurrentVersion)
        return newerVersionError(version.value());
    for (int step = version.value(); step < kCurrentVersion; ++step) {
        auto applied = execute(db, kMigrations[step],
                               "updating the history to version " + std::to_string(step + 1));
        if (!applied)
            return applied;
    }
    // PRAGMA takes no bound parameters; the number is ours.
    const std::string setVersion = "PRAGMA user_version = " + std::to_string(kCurrentVersion);
    auto set = execute(db, setVersion.c_str(), "updating the history's version");
    if (!set)
        return set;
    return transaction.value().commit();
}

} // namespace zapfer::history
