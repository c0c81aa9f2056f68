#include "background_recorder.h"
#include "history_store.h"
#include "transfer_recorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

using namespace zapfer::recording;
namespace history = zapfer::history;
namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "zapfer-rec-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

RecordedTransfer someTransfer(int n) {
    RecordedTransfer t;
    t.transfer.startedMs = 1000 + n;
    t.transfer.endedMs = 2000 + n;
    t.transfer.link = "lan";
    t.transfer.peer = "127.0.0.1";
    history::FileRecord f;
    f.nameSent = "/f" + std::to_string(n);
    f.result = history::FileResult::Sent;
    f.crc32 = uint32_t(n);
    t.files.push_back(f);
    return t;
}

int64_t countIn(const std::string& path) {
    auto store = history::HistoryStore::open(path);
    EXPECT_TRUE(store.ok());
    if (!store)
        return -1;
    auto n = store.value().transferCount();
    return n ? n.value() : -1;
}

} // namespace

TEST(TransferRecorder, WritesAndTellsAProblemOnlyOnce) {
    TempFolder folder;
    const std::string good = folder.path() + "/a/history.sqlite";
    TransferRecorder recorder(good);
    EXPECT_EQ(recorder.record(someTransfer(1)), std::nullopt);
    EXPECT_EQ(recorder.record(someTransfer(2)), std::nullopt);
    EXPECT_EQ(countIn(good), 2);

    // Its folder cannot be made: a file stands where it should be.
    std::ofstream(folder.path() + "/blocked") << "x";
    TransferRecorder failing(folder.path() + "/blocked/history.sqlite");
    const auto first = failing.record(someTransfer(1));
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->failed);
    EXPECT_FALSE(first->detail.empty());
    EXPECT_EQ(failing.record(someTransfer(2)), std::nullopt);
    EXPECT_EQ(failing.record(someTransfer(3)), std::nullopt);

    // Once the folder can be made, recording resumes without a word.
    fs::remove(folder.path() + "/blocked");
    EXPECT_EQ(failing.record(someTransfer(4)), std::nullopt);
    EXPECT_EQ(countIn(folder.path() + "/blocked/history.sqlite"), 1);
}

TEST(TransferRecorder, ACorruptHistoryIsANoticeAndTheTransferIsStillRecorded) {
    TempFolder folder;
    const std::string path = folder.path() + "/history.sqlite";
    std::ofstream(path) << std::string(4096, 'q');
    TransferRecorder recorder(path);
    const auto notice = recorder.record(someTransfer(1));
    ASSERT_TRUE(notice.has_value());
    EXPECT_FALSE(notice->failed);
    EXPECT_NE(notice->detail.find("moved"), std::string::npos) << notice->detail;
    EXPECT_EQ(recorder.record(someTransfer(2)), std::nullopt);
    EXPECT_EQ(countIn(path), 2);
}

TEST(TransferRecorder, OffSwitchRecordsNothing) {
    TempFolder folder;
    const std::string path = folder.path() + "/history.sqlite";
    ::setenv("ZAPFER_HISTORY", "off", 1);
    TransferRecorder recorder(path);
    ::unsetenv("ZAPFER_HISTORY");
    EXPECT_FALSE(recorder.enabled());
    EXPECT_EQ(recorder.record(someTransfer(1)), std::nullopt);
    EXPECT_FALSE(fs::exists(path));
}

TEST(BackgroundRecorder, WritesEverythingHandedOverAndTellsOnItsThreadOnce) {
    TempFolder folder;
    const std::string path = folder.path() + "/history.sqlite";
    std::mutex mutex;
    std::vector<HistoryProblem> told;
    {
        BackgroundRecorder recorder(TransferRecorder(path), [&](const HistoryProblem& p) {
            std::lock_guard lock(mutex);
            told.push_back(p);
        });
        for (int i = 0; i < 20; ++i)
            recorder.record(someTransfer(i));
        EXPECT_TRUE(recorder.waitIdle(30000));
    }
    EXPECT_EQ(countIn(path), 20);
    EXPECT_TRUE(told.empty());

    // Still waiting when the recorder is destroyed: each is tried all the same,
    // and the problem told once.
    const std::string blocked = folder.path() + "/blocked";
    std::ofstream(blocked) << "x";
    {
        BackgroundRecorder recorder(TransferRecorder(blocked + "/history.sqlite"),
                                    [&](const HistoryProblem& p) {
                                        std::lock_guard lock(mutex);
                                        told.push_back(p);
                                    });
        for (int i = 0; i < 5; ++i)
            recorder.record(someTransfer(i));
    }
    std::lock_guard lock(mutex);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].failed);
}

// Opened ahead of the transfer: the open's notice and failure are still told
// once, by the write that follows, and a failed open is tried again there.
TEST(TransferRecorder, OpenedAheadItTellsWhatTheOpenFoundAtTheFirstWrite) {
    TempFolder folder;
    const std::string corrupt = folder.path() + "/corrupt.sqlite";
    std::ofstream(corrupt) << std::string(4096, 'q');
    TransferRecorder ahead(corrupt);
    ahead.prepare();
    EXPECT_TRUE(fs::exists(corrupt)) << "a new, sound history is in its place";
    const auto notice = ahead.record(someTransfer(1));
    ASSERT_TRUE(notice.has_value());
    EXPECT_FALSE(notice->failed);
    EXPECT_NE(notice->detail.find("moved"), std::string::npos) << notice->detail;
    EXPECT_EQ(ahead.record(someTransfer(2)), std::nullopt);
    EXPECT_EQ(countIn(corrupt), 2);

    const std::string blocked = folder.path() + "/blocked";
    std::ofstream(blocked) << "x";
    TransferRecorder failing(blocked + "/history.sqlite");
    failing.prepare();
    const auto failed = failing.record(someTransfer(1));
    ASSERT_TRUE(failed.has_value());
    EXPECT_TRUE(failed->failed);
    fs::remove(blocked);
    EXPECT_EQ(failing.record(someTransfer(2)), std::nullopt);
    EXPECT_EQ(countIn(blocked + "/history.sqlite"), 1);

    ::setenv("ZAPFER_HISTORY", "off", 1);
    TransferRecorder off(folder.path() + "/off.sqlite");
    ::unsetenv("ZAPFER_HISTORY");
    off.prepare();
    EXPECT_FALSE(fs::exists(folder.path() + "/off.sqlite"));
}

// Told how many files the transfer sends, the recorder parses their write
// ahead; the write then keeps each of them, in order, with its checksum.
// A failing open ahead is still told once, by the write.
TEST(TransferRecorder, PreparedForItsFilesItWritesThemAll) {
    TempFolder folder;
    const std::string path = folder.path() + "/history.sqlite";
    TransferRecorder recorder(path);
    recorder.prepare(23);
    RecordedTransfer many = someTransfer(0);
    many.files.clear();
    for (int i = 0; i < 23; ++i)
        many.files.push_back(someTransfer(i).files.front());
    EXPECT_EQ(recorder.record(many), std::nullopt);
    auto store = history::HistoryStore::open(path);
    ASSERT_TRUE(store) << store.error().text;
    auto recent = store.value().recentTransfers(-1);
    ASSERT_TRUE(recent);
    ASSERT_EQ(recent.value().size(), 1u);
    auto files = store.value().filesOf(recent.value()[0].id);
    ASSERT_TRUE(files);
    ASSERT_EQ(files.value().size(), 23u);
    for (int i = 0; i < 23; ++i) {
        EXPECT_EQ(files.value()[std::size_t(i)].nameSent, "/f" + std::to_string(i));
        EXPECT_EQ(files.value()[std::size_t(i)].crc32, uint32_t(i));
    }

    const std::string blocked = folder.path() + "/blocked";
    std::ofstream(blocked) << "x";
    TransferRecorder failing(blocked + "/history.sqlite");
    failing.prepare(23);
    const auto failed = failing.record(many);
    ASSERT_TRUE(failed.has_value());
    EXPECT_TRUE(failed->failed);
    EXPECT_EQ(failing.record(many), std::nullopt);
}
