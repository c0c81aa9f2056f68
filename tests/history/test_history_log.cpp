// The write-ahead log: kept when the last connection closes, read back by the
// next open, and folded into the database by an open that finds it large.

#include "history_schema.h"
#include "history_store.h"
#include "history_test_support.h"
#include "wal_upkeep.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace zapfer::history {
namespace {

using test::queryText;
using test::TempDir;

std::int64_t sizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? std::int64_t(info.st_size) : -1;
}

// SQLite's log: a header of 32 bytes (its salts at 16), then frames of a
// 24-byte header and a page each.
constexpr std::int64_t kLogHeaderBytes = 32;
constexpr std::int64_t kFrameHeaderBytes = 24;

std::string logHeader(const std::string& log) {
    std::ifstream in(log, std::ios::binary);
    std::string header(kLogHeaderBytes, '\0');
    in.read(header.data(), kLogHeaderBytes);
    return in ? header : std::string();
}

std::vector<FileRecord> filesNamed(const std::string& stem, int count) {
    std::vector<FileRecord> files;
    for (int i = 0; i < count; ++i) {
        FileRecord f;
        f.nameSent = stem + "-" + std::to_string(i) + ".bin";
        f.nameStored = f.nameSent;
        f.size = 4096;
        f.bytesDone = 4096;
        f.result = FileResult::Sent;
        f.crc32 = std::uint32_t(i) * 2654435761u;
        files.push_back(std::move(f));
    }
    return files;
}

// Every transfer with all its files, in order, as the store reads them back.
void expectTransfers(HistoryStore& store, int count, int filesEach) {
    auto transfers = store.recentTransfers(-1);
    ASSERT_TRUE(transfers) << transfers.error().text;
    ASSERT_EQ(transfers.value().size(), std::size_t(count));
    for (const StoredTransfer& stored : transfers.value()) {
        auto files = store.filesOf(stored.id);
        ASSERT_TRUE(files) << files.error().text;
        const auto wanted = filesNamed(stored.record.peerName, filesEach);
        ASSERT_EQ(files.value().size(), wanted.size()) << stored.record.peerName;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            EXPECT_EQ(files.value()[i].nameSent, wanted[i].nameSent);
            EXPECT_EQ(files.value()[i].crc32, wanted[i].crc32);
        }
    }
}

int recordUntilLogPasses(HistoryStore& store, const std::string& log, std::int64_t bytes,
                         int filesEach) {
    int written = 0;
    for (; written < 500 && sizeOf(log) <= bytes; ++written) {
        TransferRecord t;
        t.peerName = "t" + std::to_string(written);
        auto id = store.recordTransfer(t, filesNamed(t.peerName, filesEach));
        EXPECT_TRUE(id) << id.error().text;
        if (!id)
            break;
    }
    return written;
}

TEST(HistoryLog, TheLastCloseKeepsTheLogAndTheNextOpenReadsItBack) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    {
        auto store = HistoryStore::open(path);
        ASSERT_TRUE(store) << store.error().text;
        for (const char* name : {"a", "b", "c"}) {
            TransferRecord t;
            t.peerName = name;
            ASSERT_TRUE(store.value().recordTransfer(t, filesNamed(name, 25)));
        }
    }
    // Closed without copying the log into the database: no sync at the end
    // of a zapfer-cli run.
    EXPECT_GT(sizeOf(path + "-wal"), 0);
    auto reopened = HistoryStore::open(path);
    ASSERT_TRUE(reopened) << reopened.error().text;
    expectTransfers(reopened.value(), 3, 25);
    EXPECT_EQ(queryText(path, "PRAGMA integrity_check"), "ok");
}

TEST(HistoryLog, AnOpenFoldsALogGrownPastItsLimitAndWritesGoOn) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    const std::string log = path + "-wal";
    int written = 0;
    {
        auto store = HistoryStore::open(path);
        ASSERT_TRUE(store) << store.error().text;
        written = recordUntilLogPasses(store.value(), log, kFoldLogBytes, 40);
    }
    ASSERT_GT(sizeOf(log), kFoldLogBytes);
    const std::int64_t databaseBefore = sizeOf(path);

    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    // Emptied, then started again with one page: the log's header, synced at
    // its first write, is written by the open, not by the next transfer.
    const std::int64_t pageSize = std::stoll(queryText(path, "PRAGMA page_size"));
    EXPECT_EQ(sizeOf(log), kLogHeaderBytes + kFrameHeaderBytes + pageSize);
    EXPECT_GT(sizeOf(path), databaseBefore);
    const std::string header = logHeader(log);
    expectTransfers(store.value(), written, 40);
    TransferRecord more;
    more.peerName = "more";
    ASSERT_TRUE(store.value().recordTransfer(more, filesNamed("more", 40)));
    expectTransfers(store.value(), written + 1, 40);
    // Appended to the log the open started: the same header, salts and all.
    EXPECT_GT(sizeOf(log), kLogHeaderBytes + kFrameHeaderBytes + pageSize);
    EXPECT_EQ(logHeader(log), header);
    EXPECT_EQ(queryText(path, "PRAGMA user_version"), std::to_string(currentSchemaVersion()));
    EXPECT_EQ(queryText(path, "PRAGMA integrity_check"), "ok");
}

TEST(HistoryLog, ALogInUseByAReaderIsLeftForALaterOpen) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    const std::string log = path + "-wal";
    int written = 0;
    {
        auto store = HistoryStore::open(path);
        ASSERT_TRUE(store) << store.error().text;
        written = recordUntilLogPasses(store.value(), log, kFoldLogBytes, 40);
    }
    // A reader in the middle of a read, on the log's last snapshot.
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_stmt* reading = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(reader, "SELECT id FROM transfers", -1, &reading, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(reading), SQLITE_ROW);

    HistoryOptions options;
    options.busyTimeoutMs = 60'000; // were the fold to wait for the reader, the test would hang
    auto store = HistoryStore::open(path, options);
    ASSERT_TRUE(store) << store.error().text;
    TransferRecord more;
    more.peerName = "more";
    EXPECT_TRUE(store.value().recordTransfer(more, filesNamed("more", 40)));
    sqlite3_finalize(reading);
    sqlite3_close_v2(reader);
    expectTransfers(store.value(), written + 1, 40);
}

} // namespace
} // namespace zapfer::history
