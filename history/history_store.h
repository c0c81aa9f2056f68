#pragma once

// The transfer history on one SQLite database, shared by the window and
// zapfer-cli: several processes may write it at once (WAL journal, a busy
// timeout, every write in one immediate transaction).
//
// A HistoryStore is one connection: use it from one thread at a time. Open one
// per process or thread that writes. Nothing here throws; failures are values
// whose text can be shown to the user as it is.

#include "history_records.h"
#include "history_result.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace zapfer::history {

class Statement;

struct HistoryOptions {
    // Never more transfers than this: past it the oldest go, with their
    // files, down to a hundredth under it.
    int maxTransfers = 10000;
    // How long a write waits for another writer before it gives up.
    int busyTimeoutMs = 5000;
};

class HistoryStore {
public:
    // Opens or creates the database at `path`, making its folders, and brings
    // an older schema up to date. A file that is not a database or is damaged
    // is moved aside as `<path>.corrupt-<UTC time>` and a new one started;
    // notice() then says so. A database from a newer Zapfer is refused and left
    // untouched.
    static HistoryResult<HistoryStore> open(const std::string& path, HistoryOptions options = {});
    // The same at defaultHistoryPath().
    static HistoryResult<HistoryStore> openDefault(HistoryOptions options = {});

    HistoryStore(HistoryStore&&) noexcept;
    HistoryStore& operator=(HistoryStore&&) noexcept;
    ~HistoryStore();

    // Something the user should hear of once, though the store works (a
    // corrupt file moved aside); empty otherwise.
    const std::string& notice() const { return m_notice; }
    const std::string& path() const { return m_path; }

    // Parses the statements a write of `fileCount` files needs, so that the
    // write at a transfer's end has only its rows to do: for a front end to
    // call while the transfer runs. A failure here shows again at that write.
    HistoryStatus prepareFileWrites(std::size_t fileCount);

    // Records one transfer with its files (in their order), pruning the oldest
    // past the limit in the same transaction. Returns the transfer's id.
    HistoryResult<std::int64_t> recordTransfer(const TransferRecord& transfer,
                                               const std::vector<FileRecord>& files);

    // Newest first; a negative limit gives them all.
    HistoryResult<std::vector<StoredTransfer>> recentTransfers(int limit);
    HistoryResult<std::vector<FileRecord>> filesOf(std::int64_t transferId);
    // The files "send again" resends: those neither sent nor stored.
    HistoryResult<std::vector<FileRecord>> failedFilesOf(std::int64_t transferId);
    HistoryResult<std::int64_t> transferCount();

private:
    struct Connection;
    explicit HistoryStore(std::unique_ptr<Connection> connection, std::string path,
                          HistoryOptions options);
    static HistoryResult<HistoryStore> openOnce(const std::string& path, HistoryOptions options);

    std::unique_ptr<Connection> m_connection;
    std::string m_path;
    HistoryOptions m_options;
    std::string m_notice;
};

} // namespace zapfer::history
