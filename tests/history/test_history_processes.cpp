// Several processes on one history: the window and a zapfer-cli receive
// write at the same time, and a writer may be killed at any point.

#include "history_store.h"
#include "history_test_support.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <thread>

namespace zapfer::history {
namespace {

using test::queryText;
using test::TempDir;
using namespace std::chrono_literals;

TransferRecord transferBy(const std::string& writer, int i) {
    TransferRecord t;
    t.startedMs = i;
    t.endedMs = i + 1;
    t.direction = Direction::Received;
    t.link = "lan";
    t.peer = "127.0.0.1";
    t.peerName = writer;
    t.bytes = 2;
    return t;
}

std::vector<FileRecord> twoFiles(int i) {
    FileRecord f;
    f.nameSent = "file " + std::to_string(i);
    f.result = FileResult::Stored;
    f.crc32 = static_cast<std::uint32_t>(i);
    return {f, f};
}

// Waits for a child at most `limit`; kills it past that. The exit status, or
// -1 when it had to be killed.
int waitForChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// The child's side of the race: waits for the start signal, then writes.
[[noreturn]] void writeTransfers(const std::string& path, const std::string& writer, int count,
                                 int startFd) {
    char go = 0;
    if (::read(startFd, &go, 1) != 1)
        ::_exit(3);
    auto store = HistoryStore::open(path);
    if (!store) {
        std::fprintf(stderr, "%s: %s\n", writer.c_str(), store.error().text.c_str());
        ::_exit(1);
    }
    for (int i = 0; i < count; ++i) {
        auto id = store.value().recordTransfer(transferBy(writer, i), twoFiles(i));
        if (!id) {
            std::fprintf(stderr, "%s, transfer %d: %s\n", writer.c_str(), i,
                         id.error().text.c_str());
            ::_exit(2);
        }
    }
    ::_exit(0);
}

// One child process per writer, running `write(writer, startFd)`; each
// reads one byte of `startFd` before writing, so that all start together.
// Expects every child to end well within two minutes.
template <typename Write>
void raceWriters(std::initializer_list<const char*> writers, Write write) {
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (const char* writer : writers) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(start[1]);
            write(writer, start[0]);
            ::_exit(4); // the writers end the child themselves
        }
        children.push_back(pid);
    }
    ::close(start[0]);
    const std::string go(writers.size(), 'g');
    ASSERT_EQ(::write(start[1], go.data(), go.size()), ssize_t(go.size()));
    ::close(start[1]);
    for (const pid_t pid : children)
        EXPECT_EQ(waitForChild(pid, 120s), 0);
}

std::vector<FileRecord> manyFiles(int i, int count) {
    std::vector<FileRecord> files;
    for (int n = 0; n < count; ++n) {
        FileRecord f;
        f.nameSent = "transfer " + std::to_string(i) + " file " + std::to_string(n);
        f.result = FileResult::Sent;
        f.crc32 = static_cast<std::uint32_t>(i * 1000 + n);
        files.push_back(std::move(f));
    }
    return files;
}

// As zapfer-cli runs one after another do: a new connection for each
// transfer, its file writes parsed ahead, so that opens fold the log and start
// the next one while the other process writes.
[[noreturn]] void openForEachTransfer(const std::string& path, const std::string& writer, int count,
                                      int startFd) {
    char go = 0;
    if (::read(startFd, &go, 1) != 1)
        ::_exit(3);
    for (int i = 0; i < count; ++i) {
        auto store = HistoryStore::open(path);
        if (!store) {
            std::fprintf(stderr, "%s, open %d: %s\n", writer.c_str(), i,
                         store.error().text.c_str());
            ::_exit(1);
        }
        if (auto prepared = store.value().prepareFileWrites(40); !prepared) {
            std::fprintf(stderr, "%s, %d: %s\n", writer.c_str(), i, prepared.error().text.c_str());
            ::_exit(1);
        }
        auto id = store.value().recordTransfer(transferBy(writer, i), manyFiles(i, 40));
        if (!id) {
            std::fprintf(stderr, "%s, transfer %d: %s\n", writer.c_str(), i,
                         id.error().text.c_str());
            ::_exit(2);
        }
    }
    ::_exit(0);
}

TEST(HistoryProcesses, WritersOpeningAnewForEachTransferFoldTheLogAndLoseNothing) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    constexpr int kEach = 60;
    raceWriters({"first", "second"}, [&](const std::string& writer, int startFd) {
        openForEachTransfer(path, writer, kEach, startFd);
    });

    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    EXPECT_EQ(store.value().transferCount().value(), 2 * kEach);
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files"), std::to_string(2 * kEach * 40));
    // Each transfer's files under its own id, in their order.
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files f JOIN transfers t"
                              " ON t.id = f.transfer_id WHERE f.crc32 = t.started_ms * 1000 +"
                              " f.position AND f.name_sent = 'transfer ' || t.started_ms ||"
                              " ' file ' || f.position"),
              std::to_string(2 * kEach * 40));
    EXPECT_EQ(queryText(path, "PRAGMA integrity_check"), "ok");
    // Only folding the log writes the database itself: it was folded on the way.
    EXPECT_GT(std::filesystem::file_size(path), 128u * 1024);
}

TEST(HistoryProcesses, TwoWritersAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    constexpr int kEach = 500;
    // Both open a database that does not exist yet: creating and migrating it
    // is part of the race.
    raceWriters({"window", "zapfer-cli"}, [&](const std::string& writer, int startFd) {
        writeTransfers(path, writer, kEach, startFd);
    });

    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    EXPECT_EQ(store.value().transferCount().value(), 2 * kEach);
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM files"), std::to_string(4 * kEach));
    EXPECT_EQ(queryText(path, "SELECT count(*) FROM transfers WHERE peer_name = 'window'"),
              std::to_string(kEach));
    EXPECT_EQ(queryText(path, "SELECT count(DISTINCT started_ms) FROM transfers "
                              "WHERE peer_name = 'zapfer-cli'"),
              std::to_string(kEach));
}

TEST(HistoryProcesses, AWriterKilledMidWayLeavesEveryCommittedTransfer) {
    TempDir dir;
    const std::string path = dir.file("history.sqlite");
    int ids[2];
    ASSERT_EQ(::pipe(ids), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(ids[0]);
        auto store = HistoryStore::open(path);
        for (int i = 0; store && i < 1'000'000; ++i) {
            auto id = store.value().recordTransfer(transferBy("victim", i), twoFiles(i));
            // Reported only once committed.
            if (!id || ::write(ids[1], &id.value(), sizeof id.value()) != sizeof id.value())
                ::_exit(1);
        }
        ::_exit(1);
    }
    ::close(ids[1]);

    std::set<std::int64_t> committed;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (committed.size() < 200 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{ids[0], POLLIN, 0};
        if (::poll(&ready, 1, 1000) <= 0)
            continue;
        std::int64_t id = 0;
        if (::read(ids[0], &id, sizeof id) != sizeof id)
            break;
        committed.insert(id);
    }
    ::kill(pid, SIGKILL);
    EXPECT_EQ(waitForChild(pid, 10s), -1); // killed, not finished on its own
    // Ids still in the pipe were committed too.
    for (std::int64_t id = 0; ::read(ids[0], &id, sizeof id) == sizeof id;)
        committed.insert(id);
    ::close(ids[0]);
    ASSERT_GE(committed.size(), 200u);

    auto store = HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    EXPECT_EQ(queryText(path, "PRAGMA integrity_check"), "ok");
    auto recent = store.value().recentTransfers(2'000'000);
    ASSERT_TRUE(recent) << recent.error().text;
    std::set<std::int64_t> present;
    for (const StoredTransfer& t : recent.value()) {
        present.insert(t.id);
        EXPECT_EQ(t.fileCount, 2) << "transfer " << t.id << " kept only part of its files";
    }
    for (const std::int64_t id : committed)
        EXPECT_TRUE(present.count(id)) << "lost committed transfer " << id;
}

} // namespace
} // namespace zapfer::history
