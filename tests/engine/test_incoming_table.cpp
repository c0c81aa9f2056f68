// A file table checked against the policy and a real destination folder,
// and the files of an accepted table kept or refused at their close, with
// no link in between.

#include "engine_harness.h"
#include "incoming_table.h"
#include "protocol.h"
#include "sender_common.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class Recorder : public SessionObserver, public ReplySink {
public:
    ReceivePolicy policy() override { return thePolicy; }
    void incoming() override {}
    void fileStarted(const std::string&) override {}
    void fileEnded(const FileOutcome& file) override { ended.push_back(file); }
    void closeStatus() override {}
    void sound(Sound) override {}
    void abortTransfer() override {}
    void transferComplete() override {}
    void linkRequested() override {}
    void receiveEnded(const ReceiveOutcome&) override {}
    void tableRefused(const RefusedTable& table) override { refused = table; }
    void reply(std::span<const uint8_t>) override {}

    ReceivePolicy thePolicy;
    std::vector<FileOutcome> ended;
    std::optional<RefusedTable> refused;
};

struct Entry {
    std::string name;
    int64_t size;
};

std::vector<uint8_t> entriesOf(const std::vector<Entry>& entries) {
    std::vector<uint8_t> bytes;
    for (const Entry& entry : entries) {
        EntryBytes encoded{};
        EXPECT_EQ(EncodeTransferEntry(entry.name, entry.size, encoded), EntryError::None);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    return bytes;
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string textOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Desk {
    explicit Desk(NameConflict conflict, bool peerAccepted = true) {
        recorder.thePolicy = {dest.path().string(), conflict, "Desk", peerAccepted};
    }
    uint8_t check(const std::vector<Entry>& entries) {
        table.begin(uint8_t(entries.size()));
        return table.check(entriesOf(entries));
    }
    // Receives entry `index` whole with `text` as its bytes.
    std::unique_ptr<ReceivedFile> receive(uint8_t index, const std::string& text) {
        const FileOutcome* entry = table.entry(index);
        if (!entry)
            return nullptr;
        auto file = ReceivedFile::create(table.destDir(), entry->nameAsStored, entry->size, 1);
        if (file)
            file->storeBlock(0, 0, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        return file;
    }

    TempDir dest;
    Recorder recorder;
    TransferCounters counters;
    ReceiveContext context{LinkTraits{}, counters, recorder, recorder};
    IncomingTable table{context};
};

} // namespace

TEST(IncomingTable, APeerNotAcceptedIsRefusedBeforeTheFolderIsLookedAt) {
    Desk desk(NameConflict::Refuse, false);
    std::filesystem::create_directory(desk.dest / "taken");
    // A folder of an entry's name would be a name conflict, had the folder
    // been looked at.
    EXPECT_EQ(desk.check({{"C:\\out\\taken", 10}, {"C:\\out\\free.txt", 32}}), CMD_CANNOT_CREATE);
    EXPECT_TRUE(desk.table.peerRefused());
    EXPECT_EQ(desk.table.destDir(), -1);

    desk.table.refuse(CMD_CANNOT_CREATE);
    ASSERT_TRUE(desk.recorder.refused);
    const RefusedTable& refused = *desk.recorder.refused;
    EXPECT_TRUE(refused.peerNotAccepted);
    EXPECT_EQ(refused.refusal, PeerCannotCreate);
    EXPECT_EQ(refused.fileCount, 2);
    EXPECT_EQ(refused.totalBytes, 42);
    ASSERT_EQ(refused.files.size(), 2u);
    for (const FileOutcome& file : refused.files)
        EXPECT_EQ(file.result, FileResult::Refused) << file.nameAsSent;
    EXPECT_FALSE(desk.table.accepted());
    EXPECT_EQ(desk.table.entry(0), nullptr) << "a refused table has no entries to open";
}

TEST(IncomingTable, NamesTakenInTheFolderAreCheckedAsThePolicySays) {
    for (const NameConflict conflict :
         {NameConflict::Refuse, NameConflict::Replace, NameConflict::KeepBoth}) {
        SCOPED_TRACE(int(conflict));
        {
            Desk desk(conflict);
            std::filesystem::create_directory(desk.dest / "report.txt");
            // A folder is never replaced: only keeping both can take the file.
            EXPECT_EQ(desk.check({{"report.txt", 5}}),
                      conflict == NameConflict::KeepBoth ? CMD_OK : CMD_NAME_CONFLICT);
        }
        {
            Desk desk(conflict);
            writeText(desk.dest / "report.txt", "older");
            EXPECT_EQ(desk.check({{"report.txt", 5}}),
                      conflict == NameConflict::Refuse ? CMD_NAME_CONFLICT : CMD_OK);
            EXPECT_FALSE(desk.table.peerRefused());
        }
        // Links are names of their own, never followed: a dangling one is
        // taken, and one to a folder is no folder. Every entry is looked at,
        // not only the first.
        for (const char* name : {"dangling", "to-folder"}) {
            SCOPED_TRACE(name);
            Desk desk(conflict);
            std::filesystem::create_directory(desk.dest / "folder");
            std::filesystem::create_directory_symlink(desk.dest / "folder",
                                                      desk.dest / "to-folder");
            std::filesystem::create_symlink(desk.dest / "gone", desk.dest / "dangling");
            EXPECT_EQ(desk.check({{"free.txt", 5}, {name, 5}}),
                      conflict == NameConflict::Refuse ? CMD_NAME_CONFLICT : CMD_OK);
        }
        {
            Desk desk(conflict);
            std::filesystem::create_directory(desk.dest / "folder");
            EXPECT_EQ(desk.check({{"free.txt", 5}, {"folder", 5}}),
                      conflict == NameConflict::KeepBoth ? CMD_OK : CMD_NAME_CONFLICT);
        }
    }
    Desk desk(NameConflict::Refuse);
    EXPECT_EQ(desk.check({{"fine.txt", 5}, {"report\xE2\x80\xAEtxt.exe", 5}}), CMD_CANNOT_CREATE)
        << "a name that shows other than it is";
    EXPECT_EQ(desk.table.destDir(), -1) << "refused before the folder is opened";
}

TEST(IncomingTable, TheLaterOfTwoEntriesOfOneNameWinsButAStrangersFileStays) {
    Desk desk(NameConflict::Refuse);
    ASSERT_EQ(desk.check({{"twice.txt", 5}, {"twice.txt", 5}, {"raced.txt", 5}}), CMD_OK);
    EXPECT_EQ(desk.table.entry(0), nullptr) << "entries open only once the table is accepted";
    desk.table.accept();
    ASSERT_NE(desk.table.entry(2), nullptr);
    EXPECT_EQ(desk.table.entry(3), nullptr);

    WholeFileCrc crc(1);
    for (uint8_t index : {0, 1}) {
        auto file = desk.receive(index, index == 0 ? "first" : "later");
        ASSERT_TRUE(file);
        EXPECT_TRUE(desk.table.keep(*file)) << int(index);
        desk.table.fileEnded(index, true, *file, crc, 5);
    }
    EXPECT_EQ(textOf(desk.dest / "twice.txt"), "later");
    EXPECT_EQ(desk.counters.FilesDone, 2);

    // Another program takes the name while the file is under way.
    auto raced = desk.receive(2, "mine!");
    ASSERT_TRUE(raced);
    writeText(desk.dest / "raced.txt", "yours");
    EXPECT_FALSE(desk.table.keep(*raced));
    desk.table.fileEnded(2, false, *raced, crc, 3);
    EXPECT_EQ(textOf(desk.dest / "raced.txt"), "yours");
    EXPECT_EQ(desk.counters.FilesDone, 2);

    ASSERT_EQ(desk.recorder.ended.size(), 3u);
    EXPECT_EQ(desk.recorder.ended[1].result, FileResult::Stored);
    EXPECT_EQ(desk.recorder.ended[1].bytesDone, 5);
    EXPECT_EQ(desk.recorder.ended[2].result, FileResult::Failed);
    EXPECT_EQ(desk.recorder.ended[2].bytesDone, 3);

    desk.counters.TransferFileCount = 3;
    desk.counters.TransferIndex = 2;
    const ReceiveOutcome outcome = desk.table.finish(false, 3);
    EXPECT_FALSE(desk.table.accepted());
    EXPECT_EQ(desk.table.destDir(), -1);
    EXPECT_EQ(outcome.filesDone, 2);
    ASSERT_EQ(outcome.files.size(), 3u);
    EXPECT_EQ(outcome.files[0].result, FileResult::Stored);
    EXPECT_EQ(outcome.files[2].result, FileResult::Failed);
}
