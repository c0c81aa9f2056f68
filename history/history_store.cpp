#include "history_store.h"

#include "busy_wait.h"
#include "history_path.h"
#include "history_schema.h"
#include "sqlite_handles.h"
#include "wal_upkeep.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <unistd.h>

namespace zapfer::history {

// Statements are declared after the database: they are finalized first.
struct HistoryStore::Connection {
    BusyWait busy; // the database's busy handler: outlives it
    DatabaseHandle db;
    std::optional<Statement> insertTransfer;
    // Each of these is prepared on its first use: a process that never
    // needs it does not parse it.
    std::optional<Statement> insertFile;
    std::optional<Statement> oldest;     // once the ids pass the limit
    std::optional<Statement> pruneFiles; // when a history first fills up
    std::optional<Statement> prune;
    // kFilesPerInsert files at once, for a transfer that has as many.
    std::optional<Statement> insertFiles;
};

namespace {

HistoryError inFile(HistoryError error, const std::string& path) {
    error.text = "history database " + path + ": " + error.text;
    return error;
}

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// Renames a corrupt database and its journal out of the way, keeping them
// for whoever wants to look; the shared-memory index is only a cache.
HistoryResult<std::string> moveAside(const std::string& path) {
    const std::string aside = path + ".corrupt-" + utcStamp();
    if (std::rename(path.c_str(), aside.c_str()) != 0)
        return HistoryError{HistoryError::Kind::Io,
                            "history database " + path +
                                " is damaged and cannot be moved aside: " + std::strerror(errno)};
    std::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
    return aside;
}

constexpr const char* kInsertTransfer =
    "INSERT INTO transfers (started_ms, ended_ms, direction, link, peer, peer_name, outcome,"
    " refusal_code, detail, bytes, duration_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10,"
    " ?11)";
constexpr const char* kInsertFile =
    "INSERT INTO files (transfer_id, position, name_sent, name_stored, size, bytes_done, result,"
    " crc32) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
// A statement per file costs several times the file's own row: a transfer
// of many small files is written this many files to a statement. More would
// cost more to prepare, once in each process, than they save.
constexpr int kFilesPerInsert = 10;
constexpr int kFileColumns = 8;

std::string insertFilesSql(int rows) {
    std::string sql = "INSERT INTO files (transfer_id, position, name_sent, name_stored, size,"
                      " bytes_done, result, crc32) VALUES ";
    for (int row = 0; row < rows; ++row)
        sql += row == 0 ? "(?, ?, ?, ?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?, ?, ?, ?)";
    return sql;
}

// Binds one file's row into the parameters after `before`.
void bindFile(Statement& statement, int before, std::int64_t transferId, std::int64_t position,
              const FileRecord& file) {
    statement.bind(before + 1, transferId);
    statement.bind(before + 2, position);
    statement.bindBorrowed(before + 3, std::string_view(file.nameSent));
    statement.bindBorrowed(before + 4, std::string_view(file.nameStored));
    statement.bind(before + 5, static_cast<std::int64_t>(file.size));
    statement.bind(before + 6, static_cast<std::int64_t>(file.bytesDone));
    statement.bindBorrowed(before + 7, toText(file.result));
    statement.bind(before + 8,
                   file.crc32 ? std::optional<std::int64_t>(*file.crc32) : std::nullopt);
}

// The newest id less this, plus one, is at least the number of transfers
// (ids are distinct): one index lookup instead of a count. Zapfer never
// chooses an id, so they start at 1 and a history whose newest id is within
// the limit needs not even that.
constexpr const char* kOldest = "SELECT min(id) FROM transfers";
// Keeps the newest ?1 transfers, their files first. Not by the foreign key's
// cascade: enforcing it costs a lookup of the transfer at every file written,
// for the sake of a prune that comes once in a hundred writes of a full
// history. Each walks the newest ?1 ids, some milliseconds for a full
// history: run only when kOldest says there may be more, and then down to a
// little under the limit, so that a full history is not walked again at the
// next write.
constexpr const char* kPruneFiles =
    "DELETE FROM files WHERE transfer_id <= (SELECT id FROM transfers ORDER BY id DESC LIMIT 1"
    " OFFSET ?1)";
constexpr const char* kPrune =
    "DELETE FROM transfers WHERE id <= (SELECT id FROM transfers ORDER BY id DESC LIMIT 1"
    " OFFSET ?1)";

// The statement kept in `slot`, prepared there on its first use: one a
// process may never need is not prepared at every open.
HistoryResult<Statement*> preparedIn(std::optional<Statement>& slot, sqlite3* db,
                                     std::string_view sql) {
    if (!slot) {
        auto prepared = Statement::prepare(db, sql);
        if (!prepared)
            return prepared.error();
        slot.emplace(std::move(prepared.value()));
    }
    return &*slot;
}

HistoryError unknownValue(std::string_view what, const std::string& text) {
    return {HistoryError::Kind::Corrupt,
            "the history holds an unknown " + std::string(what) + " '" + text + "'"};
}

} // namespace

HistoryStore::HistoryStore(std::unique_ptr<Connection> connection, std::string path,
                           HistoryOptions options)
    : m_connection(std::move(connection)), m_path(std::move(path)), m_options(options) {}

HistoryStore::HistoryStore(HistoryStore&&) noexcept = default;
HistoryStore& HistoryStore::operator=(HistoryStore&&) noexcept = default;
HistoryStore::~HistoryStore() = default;

HistoryResult<HistoryStore> HistoryStore::openDefault(HistoryOptions options) {
    const std::string path = defaultHistoryPath();
    if (path.empty())
        return HistoryError{HistoryError::Kind::Io,
                            "no place for the history: neither XDG_DATA_HOME nor a home folder"};
    return open(path, options);
}

HistoryResult<HistoryStore> HistoryStore::open(const std::string& path, HistoryOptions options) {
    if (auto folders = makeParentFolders(path); !folders)
        return inFile(folders.error(), path);
    auto opened = openOnce(path, options);
    if (opened || opened.error().kind != HistoryError::Kind::Corrupt)
        return opened;
    auto aside = moveAside(path);
    if (!aside)
        return aside.error();
    auto fresh = openOnce(path, options);
    if (fresh)
        fresh.value().m_notice = "the history database " + path + " was damaged; it was moved " +
                                 "aside as " + aside.value() + " and a new one started";
    return fresh;
}

namespace {
// Two programs that open a new history at once: the switch to WAL needs the
// database to itself and fails at once, without the busy handler's wait,
// while the other holds it. Tried again until the busy time-out.
HistoryStatus executeWaiting(sqlite3* db, const char* sql, std::string_view what, int timeoutMs) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        auto done = execute(db, sql, what);
        if (done || done.error().kind != HistoryError::Kind::Busy ||
            std::chrono::steady_clock::now() >= deadline)
            return done;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
} // namespace

HistoryResult<HistoryStore> HistoryStore::openOnce(const std::string& path,
                                                   HistoryOptions options) {
    auto connection = std::make_unique<Connection>();
    sqlite3* raw = nullptr;
    // No mutex of the connection's own: a store is used from one thread at a
    // time, and each write would otherwise take it a few hundred times.
    const int code =
        sqlite3_open_v2(path.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    connection->db.reset(raw); // owned even when the open failed
    sqlite3* db = raw;
    if (code != SQLITE_OK)
        return inFile(errorOf(db, code, "opening"), path);
    sqlite3_extended_result_codes(db, 1);
    connection->busy.install(db, options.busyTimeoutMs);

    // Look before any pragma writes: switching to WAL rewrites the header of
    // a database that may belong to a newer Zapfer.
    auto version = schemaVersionOf(db);
    if (!version)
        return inFile(version.error(), path);
    if (version.value() > currentSchemaVersion())
        return inFile(newerVersionError(version.value()), path);

    // NORMAL is safe in WAL mode against a crashed process; a power cut may
    // lose the last transfers, not the database. Foreign keys stay off: the
    // prune removes the files of the transfers it removes (kPruneFiles).
    // The journal mode lives in the file: only a new or an old-style
    // database needs switching, each open of it would parse the statement.
    const char* const walMode = isInWalMode(path) ? nullptr : "PRAGMA journal_mode = WAL";
    for (const char* pragma : {walMode, "PRAGMA synchronous = NORMAL"}) {
        if (pragma == nullptr)
            continue;
        if (auto set = executeWaiting(db, pragma, "setting up", options.busyTimeoutMs); !set)
            return inFile(set.error(), path);
    }
    if (auto migrated = migrateToCurrent(db); !migrated)
        return inFile(migrated.error(), path);
    keepLogAtClose(db);
    const bool folded = foldLogIfLarge(db, path);
    connection->busy.install(db, options.busyTimeoutMs);
    if (folded)
        startNextLog(db, currentSchemaVersion());

    // Ready for the first write, which then has only its own rows to do.
    auto prepared = Statement::prepare(db, kInsertTransfer);
    if (!prepared)
        return inFile(prepared.error(), path);
    connection->insertTransfer.emplace(std::move(prepared.value()));
    return HistoryStore(std::move(connection), path, options);
}

HistoryStatus HistoryStore::prepareFileWrites(std::size_t fileCount) {
    sqlite3* db = m_connection->db.get();
    // Each only when the write will use it: parsing the one for many files
    // costs more than a few files' rows.
    if (fileCount >= kFilesPerInsert && !m_connection->insertFiles) {
        auto prepared = preparedIn(m_connection->insertFiles, db, insertFilesSql(kFilesPerInsert));
        if (!prepared)
            return inFile(prepared.error(), m_path);
    }
    if (fileCount % kFilesPerInsert != 0) {
        auto prepared = preparedIn(m_connection->insertFile, db, kInsertFile);
        if (!prepared)
            return inFile(prepared.error(), m_path);
    }
    return std::monostate{};
}

HistoryResult<std::int64_t> HistoryStore::recordTransfer(const TransferRecord& transfer,
                                                         const std::vector<FileRecord>& files) {
    sqlite3* db = m_connection->db.get();
    auto transaction = WriteTransaction::begin(db);
    if (!transaction)
        return inFile(transaction.error(), m_path);

    Statement& insertTransfer = *m_connection->insertTransfer;
    insertTransfer.bind(1, transfer.startedMs);
    insertTransfer.bind(2, transfer.endedMs);
    insertTransfer.bindBorrowed(3, toText(transfer.direction));
    insertTransfer.bindBorrowed(4, std::string_view(transfer.link));
    insertTransfer.bindBorrowed(5, std::string_view(transfer.peer));
    insertTransfer.bindBorrowed(6, std::string_view(transfer.peerName));
    insertTransfer.bindBorrowed(7, toText(transfer.outcome));
    insertTransfer.bind(8, transfer.refusalCode ? std::optional<std::int64_t>(*transfer.refusalCode)
                                                : std::nullopt);
    insertTransfer.bindBorrowed(9, std::string_view(transfer.detail));
    insertTransfer.bind(10, static_cast<std::int64_t>(transfer.bytes));
    insertTransfer.bind(11, transfer.durationMs);
    if (const int code = insertTransfer.run(); code != SQLITE_DONE)
        return inFile(errorOf(db, code, "recording a transfer"), m_path);
    const std::int64_t id = sqlite3_last_insert_rowid(db);

    std::size_t next = 0;
    if (files.size() >= kFilesPerInsert && !m_connection->insertFiles) {
        auto prepared = preparedIn(m_connection->insertFiles, db, insertFilesSql(kFilesPerInsert));
        if (!prepared)
            return inFile(prepared.error(), m_path);
    }
    for (; files.size() - next >= kFilesPerInsert; next += kFilesPerInsert) {
        Statement& insertFiles = *m_connection->insertFiles;
        for (int row = 0; row < kFilesPerInsert; ++row)
            bindFile(insertFiles, row * kFileColumns, id, std::int64_t(next) + row,
                     files[next + std::size_t(row)]);
        if (const int code = insertFiles.run(); code != SQLITE_DONE)
            return inFile(errorOf(db, code, "recording files"), m_path);
    }
    if (next < files.size()) {
        auto prepared = preparedIn(m_connection->insertFile, db, kInsertFile);
        if (!prepared)
            return inFile(prepared.error(), m_path);
    }
    for (; next < files.size(); ++next) {
        Statement& insertFile = *m_connection->insertFile;
        bindFile(insertFile, 0, id, std::int64_t(next), files[next]);
        if (const int code = insertFile.run(); code != SQLITE_DONE)
            return inFile(errorOf(db, code, "recording a file"), m_path);
    }

    if (m_options.maxTransfers > 0 && id > m_options.maxTransfers) {
        auto oldestStatement = preparedIn(m_connection->oldest, db, kOldest);
        if (!oldestStatement)
            return inFile(oldestStatement.error(), m_path);
        Statement& oldest = *oldestStatement.value();
        if (const int code = oldest.step(); code != SQLITE_ROW) {
            HistoryError error = errorOf(db, code, "counting the transfers");
            oldest.reset();
            return inFile(std::move(error), m_path);
        }
        const std::int64_t atMost = id - oldest.int64At(0) + 1;
        oldest.reset();
        if (atMost > m_options.maxTransfers) {
            const int kept = m_options.maxTransfers - m_options.maxTransfers / 100;
            for (auto [slot, sql] : {std::pair{&m_connection->pruneFiles, kPruneFiles},
                                     std::pair{&m_connection->prune, kPrune}}) {
                auto pruneStatement = preparedIn(*slot, db, sql);
                if (!pruneStatement)
                    return inFile(pruneStatement.error(), m_path);
                Statement& prune = *pruneStatement.value();
                prune.bind(1, static_cast<std::int64_t>(kept));
                if (const int code = prune.run(); code != SQLITE_DONE)
                    return inFile(errorOf(db, code, "removing old transfers"), m_path);
            }
        }
    }
    if (auto committed = transaction.value().commit(); !committed)
        return inFile(committed.error(), m_path);
    return id;
}

HistoryResult<std::vector<StoredTransfer>> HistoryStore::recentTransfers(int limit) {
    sqlite3* db = m_connection->db.get();
    auto query = Statement::prepare(
        db, "SELECT t.id, t.started_ms, t.ended_ms, t.direction, t.link, t.peer, t.peer_name,"
            " t.outcome, t.refusal_code, t.detail, t.bytes, t.duration_ms,"
            " (SELECT count(*) FROM files f WHERE f.transfer_id = t.id),"
            // failed: the rule of isFailedResult()
            " (SELECT count(*) FROM files f WHERE f.transfer_id = t.id"
            "  AND f.result NOT IN ('sent', 'stored'))"
            " FROM transfers t ORDER BY t.id DESC LIMIT ?1");
    if (!query)
        return inFile(query.error(), m_path);
    Statement& q = query.value();
    q.bind(1, static_cast<std::int64_t>(limit));
    std::vector<StoredTransfer> transfers;
    int code = SQLITE_ROW;
    while ((code = q.step()) == SQLITE_ROW) {
        StoredTransfer stored;
        stored.id = q.int64At(0);
        TransferRecord& t = stored.record;
        t.startedMs = q.int64At(1);
        t.endedMs = q.int64At(2);
        const auto direction = directionFromText(q.textAt(3));
        if (!direction)
            return inFile(unknownValue("direction", q.textAt(3)), m_path);
        t.direction = *direction;
        t.link = q.textAt(4);
        t.peer = q.textAt(5);
        t.peerName = q.textAt(6);
        const auto outcome = outcomeFromText(q.textAt(7));
        if (!outcome)
            return inFile(unknownValue("outcome", q.textAt(7)), m_path);
        t.outcome = *outcome;
        if (!q.isNull(8))
            t.refusalCode = static_cast<int>(q.int64At(8));
        t.detail = q.textAt(9);
        t.bytes = static_cast<std::uint64_t>(q.int64At(10));
        t.durationMs = q.int64At(11);
        stored.fileCount = static_cast<int>(q.int64At(12));
        stored.failedFileCount = static_cast<int>(q.int64At(13));
        transfers.push_back(std::move(stored));
    }
    if (code != SQLITE_DONE)
        return inFile(errorOf(db, code, "reading the transfers"), m_path);
    return transfers;
}

HistoryResult<std::vector<FileRecord>> HistoryStore::filesOf(std::int64_t transferId) {
    sqlite3* db = m_connection->db.get();
    auto query = Statement::prepare(
        db, "SELECT name_sent, name_stored, size, bytes_done, result, crc32 FROM files"
            " WHERE transfer_id = ?1 ORDER BY position");
    if (!query)
        return inFile(query.error(), m_path);
    Statement& q = query.value();
    q.bind(1, transferId);
    std::vector<FileRecord> files;
    int code = SQLITE_ROW;
    while ((code = q.step()) == SQLITE_ROW) {
        FileRecord file;
        file.nameSent = q.textAt(0);
        file.nameStored = q.textAt(1);
        file.size = static_cast<std::uint64_t>(q.int64At(2));
        file.bytesDone = static_cast<std::uint64_t>(q.int64At(3));
        const auto result = fileResultFromText(q.textAt(4));
        if (!result)
            return inFile(unknownValue("file result", q.textAt(4)), m_path);
        file.result = *result;
        if (!q.isNull(5))
            file.crc32 = static_cast<std::uint32_t>(q.int64At(5));
        files.push_back(std::move(file));
    }
    if (code != SQLITE_DONE)
        return inFile(errorOf(db, code, "reading the files of a transfer"), m_path);
    return files;
}

HistoryResult<std::vector<FileRecord>> HistoryStore::failedFilesOf(std::int64_t transferId) {
    auto files = filesOf(transferId);
    if (!files)
        return files;
    std::vector<FileRecord> failed;
    for (FileRecord& file : files.value()) {
        if (isFailedResult(file.result))
            failed.push_back(std::move(file));
    }
    return failed;
}

HistoryResult<std::int64_t> HistoryStore::transferCount() {
    sqlite3* db = m_connection->db.get();
    auto query = Statement::prepare(db, "SELECT count(*) FROM transfers");
    if (!query)
        return inFile(query.error(), m_path);
    const int code = query.value().step();
    if (code != SQLITE_ROW)
        return inFile(errorOf(db, code, "counting the transfers"), m_path);
    return query.value().int64At(0);
}

} // namespace zapfer::history
