#include "wal_upkeep.h"

#include "sqlite_handles.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace zapfer::history {

bool isInWalMode(const std::string& path) {
    // The header's magic, then its write and read versions at 18 and 19: 2
    // for a database with a write-ahead log.
    static constexpr char kMagic[] = "SQLite format 3";
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    unsigned char header[20] = {};
    if (!fd || ::pread(fd.get(), header, sizeof header, 0) != ssize_t(sizeof header))
        return false;
    return std::memcmp(header, kMagic, sizeof kMagic) == 0 && header[18] == 2 && header[19] == 2;
}

void keepLogAtClose(sqlite3* db) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

bool foldLogIfLarge(sqlite3* db, const std::string& path, std::int64_t limitBytes) {
    struct stat log {};
    if (::stat((path + "-wal").c_str(), &log) != 0 || log.st_size <= limitBytes)
        return false;
    // Truncated, not only copied: the log's size is what the next open looks
    // at, and a log left at its old length would be folded again at each one.
    // No wait for a writer or reader of another process: this open's own
    // transfer must not stand behind it.
    sqlite3_busy_handler(db, nullptr, nullptr);
    return sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) ==
           SQLITE_OK;
}

void startNextLog(sqlite3* db, int schemaVersion) {
    auto transaction = WriteTransaction::begin(db);
    if (!transaction)
        return;
    // PRAGMA takes no bound parameters; the number is ours.
    const std::string rewrite = "PRAGMA user_version = " + std::to_string(schemaVersion);
    if (execute(db, rewrite.c_str(), "starting the log"))
        transaction.value().commit();
}

} // namespace zapfer::history
