#pragma once

// The history's tables and how an older database is brought up to date.
// PRAGMA user_version holds the version; 0 is a new, empty database.

#include "history_result.h"

struct sqlite3;

namespace zapfer::history {

// The version this build writes. A database above it is refused untouched.
int currentSchemaVersion();

// The refusal of a database at `version`, above currentSchemaVersion().
HistoryError newerVersionError(int version);

// The version `db` is at, without writing anything.
HistoryResult<int> schemaVersionOf(sqlite3* db);

// Applies the missing steps in order, in one transaction: a failure leaves the
// database as it was. Safe against another process migrating at the same time.
HistoryStatus migrateToCurrent(sqlite3* db);

} // namespace zapfer::history
