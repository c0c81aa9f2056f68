#include "wal_upkeep.h"

#include <sys/stat.h>

namespace zapfer::history {

void keepLogAtClose(sqlite3* db) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

void foldLogIfLarge(sqlite3* db, const std::string& path, std::int64_t limitBytes) {
    struct stat log {};
    if (::stat((path + "-wal").c_str(), &log) != 0 || log.st_size <= limitBytes)
        return;
    // Truncated, not only copied: the log's size is what the next open looks
    // at, and a log left at its old length would be folded again at each one.
    // No wait for a writer or reader of another process: this open's own
    // transfer must not stand behind it.
    sqlite3_busy_handler(db, nullptr, nullptr);
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

} // namespace zapfer::history
