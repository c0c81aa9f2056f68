// `zapfer-cli history` run as the real program on a history written by the
// library, in a data folder of its own.

#include "child_process.h"
#include "history_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

using namespace zapfer::testing;
using namespace zapfer::history;
using namespace std::chrono_literals;

namespace {

class CliHistory : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_DATA_HOME", m_dir.path().c_str(), 1);
        ::setenv("TZ", "UTC", 1);
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::string databasePath() const { return m_dir.file("Quorvel/Zapfer/history.sqlite"); }

    RunResult history(std::vector<std::string> args) {
        args.insert(args.begin(), {ZAPFER_CLI_PATH, "history"});
        return runToEnd(args, 20s);
    }

    // An older send with a refused file and one whose names are hostile, then
    // a newer receive that went through.
    void recordTwo() {
        auto store = HistoryStore::open(databasePath());
        ASSERT_TRUE(store) << store.error().text;
        TransferRecord send;
        send.startedMs = 1'796'000'000'000; // 2026-11-29 ...
        send.direction = Direction::Sent;
        send.link = "lan";
        send.peer = "10.0.0.7";
        send.peerName = "desk";
        send.outcome = TransferOutcome::Refused;
        send.refusalCode = 3;
        send.bytes = 10;
        send.durationMs = 1500;
        FileRecord sent{"ok.txt", "", 10, 10, FileResult::Sent, 0xCBF43926u};
        FileRecord refused{"evil\x1b[2J\nname\xff", "", 20, 0, FileResult::Refused, std::nullopt};
        ASSERT_TRUE(store.value().recordTransfer(send, {sent, refused}));
        TransferRecord receive = send;
        receive.direction = Direction::Received;
        receive.outcome = TransferOutcome::Completed;
        receive.refusalCode.reset();
        FileRecord stored{"a.txt", "a (2).txt", 5, 5, FileResult::Stored, 0xFFFFFFFFu};
        ASSERT_TRUE(store.value().recordTransfer(receive, {stored}));
    }

    TempDir m_dir;
};

TEST_F(CliHistory, PrintsTransfersNewestFirstWithEscapedNames) {
    recordTwo();
    const RunResult all = history({});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.err, "");
    const auto receivedAt = all.out.find("received from 10.0.0.7 (desk) over lan: completed");
    const auto sentAt = all.out.find("sent to 10.0.0.7 (desk) over lan: refused (code 3)");
    ASSERT_NE(receivedAt, std::string::npos) << all.out;
    ASSERT_NE(sentAt, std::string::npos) << all.out;
    EXPECT_LT(receivedAt, sentAt);
    EXPECT_NE(all.out.find("ffffffff  a.txt -> a (2).txt"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("cbf43926  ok.txt"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("0/20  --------  evil\\x1b[2J\\nname\\xff"), std::string::npos)
        << all.out;
    EXPECT_EQ(all.out.find('\x1b'), std::string::npos) << "a raw escape reached the terminal";

    const RunResult newest = history({"--limit", "1"});
    ASSERT_EQ(newest.status, 0);
    EXPECT_EQ(newest.out.find("sent to"), std::string::npos) << newest.out;
    EXPECT_NE(newest.out.find("received from"), std::string::npos) << newest.out;

    // Only what "send again" would take: the refused file of the send.
    const RunResult failed = history({"--failed"});
    ASSERT_EQ(failed.status, 0);
    EXPECT_NE(failed.out.find("evil"), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find("ok.txt"), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find("received from"), std::string::npos) << failed.out;
}

TEST_F(CliHistory, JsonIsOneValidObjectPerTransfer) {
    recordTwo();
    const RunResult run = history({"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_TRUE(run.out.starts_with("{\"id\":2,\"started\":\"2026-")) << run.out;
    EXPECT_NE(run.out.find("\"crc32\":4294967295"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"crc32\":null"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"refusal_code\":3"), std::string::npos) << run.out;
    // Control characters escaped, a byte that is not UTF-8 replaced.
    EXPECT_NE(run.out.find("\"name_sent\":\"evil\\u001b[2J\\nname\\ufffd\""), std::string::npos)
        << run.out;
}

TEST_F(CliHistory, NoDatabaseIsNotAnErrorAndCreatesNothing) {
    const RunResult run = history({});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("No transfers recorded yet"), std::string::npos) << run.out;
    EXPECT_TRUE(listDir(m_dir.path()).empty());
}

TEST_F(CliHistory, ADamagedDatabaseIsSaidOnceOnStderr) {
    ::mkdir(m_dir.file("Quorvel").c_str(), 0700);
    ::mkdir(m_dir.file("Quorvel/Zapfer").c_str(), 0700);
    writeFile(databasePath(), std::string(4096, 'x'));
    const RunResult first = history({});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("moved aside"), std::string::npos) << first.err;
    EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), 1) << first.err;
    const RunResult second = history({});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.err, "");
}

} // namespace
