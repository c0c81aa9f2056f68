#pragma once

// When the history's write-ahead log is folded back into the database.
// Private to history/.
//
// Not at each close: the last connection to close would copy the log into
// the database and delete it, with a sync of each, and the next write would
// then start a new log with a sync of its header. Every zapfer-cli run is
// such a last connection, and those syncs fell on the end of its transfer.
// Instead the log is kept across runs and folded in by an open that finds it
// grown past kFoldLogBytes; an open runs while the transfer does. A log left
// by a process that was killed, or by one that simply ended, is read back by
// the next open as usual.

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace zapfer::history {

// Small enough that the next open that is alone with the database, which
// reads the whole log to rebuild its index, does little; large enough that
// the syncs of folding it in come once in many transfers.
constexpr std::int64_t kFoldLogBytes = 128 * 1024;

// Whether the database at `path` says in its header that it keeps a
// write-ahead log: then every connection to it does, and switching it to one
// again (a statement to parse at each open) can be skipped. False when it
// cannot be read or is not there yet.
bool isInWalMode(const std::string& path);

// For every connection of the store, before its first write.
void keepLogAtClose(sqlite3* db);

// Folds the log of the database at `path` into it and empties it when it
// has grown past `limitBytes`; true when it did. Best effort, without
// waiting: a log another connection is using is left for a later open, and a
// failure here shows again at the next write. Leaves `db` without a busy
// handler: the caller sets its own again.
bool foldLogIfLarge(sqlite3* db, const std::string& path, std::int64_t limitBytes = kFoldLogBytes);

// After a fold: starts the next log with one write, page 1 rewritten as it
// is (`schemaVersion` being the database's own). A log's first write syncs
// the log's header; this one runs in the open, while the transfer does, and
// not in the transfer's own write at its end. Best effort: that write starts
// the log itself when this could not.
void startNextLog(sqlite3* db, int schemaVersion);

} // namespace zapfer::history
