// Recording and reading back transfers, "send again"'s choice of files,
// pruning, and where the database lives.

#include "history_path.h"
#include "history_store.h"
#include "history_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace zapfer::history {
namespace {

using test::queryText;
using test::TempDir;

TransferRecord sampleTransfer(std::string peerName = "desk") {
    TransferRecord t;
    t.startedMs = 1'796'000'000'123;
    t.endedMs = 1'796'000'004'456;
    t.direction = Direction::Received;
    t.link = "lan";
    t.peer = "192.168.1.20";
    t.peerName = std::move(peerName);
    t.outcome = TransferOutcome::Refused;
    t.refusalCode = 7;
    t.detail = "the peer refused a file";
    t.bytes = 5'000'000'000; // past 32 bits
    t.durationMs = 4333;
    return t;
}

FileRecord file(std::string name, FileResult result, std::optional<std::uint32_t> crc) {
    FileRecord f;
    f.nameSent = name;
    f.nameStored = name.empty() ? std::string() : name + " (2)";
    f.size = 3'000'000'000;
    f.bytesDone = result == FileResult::Stored || result == FileResult::Sent ? f.size : 1234;
    f.result = result;
    f.crc32 = crc;
    return f;
}

void expectSameFiles(const std::vector<FileRecord>& actual, const std::vector<FileRecord>& wanted) {
    ASSERT_EQ(actual.size(), wanted.size());
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        SCOPED_TRACE("file " + std::to_string(i));
        EXPECT_EQ(actual[i].nameSent, wanted[i].nameSent);
        EXPECT_EQ(actual[i].nameStored, wanted[i].nameStored);
        EXPECT_EQ(actual[i].size, wanted[i].size);
        EXPECT_EQ(actual[i].bytesDone, wanted[i].bytesDone);
        EXPECT_EQ(actual[i].result, wanted[i].result);
        EXPECT_EQ(actual[i].crc32, wanted[i].crc32);
    }
}

TEST(HistoryStore, RecordsEveryFieldAndReadsItBackAfterReopening) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    const TransferRecord wanted = sampleTransfer("Ünïcode 'quoted' \"peer\"");
    // CRCs with the top bit set and zero, a missing one, names with control
    // characters, quotes and a byte sequence that is not UTF-8.
    const std::vector<FileRecord> files = {
        file("a.txt", FileResult::Stored, 0xFFFFFFFFu),
        file("line\nbreak\tand\x1b[31mescape", FileResult::Refused, std::nullopt),
        file("'; DROP TABLE files; --", FileResult::Stored, 0u),
        file("bad\xff\xfe", FileResult::Aborted, 0x80000000u),
    };
    std::int64_t id = 0;
    {
        auto store = HistoryStore::open(path);
        ASSERT_TRUE(store) << store.error().text;
        EXPECT_EQ(store.value().notice(), "");
        auto recorded = store.value().recordTransfer(wanted, files);
        ASSERT_TRUE(recorded) << recorded.error().text;
        id = recorded.value();
    }
    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    auto transfers = store.value().recentTransfers(10);
    ASSERT_TRUE(transfers) << transfers.error().text;
    ASSERT_EQ(transfers.value().size(), 1u);
    const StoredTransfer& got = transfers.value()[0];
    EXPECT_EQ(got.id, id);
    EXPECT_EQ(got.fileCount, 4);
    EXPECT_EQ(got.failedFileCount, 2);
    EXPECT_EQ(got.record.startedMs, wanted.startedMs);
    EXPECT_EQ(got.record.endedMs, wanted.endedMs);
    EXPECT_EQ(got.record.direction, wanted.direction);
    EXPECT_EQ(got.record.link, wanted.link);
    EXPECT_EQ(got.record.peer, wanted.peer);
    EXPECT_EQ(got.record.peerName, wanted.peerName);
    EXPECT_EQ(got.record.outcome, wanted.outcome);
    EXPECT_EQ(got.record.refusalCode, wanted.refusalCode);
    EXPECT_EQ(got.record.detail, wanted.detail);
    EXPECT_EQ(got.record.bytes, wanted.bytes);
    EXPECT_EQ(got.record.durationMs, wanted.durationMs);

    auto gotFiles = store.value().filesOf(id);
    ASSERT_TRUE(gotFiles) << gotFiles.error().text;
    expectSameFiles(gotFiles.value(), files);
}

// Many files are written several to a statement: every count around that
// batch, each file in its place with its own fields, the next transfer's
// files apart from them.
TEST(HistoryStore, KeepsEveryFileOfTransfersOfManyFilesInOrder) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    const FileResult results[] = {FileResult::Stored, FileResult::Refused, FileResult::Failed,
                                  FileResult::SkippedUnreadable, FileResult::Aborted};
    std::vector<std::pair<std::int64_t, std::vector<FileRecord>>> written;
    for (const int count : {1, 4, 5, 6, 9, 10, 11, 19, 20, 21, 45, 100}) {
        SCOPED_TRACE(count);
        std::vector<FileRecord> files;
        for (int i = 0; i < count; ++i) {
            FileRecord f =
                file("n" + std::to_string(count) + "-" + std::to_string(i), results[i % 5],
                     i % 3 == 0 ? std::nullopt
                                : std::optional<std::uint32_t>(0xFFFFFF00u + std::uint32_t(i)));
            f.size = std::uint64_t(i) * 1000 + std::uint64_t(count);
            f.bytesDone = f.size / 2;
            files.push_back(std::move(f));
        }
        auto id = store.value().recordTransfer(sampleTransfer(), files);
        ASSERT_TRUE(id) << id.error().text;
        written.emplace_back(id.value(), std::move(files));
    }
    for (const auto& [id, files] : written) {
        SCOPED_TRACE(files.size());
        auto got = store.value().filesOf(id);
        ASSERT_TRUE(got) << got.error().text;
        expectSameFiles(got.value(), files);
    }
    auto recent = store.value().recentTransfers(1);
    ASSERT_TRUE(recent);
    ASSERT_EQ(recent.value().size(), 1u);
    EXPECT_EQ(recent.value()[0].fileCount, 100);
    EXPECT_EQ(recent.value()[0].failedFileCount, 80); // all but the stored fifth
}

// The file statements parsed ahead, while a transfer runs, write the same
// rows as those parsed by the write itself; parsed for another count than
// the write's, or twice, they change nothing either.
TEST(HistoryStore, FileWritesPreparedAheadKeepEveryFileInOrder) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    std::vector<std::pair<std::int64_t, std::vector<FileRecord>>> written;
    const std::pair<std::size_t, int> preparedAndWritten[] = {
        {0, 0},     {1, 1},   {9, 9},  {10, 10}, {11, 11}, {25, 25},
        {100, 100}, {10, 11}, {1, 20}, {30, 3},  {0, 15},
    };
    for (const auto& [prepared, count] : preparedAndWritten) {
        SCOPED_TRACE(std::to_string(prepared) + " prepared, " + std::to_string(count) + " written");
        // A new connection for each, as a new zapfer-cli run has.
        auto store = HistoryStore::open(path);
        ASSERT_TRUE(store) << store.error().text;
        ASSERT_TRUE(store.value().prepareFileWrites(prepared));
        ASSERT_TRUE(store.value().prepareFileWrites(prepared));
        std::vector<FileRecord> files;
        for (int i = 0; i < count; ++i)
            files.push_back(
                file("p" + std::to_string(count) + "-" + std::to_string(i),
                     i % 2 ? FileResult::Sent : FileResult::Failed,
                     i % 4 ? std::optional<std::uint32_t>(std::uint32_t(i) * 77u) : std::nullopt));
        auto id = store.value().recordTransfer(sampleTransfer(), files);
        ASSERT_TRUE(id) << id.error().text;
        written.emplace_back(id.value(), std::move(files));
    }
    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    for (const auto& [id, files] : written) {
        SCOPED_TRACE(files.size());
        auto got = store.value().filesOf(id);
        ASSERT_TRUE(got) << got.error().text;
        expectSameFiles(got.value(), files);
    }
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files"), "205");
    EXPECT_EQ(queryText(path, "PRAGMA integrity_check"), "ok");
}

TEST(HistoryStore, ListsNewestFirstAndPicksTheFilesToSendAgain) {
    TempDir dir;
    auto store = HistoryStore::open(dir.file("history.sqlite"));
    ASSERT_TRUE(store) << store.error().text;
    TransferRecord completed = sampleTransfer();
    completed.outcome = TransferOutcome::Completed;
    completed.refusalCode.reset();
    const auto first = store.value().recordTransfer(completed, {});
    const std::vector<FileRecord> mixed = {
        file("sent", FileResult::Sent, 1u),
        file("refused", FileResult::Refused, std::nullopt),
        file("stored", FileResult::Stored, 2u),
        file("failed", FileResult::Failed, std::nullopt),
        file("unreadable", FileResult::SkippedUnreadable, std::nullopt),
        file("aborted", FileResult::Aborted, std::nullopt),
    };
    const auto second = store.value().recordTransfer(sampleTransfer(), mixed);
    const auto third = store.value().recordTransfer(completed, {file("x", FileResult::Sent, 3u)});
    ASSERT_TRUE(first && second && third);

    auto recent = store.value().recentTransfers(2);
    ASSERT_TRUE(recent) << recent.error().text;
    ASSERT_EQ(recent.value().size(), 2u);
    EXPECT_EQ(recent.value()[0].id, third.value());
    EXPECT_EQ(recent.value()[1].id, second.value());
    EXPECT_EQ(recent.value()[1].failedFileCount, 4);
    EXPECT_FALSE(recent.value()[0].record.refusalCode);

    auto failed = store.value().failedFilesOf(second.value());
    ASSERT_TRUE(failed) << failed.error().text;
    expectSameFiles(failed.value(), {mixed[1], mixed[3], mixed[4], mixed[5]});
    auto none = store.value().failedFilesOf(third.value());
    ASSERT_TRUE(none);
    EXPECT_TRUE(none.value().empty());
    auto unknown = store.value().filesOf(999);
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown.value().empty());
}

TEST(HistoryStore, PrunesTheOldestTransfersWithTheirFiles) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    HistoryOptions options;
    options.maxTransfers = 5;
    auto store = HistoryStore::open(path, options);
    ASSERT_TRUE(store) << store.error().text;
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 8; ++i) {
        auto id = store.value().recordTransfer(
            sampleTransfer("peer " + std::to_string(i)),
            {file("a", FileResult::Sent, 1u), file("b", FileResult::Failed, std::nullopt)});
        ASSERT_TRUE(id) << id.error().text;
        ids.push_back(id.value());
    }
    auto count = store.value().transferCount();
    ASSERT_TRUE(count);
    EXPECT_EQ(count.value(), 5);
    auto recent = store.value().recentTransfers(100);
    ASSERT_TRUE(recent);
    ASSERT_EQ(recent.value().size(), 5u);
    EXPECT_EQ(recent.value().front().id, ids[7]);
    EXPECT_EQ(recent.value().back().id, ids[3]);
    EXPECT_EQ(recent.value().back().record.peerName, "peer 3");
    // No file outlives its transfer.
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files"), "10");
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files WHERE transfer_id NOT IN "
                              "(SELECT id FROM transfers)"),
              "0");
}

// A full history is pruned a hundredth under its limit, so that the next
// writes do not walk it again; it never holds more than the limit, and what
// it keeps is always the newest.
TEST(HistoryStore, PrunesAFullHistoryALittleUnderItsLimitAndNeverPastIt) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    HistoryOptions options;
    options.maxTransfers = 200;
    auto store = HistoryStore::open(path, options);
    ASSERT_TRUE(store) << store.error().text;
    std::vector<std::int64_t> counts;
    std::int64_t newest = 0;
    for (int i = 0; i < 260; ++i) {
        auto id = store.value().recordTransfer(sampleTransfer(), {file("a", FileResult::Sent, 1u)});
        ASSERT_TRUE(id) << id.error().text;
        newest = id.value();
        auto count = store.value().transferCount();
        ASSERT_TRUE(count);
        ASSERT_LE(count.value(), 200) << "after transfer " << i;
        counts.push_back(count.value());
    }
    // 200 reached, then 201 pruned to 198, and so on.
    EXPECT_EQ(counts[199], 200);
    EXPECT_EQ(counts[200], 198);
    EXPECT_EQ(counts[202], 200);
    EXPECT_EQ(counts[203], 198);
    EXPECT_EQ(queryText(path, "SELECT max(id) - min(id) + 1 = count(*) FROM transfers"), "1");
    EXPECT_EQ(queryText(path, "SELECT max(id) FROM transfers"), std::to_string(newest));
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files"), std::to_string(counts.back()));
}

// The write looks at the span of the ids before it prunes; ids with a gap
// (transfers removed by hand) make the span larger than the count, and no
// transfer of the newest five may go for it.
TEST(HistoryStore, PrunesByCountNotByTheSpanOfTheIds) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    HistoryOptions options;
    options.maxTransfers = 5;
    auto store = HistoryStore::open(path, options);
    ASSERT_TRUE(store) << store.error().text;
    const auto record = [&](int i) {
        auto id = store.value().recordTransfer(sampleTransfer("peer " + std::to_string(i)),
                                               {file("a", FileResult::Sent, 1u)});
        EXPECT_TRUE(id) << id.error().text;
    };
    for (int i = 1; i <= 5; ++i)
        record(i);
    ASSERT_EQ(test::executeScript(path, "DELETE FROM files WHERE transfer_id IN (2, 3);"
                                        " DELETE FROM transfers WHERE id IN (2, 3)"),
              "");
    record(6); // ids 1, 4, 5, 6: a span of six, four transfers
    record(7); // five transfers
    EXPECT_EQ(
        queryText(path, "SELECT group_concat(id) FROM (SELECT id FROM transfers ORDER BY id)"),
        "1,4,5,6,7");
    record(8); // six: the oldest goes
    EXPECT_EQ(
        queryText(path, "SELECT group_concat(id) FROM (SELECT id FROM transfers ORDER BY id)"),
        "4,5,6,7,8");
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files"), "5");
}

TEST(HistoryStore, ADatabaseLockedPastTheTimeoutIsAnErrorAndTheNextWriteWorks) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    HistoryOptions options;
    options.busyTimeoutMs = 100;
    auto store = HistoryStore::open(path, options);
    ASSERT_TRUE(store) << store.error().text;

    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    auto blocked = store.value().recordTransfer(sampleTransfer(), {});
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(holder);
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().kind, HistoryError::Kind::Busy) << blocked.error().text;

    // Nothing of the refused write is left half done in the connection.
    auto later = store.value().recordTransfer(sampleTransfer(), {file("a", FileResult::Sent, 1u)});
    ASSERT_TRUE(later) << later.error().text;
    EXPECT_EQ(store.value().transferCount().value(), 1);
}

// The other writer lets go well within the time-out: the write waits for it,
// however many times it tries in between, and goes through after it.
TEST(HistoryStore, AWriteWaitsForALockLetGoWithinTheTimeout) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;

    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder,
                           "INSERT INTO transfers (started_ms, ended_ms, direction, link, peer,"
                           " peer_name, outcome, bytes, duration_ms) VALUES (1, 2, 'sent', 'lan',"
                           " '10.0.0.1', 'other', 'completed', 0, 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::thread letGo([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    });
    auto written =
        store.value().recordTransfer(sampleTransfer(), {file("a", FileResult::Sent, 1u)});
    letGo.join();
    sqlite3_close_v2(holder);
    ASSERT_TRUE(written) << written.error().text;
    auto recent = store.value().recentTransfers(-1);
    ASSERT_TRUE(recent) << recent.error().text;
    ASSERT_EQ(recent.value().size(), 2u);
    EXPECT_EQ(recent.value()[0].id, written.value());
    EXPECT_EQ(recent.value()[1].record.peerName, "other");
}

// Sets an environment variable for one scope, restoring the old value.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(HistoryPath, FollowsXdgDataHomeAndFallsBackToTheHomeFolder) {
    TempDir dir;
    const std::string home = dir.file("home");
    ScopedEnv homeEnv("HOME", home.c_str());
    {
        const std::string data = dir.file("data");
        ScopedEnv xdg("XDG_DATA_HOME", data.c_str());
        EXPECT_EQ(defaultHistoryPath(), data + "/Quorvel/Zapfer/history.sqlite");
    }
    const std::string fallback = home + "/.local/share/Quorvel/Zapfer/history.sqlite";
    {
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(defaultHistoryPath(), fallback);
    }
    ScopedEnv relative("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(defaultHistoryPath(), fallback);

    // Opening makes the missing folders, for the user only.
    auto store = HistoryStore::openDefault();
    ASSERT_TRUE(store) << store.error().text;
    EXPECT_TRUE(std::filesystem::exists(fallback));
    for (const char* folder :
         {"/.local", "/.local/share", "/.local/share/Quorvel", "/.local/share/Quorvel/Zapfer"}) {
        struct stat info {};
        ASSERT_EQ(::stat((home + folder).c_str(), &info), 0) << folder;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
}

TEST(HistoryPath, AFolderThatCannotBeMadeIsAnErrorNamingThePath) {
    TempDir dir;
    std::ofstream(dir.file("plain")) << "a file, not a folder";
    const std::string path = dir.file("plain") + "/Zapfer/history.sqlite";
    auto store = HistoryStore::open(path);
    ASSERT_FALSE(store);
    EXPECT_EQ(store.error().kind, HistoryError::Kind::Io);
    EXPECT_NE(store.error().text.find(dir.file("plain")), std::string::npos) << store.error().text;
}

} // namespace
} // namespace zapfer::history
